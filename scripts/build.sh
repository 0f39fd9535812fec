#!/usr/bin/env bash
# Builds pixmorf and installs it into .venv (incremental: the CMake build
# directory under build/ is kept between runs).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
"$ROOT/.venv/bin/python" -m pip install -q --no-build-isolation "$ROOT"
