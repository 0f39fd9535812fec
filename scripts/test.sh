#!/usr/bin/env bash
# Runs every test: the C++ unit tests and the Python tests against the
# installed module. Sets up and builds first.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/build.sh"
PATH="$ROOT/.venv/bin:$PATH"
cmake -S "$ROOT" -B "$ROOT/build/tests" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPIXMORF_BUILD_TESTS=ON -DPIXMORF_BUILD_MODULE=OFF >/dev/null
cmake --build "$ROOT/build/tests"
"$ROOT/build/tests/pixmorf_cpp_tests" --gtest_brief=1
export PIXMORF_TEST_TOOLS="$ROOT/build/tests"
cd "$ROOT"
"$ROOT/.venv/bin/python" -m pytest -q "$@"
