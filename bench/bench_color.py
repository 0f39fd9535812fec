#!/usr/bin/env python3
"""Colour-mode conversion speed and peak memory.

Each case runs in a child process, so that its peak resident size is its own:
the C++ tool `color_timing` (built with the tests, in build/*/), which times
the conversion alone, or with --python the installed module, timed around
convert_raw_image_to_svg (decoding included).

    python bench/bench_color.py [--tool build/tests/color_timing] [--python] [--quick] [--repeat N]

Every case runs N times (default 3). Columns: picture, path mode, hierarchy,
megapixels, the best and the median wall seconds, the CPU seconds of the best
run (tracing and formatting use a second core, so CPU exceeds wall),
megapixels per wall second of the best run, peak MB, shapes. Then the growth
of the time when the picture is enlarged twice in each direction (4x
pixels), and a 5000 x 5000 white picture.
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile

IMAGES = "/work/shared/images"
PICTURES = ["photo-1080p.png", "illustration-fastfood.png", "photo-4000x3000.jpg"]


def run_child(argv):
    """Runs argv and returns (stdout, peak MB of that child)."""
    # ru_maxrss of RUSAGE_CHILDREN is the largest child so far; a wrapper
    # process per case keeps the figure per case.
    wrapper = [sys.executable, "-c",
               "import resource,subprocess,sys;"
               "r=subprocess.run(sys.argv[1:],capture_output=True,text=True);"
               "sys.stderr.write(r.stderr);"
               "print(r.stdout.strip());"
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss);"
               "sys.exit(r.returncode)"] + argv
    result = subprocess.run(wrapper, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} failed: {result.stderr.strip()}")
    lines = result.stdout.strip().splitlines()
    return lines[0], int(lines[1]) / 1024.0


def raw_file(directory, name):
    from PIL import Image
    path = os.path.join(directory, name + ".raw")
    if not os.path.exists(path):
        image = Image.open(os.path.join(IMAGES, name)).convert("RGBA")
        with open(path, "wb") as out:
            out.write(f"{image.width} {image.height}\n".encode())
            out.write(image.tobytes())
    return path


PYTHON_CASE = """
import sys, time, pixmorf
from PIL import Image
path, mode, hierarchy, scale = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
data = open(path, 'rb').read()
if scale > 1:
    import io
    image = Image.open(io.BytesIO(data)).convert('RGBA')
    image = image.resize((image.width * scale, image.height * scale), Image.NEAREST)
    buffer = io.BytesIO(); image.save(buffer, 'PNG'); data = buffer.getvalue()
width, height = Image.open(path).size
start = time.perf_counter()
cpu_start = time.process_time()
svg = pixmorf.convert_raw_image_to_svg(data, img_format=path.rsplit('.', 1)[1], colormode='color',
                                       hierarchical=hierarchy, mode=mode)
seconds = time.perf_counter() - start
print(f"{seconds:.4f} {time.process_time() - cpu_start:.4f} {svg.count('<path')} {width * scale} {height * scale} -")
"""


def measure(args, workdir, name, mode, hierarchy, scale=1):
    """The best of args.repeat runs, and the median wall time."""
    runs = sorted(measure_once(args, workdir, name, mode, hierarchy, scale) for _ in range(args.repeat))
    return runs[0], runs[len(runs) // 2][0]


def measure_once(args, workdir, name, mode, hierarchy, scale):
    if args.python:
        source = name if name.startswith("white:") else os.path.join(IMAGES, name)
        line, peak = run_child([sys.executable, "-c", PYTHON_CASE, source, mode, hierarchy, str(scale)])
    else:
        source = name if name.startswith("white:") else "raw:" + raw_file(workdir, name)
        line, peak = run_child([args.tool, source, mode, hierarchy, str(scale)])
    seconds, cpu, shapes, width, height, fill = line.split()[:6]
    return float(seconds), float(cpu), int(shapes), int(width) * int(height), peak, fill


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", default="build/tests/color_timing")
    parser.add_argument("--python", action="store_true", help="time the installed module instead")
    parser.add_argument("--quick", action="store_true", help="only the 1080p photo")
    parser.add_argument("--repeat", type=int, default=3, help="runs per case (best and median reported)")
    args = parser.parse_args()
    pictures = PICTURES[:1] if args.quick else PICTURES

    with tempfile.TemporaryDirectory() as workdir:
        print(f"{'picture':28} {'mode':8} {'hierarchy':9} {'MP':>6} {'best s':>7} {'median':>7} {'cpu s':>7} "
              f"{'MP/s':>6} {'peak MB':>8} {'shapes':>7}")
        for name in pictures:
            for mode in ("polygon", "none"):
                for hierarchy in ("stacked", "cutout"):
                    (seconds, cpu, shapes, pixels, peak, _), median = measure(args, workdir, name, mode, hierarchy)
                    mp = pixels / 1e6
                    print(f"{name:28} {mode:8} {hierarchy:9} {mp:6.2f} {seconds:7.3f} {median:7.3f} {cpu:7.3f} "
                          f"{mp / seconds:6.2f} {peak:8.0f} {shapes:7d}")
        print()
        for name in pictures[:2]:
            (base, base_cpu, _, _, _, _), _ = measure(args, workdir, name, "polygon", "stacked")
            (grown, grown_cpu, _, _, peak, _), _ = measure(args, workdir, name, "polygon", "stacked", scale=2)
            print(f"growth {name}: 4x pixels -> {grown / base:.2f}x wall time, {grown_cpu / base_cpu:.2f}x CPU time "
                  f"(peak {peak:.0f} MB)")
        if not args.python:
            (seconds, _, shapes, _, peak, fill), _ = measure(args, workdir, "white:5000x5000", "polygon", "stacked")
            print(f"white 5000x5000: {seconds:.3f} s, {shapes} shape(s) filled {fill}, peak {peak:.0f} MB")


if __name__ == "__main__":
    main()
