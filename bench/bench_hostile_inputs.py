#!/usr/bin/env python3
"""What small hostile requests cost: time and peak memory of single calls
that a stranger could send to a service built on pixmorf.

    python bench/bench_hostile_inputs.py [--skip-bomb]

Each case runs in a fresh interpreter (the installed module, or PYTHONPATH)
and reports the input's size, the outcome, the wall time and the growth of
peak resident memory during the call (resource.getrusage). Cases:

- a tiny file of every decodable format declaring the largest picture the
  decoders accept (11,585 x 11,585), with its pixel data cut short: what
  the decoder touches before it notices;
- a 38-byte lossless WebP whose header is enlarged to that size: libwebp
  decodes it completely (one colour), so the conversion runs over 134
  million pixels (--skip-bomb leaves this out; it takes minutes);
- lossless WebP checkerboards of one-pixel squares (a few hundred bytes):
  every pixel is a cluster of its own, the most memory per pixel colour
  mode can take; from two sizes the cost per pixel is estimated for the
  largest accepted picture;
- a 16 x 16 disc with a huge max_iterations and a tiny length_threshold:
  smoothing runs until its point budget stops it with MemoryError.
"""

import argparse
import json
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import test_limits  # noqa: E402  (the hand-made headers of the limit tests)

LARGEST_ACCEPTED = 11585

RUNNER = r"""
import json, resource, sys, time
import pixmorf
data = open(sys.argv[1], "rb").read() if sys.argv[1] != "-" else None
call = sys.argv[2]
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
try:
    if call == "smoothing":
        pixels = [(0, 0, 0, 255) if (x - 8) ** 2 + (y - 8) ** 2 < 40 else (255, 255, 255, 255)
                  for y in range(16) for x in range(16)]
        pixmorf.convert_pixels_to_svg(pixels, (16, 16), colormode="binary", max_iterations=2**64 - 1,
                                      length_threshold=1e-300)
    elif call == "checkerboard":
        pixmorf.convert_raw_image_to_svg(data, mode="none")
    elif call == "bomb":
        pixmorf.convert_raw_image_to_svg(data)  # colour mode, every option at its default
    else:
        pixmorf.convert_raw_image_to_svg(data, call, colormode="binary", mode="none")
    outcome = "converted"
except BaseException as error:
    outcome = f"{type(error).__name__}: {str(error)[:40]}"
elapsed = time.perf_counter() - start
growth = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base) // 1024
print(json.dumps([outcome, elapsed, growth]))
"""


def run(path, call, timeout):
    completed = subprocess.run([sys.executable, "-c", RUNNER, str(path), call], capture_output=True, text=True,
                               timeout=timeout)
    if completed.returncode != 0:
        return [f"process ended with status {completed.returncode}", 0.0, 0]
    return json.loads(completed.stdout.strip().splitlines()[-1])


def report(label, size, result):
    outcome, elapsed, growth = result
    print(f"{label:34} {size:6d} B  {elapsed:8.2f} s  {growth:6d} MiB  {outcome}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--skip-bomb", action="store_true")
    arguments = parser.parse_args()
    work = Path("/tmp") / "pixmorf-hostile-inputs"
    work.mkdir(exist_ok=True)
    print(f"{'case':34} {'input':>8}  {'wall':>10}  {'peak RSS':>10}  outcome")
    for kind, (format_name, build, largest_side) in test_limits.DECLARED_SIZES.items():
        side = min(LARGEST_ACCEPTED, largest_side)
        path = work / f"{kind}.{format_name}"
        path.write_bytes(build(side, side))
        report(f"{kind} declaring {side}x{side}", path.stat().st_size, run(path, format_name, 600))
    if not arguments.skip_bomb:
        path = work / "bomb.webp"
        path.write_bytes(test_limits.webp(LARGEST_ACCEPTED, LARGEST_ACCEPTED))
        report("webp bomb, default options", path.stat().st_size, run(path, "bomb", 3600))
    per_pixel = []
    for side in (512, 1024):
        path = work / f"checkerboard-{side}.webp"
        path.write_bytes(checkerboard_webp(side))
        result = run(path, "checkerboard", 600)
        report(f"checkerboard {side}x{side}, colour", path.stat().st_size, result)
        per_pixel.append((side * side, result[1], result[2]))
    (small_pixels, small_time, small_memory), (large_pixels, large_time, large_memory) = per_pixel
    pixels = LARGEST_ACCEPTED**2
    scale = (pixels - large_pixels) / (large_pixels - small_pixels)
    print(f"  estimate at {LARGEST_ACCEPTED}x{LARGEST_ACCEPTED}: "
          f"{large_time + scale * (large_time - small_time):.0f} s, "
          f"{(large_memory + scale * (large_memory - small_memory)) / 1024:.0f} GiB")
    report("smoothing until the point budget", 0, run("-", "smoothing", 600))


def checkerboard_webp(side):
    import io

    from PIL import Image

    image = Image.new("1", (side, side))
    image.putdata([(x + y) % 2 for y in range(side) for x in range(side)])
    buffer = io.BytesIO()
    image.convert("RGB").save(buffer, "WEBP", lossless=True, method=0)
    return buffer.getvalue()


if __name__ == "__main__":
    main()
