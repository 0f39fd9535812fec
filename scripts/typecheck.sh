#!/usr/bin/env bash
# Checks the type stubs of the installed module: typed example calls pass
# `mypy --strict`, and stubtest finds no difference between the stubs and the
# module's real signatures.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/build.sh"
PYTHON="$ROOT/.venv/bin/python"
# Run outside the source tree, so that only the installed module and stubs are found.
cd "$ROOT/build"
"$PYTHON" -m mypy --strict --cache-dir "$ROOT/build/mypy-cache" "$ROOT/tests/typing/example_usage.py"
"$PYTHON" -m mypy.stubtest pixmorf
