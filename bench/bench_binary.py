#!/usr/bin/env python3
"""Binary mode speed and memory, side by side with potrace on the same bitmaps.

    python bench/bench_binary.py [--repeat N] [--tool PATH/binary_convert] [--instructions]

Every picture is thresholded the way binary mode does it (red below 128 is
black) and written as PBM. pixmorf converts it with the test tool
binary_convert (built with the tests; found through PIXMORF_TEST_TOOLS, else
build/tests or build/dev), in path modes none and polygon; when the installed
module can read PBM files, the Python entry convert_image_to_svg_py is timed
too. potrace runs with its default backend and with -s (SVG).

Times are CPU seconds (user + system), the best of --repeat runs (one run
for anything slower than two seconds): the machine is shared, and CPU time
suffers less from other load than wall time. For pixmorf they cover the
conversion and the SVG text, not the reading of the input; for potrace the
whole process. Peak resident memory is taken with resource.getrusage in a
subprocess, from one run each.

The growth check converts each picture tiled two by two (four times the
pixels, the same content) and compares the times, also for the conversion
without the SVG text. With --instructions it also counts the instructions
of pixmorf's conversion and SVG text under valgrind (slow, but independent
of the load on the machine).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

ROOT = Path(__file__).resolve().parents[1]
IMAGES = ROOT.parent / "shared" / "images"

# Runs a command in a fresh interpreter and reports its wall time, peak
# memory and exit status, then the command's own output.
MEASURE = """
import resource, subprocess, sys, time
started = time.perf_counter()
run = subprocess.run(sys.argv[1:], capture_output=True)
elapsed = time.perf_counter() - started
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, run.returncode)
sys.stdout.write(run.stdout.decode())
"""

# Times the Python entry inside one process; its peak memory is the process's.
PYTHON_ENTRY = """
import resource, sys, time
import pixmorf
started = time.process_time()
try:
    pixmorf.convert_image_to_svg_py(sys.argv[1], sys.argv[2], colormode="binary", mode=sys.argv[3])
    status = "ok"
except BaseException as failure:
    status = str(failure).replace(" ", "_") or "failed"
