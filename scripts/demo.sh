#!/usr/bin/env bash
# Converts a sample picture to SVG: scripts/demo.sh [input [output]].
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
INPUT=${1:-$ROOT/../shared/images/sample.png}
OUTPUT=${2:-$ROOT/sample.svg}
"$ROOT/scripts/build.sh"
"$ROOT/.venv/bin/python" - "$INPUT" "$OUTPUT" <<'PY'
import sys, time
import pixmorf
source, target = sys.argv[1], sys.argv[2]
start = time.perf_counter()
pixmorf.convert_image_to_svg_py(source, target)
print(f"{source} -> {target} in {time.perf_counter() - start:.3f} s")
PY
