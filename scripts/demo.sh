#!/usr/bin/env bash
# Converts a sample picture to SVG: scripts/demo.sh [input [output]].
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# The shared pictures lie beside the repository; a clone elsewhere on this
# machine finds them where the machine keeps them.
SAMPLE=$ROOT/../shared/images/sample.png
[ -f "$SAMPLE" ] || SAMPLE=/work/shared/images/sample.png
INPUT=${1:-$SAMPLE}
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