print(time.process_time() - started, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, status)
"""


def thresholded(name):
    picture = Image.open(IMAGES / name).convert("RGB")
    return picture.getchannel("R").point(lambda v: 0 if v < 128 else 255).convert("1")


PICTURES = {
    "scan-4000x4000": lambda: thresholded("scan-4000x4000.png"),
    "photo-1080p": lambda: thresholded("photo-1080p.png"),
    "hatch-2000": lambda: Image.open(IMAGES / "hatch-2000.png").convert("1"),
}


def tiled(picture):
    """Four copies of the picture, two by two: four times the pixels, the same content."""
    tiles = Image.new("1", (2 * picture.width, 2 * picture.height))
    for x in (0, picture.width):
        for y in (0, picture.height):
            tiles.paste(picture, (x, y))
    return tiles


def measure(command):
    """Wall seconds, CPU seconds, peak KiB, exit status and output lines of one process."""
    out = subprocess.run([sys.executable, "-c", MEASURE, *command], capture_output=True, text=True, check=True)
    lines = out.stdout.splitlines()
    wall, cpu, peak_kib, status = lines[0].split()
    return float(wall), float(cpu), int(peak_kib), int(status), lines[1:]


def best_of(repeat, run):
    results = [run()]
    while len(results) < repeat and results[-1]["seconds"] < 2.0:
        results.append(run())
    return min(results, key=lambda r: r["seconds"])


def pixmorf_tool(tool, pbm, svg, mode, repeat):
    """Memory and process time from one run, conversion time the best of `repeat` in one process."""
    wall, _, peak, status, output = measure([str(tool), str(pbm), str(svg), mode, "4", "1"])
    if status == 3:
        return {"seconds": 0.0, "process": wall, "peak": peak, "failure": output[0]}
    if status != 0:
        raise RuntimeError(f"binary_convert failed on {pbm}: {status}")
    _, cpu, convert_cpu, _ = output[0].split()
    if repeat > 1 and float(cpu) < 2.0:
        _, _, _, _, output = measure([str(tool), str(pbm), str(svg), mode, "4", str(repeat)])
        _, cpu, convert_cpu, _ = output[0].split()
    return {"seconds": float(cpu), "conversion": float(convert_cpu), "process": wall, "peak": peak, "failure": None}


def pixmorf_python(pbm, svg, mode):
    out = subprocess.run([sys.executable, "-c", PYTHON_ENTRY, str(pbm), str(svg), mode],
                         capture_output=True, text=True, check=True)
    seconds, peak, status = out.stdout.split()
    return {"seconds": float(seconds), "process": float(seconds), "peak": int(peak),
            "failure": None if status == "ok" else status.replace("_", " ")}


def potrace(pbm, out, svg):
    command = ["potrace", *(["-s"] if svg else []), "-o", str(out), str(pbm)]
    wall, cpu, peak, status, _ = measure(command)
    if status != 0:
        raise RuntimeError(f"potrace failed on {pbm}")
    return {"seconds": cpu, "process": wall, "peak": peak, "failure": None}


def instructions(tool, pbm, svg, mode):
    """Instructions executed in the conversion and the SVG text, counted by callgrind."""
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                          "--toggle-collect=pixmorf::convert_image*", "--toggle-collect=pixmorf::render_svg_to_string*",
                          str(tool), str(pbm), str(svg), mode], capture_output=True, text=True)
    counted = re.search(r"Collected : (\d+)", run.stderr)
    return int(counted.group(1)) if counted else None


def python_reads_pbm(directory):
    try:
        import pixmorf
    except ImportError:
        return False
    probe = directory / "probe.pbm"
    Image.new("1", (2, 2), 0).save(probe)
    # In a subprocess: a failure also writes a diagnostic to standard error.
    run = subprocess.run([sys.executable, "-c", PYTHON_ENTRY, str(probe), str(directory / "probe.svg"), "none"],
                         capture_output=True, text=True)
    return run.returncode == 0 and run.stdout.split()[-1:] == ["ok"]


def find_tool(given):
    candidates = [Path(given)] if given else []
    if os.environ.get("PIXMORF_TEST_TOOLS"):
        candidates.append(Path(os.environ["PIXMORF_TEST_TOOLS"]) / "binary_convert")
    candidates += [ROOT / "build" / "tests" / "binary_convert", ROOT / "build" / "dev" / "binary_convert"]
    for candidate in candidates:
        if candidate.is_file():
            return candidate
    sys.exit("binary_convert not found: build the tests (scripts/test.sh) or pass --tool")


def cell(result, megapixels):
    if result["failure"]:
        return f'fails: "{result["failure"]}"'
    return f'{result["seconds"]:.3f} s ({megapixels / result["seconds"]:.0f} Mpx/s)'


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--tool")
    parser.add_argument("--instructions", action="store_true", help="also count instructions for the growth check")
    args = parser.parse_args()
    tool = find_tool(args.tool)

    with tempfile.TemporaryDirectory() as temp:
        directory = Path(temp)
        with_python = python_reads_pbm(directory)
        runners = {
            "pixmorf none": lambda pbm, out: pixmorf_tool(tool, pbm, out, "none", args.repeat),
            "pixmorf polygon": lambda pbm, out: pixmorf_tool(tool, pbm, out, "polygon", args.repeat),
        }
        if with_python:
            runners["pixmorf.convert_image_to_svg_py none"] = lambda pbm, out: pixmorf_python(pbm, out, "none")
        runners["potrace"] = lambda pbm, out: potrace(pbm, out, svg=False)
        runners["potrace -s"] = lambda pbm, out: potrace(pbm, out, svg=True)

        rows = []
        growth = []
        for name, make in PICTURES.items():
            picture = make()
            pbm = directory / f"{name}.pbm"
            picture.save(pbm)
            megapixels = picture.width * picture.height / 1e6
            results = {}
            for label, run in runners.items():
                if label.startswith("pixmorf "):  # repeats inside its process
                    results[label] = run(pbm, directory / "out")
                else:
                    results[label] = best_of(args.repeat, lambda r=run: r(pbm, directory / "out"))
            rows.append((name, picture.size, megapixels, results))

            large = tiled(picture)
            large_pbm = directory / f"{name}-tiled.pbm"
            large.save(large_pbm)
            for mode in ("none", "polygon"):
                single = results[f"pixmorf {mode}"]
                four = pixmorf_tool(tool, large_pbm, directory / "out", mode, args.repeat)
                counts = None
                if args.instructions:
                    counts = (instructions(tool, pbm, directory / "out", mode),
                              instructions(tool, large_pbm, directory / "out", mode))
                growth.append((name, mode, large.size, single, four, counts))

    labels = list(runners)
    print("CPU seconds and megapixels per CPU second (pixmorf: conversion and SVG text; potrace: whole process)\n")
    print("| picture | size | " + " | ".join(labels) + " |")
    print("|---|---|" + "---|" * len(labels))
    for name, size, megapixels, results in rows:
        print(f"| {name} | {size[0]}x{size[1]} | " + " | ".join(cell(results[l], megapixels) for l in labels) + " |")

    print("\nPeak resident memory in MiB (whole process; for the tool including its RGBA input) "
          "and wall time of one whole tool process\n")
    print("| picture | " + " | ".join(labels) + " | pixmorf none process | pixmorf polygon process |")
    print("|---|" + "---|" * (len(labels) + 2))
    for name, _, _, results in rows:
        peaks = " | ".join(f'{results[l]["peak"] / 1024:.0f}' for l in labels)
        print(f"| {name} | {peaks} | {results['pixmorf none']['process']:.3f} s | "
              f"{results['pixmorf polygon']['process']:.3f} s |")

    print("\nCPU time growth for four times the pixels: the picture tiled two by two (limit 4.5x)\n")
    print("| picture | mode | tiled size | picture | tiled | ratio | without SVG text | instruction ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for name, mode, size, single, four, counts in growth:
        if single["failure"] or four["failure"]:
            print(f"| {name} | {mode} | {size[0]}x{size[1]} | - | - | fails | - | - |")
            continue
        ratio = four["seconds"] / single["seconds"]
        conversion = four["conversion"] / single["conversion"]
        counted = f"{counts[1] / counts[0]:.2f}x" if counts and all(counts) else "-"
        print(f"| {name} | {mode} | {size[0]}x{size[1]} | {single['seconds']:.3f} s | {four['seconds']:.3f} s | "
              f"{ratio:.2f}x{'' if ratio <= 4.5 else ' (over the limit)'} | {conversion:.2f}x | {counted} |")

    failing = sorted({name for name, _, _, results in rows for l in labels if results[l]["failure"]})
    print("\nPictures that stop with \"overflow\": " + (", ".join(failing) if failing else "none of these"))


if __name__ == "__main__":
    main()
