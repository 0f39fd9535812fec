"""Spline-mode benchmark: time and peak memory of the default call on large
pictures, binary spline tracing beside potrace on the same thresholded
bitmaps, growth of the time with the picture's area, and fidelity of the
spline rendering (with rsvg-convert).

Each conversion runs in a child process of its own, so that its peak resident
size is measured alone. Keep it short on a shared machine:

    .venv/bin/python bench/bench_spline.py              # everything
    .venv/bin/python bench/bench_spline.py --only time  # one section
"""

import argparse
import io
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from PIL import Image, ImageChops

ROOT = Path(__file__).resolve().parents[1]
DEFAULT_IMAGES = next(
    (d for d in (ROOT.parent / "shared" / "images", Path("/work/shared/images")) if d.is_dir()),
    ROOT.parent / "shared" / "images",
)

# Runs one conversion of a file's bytes and prints its time as JSON.
CHILD = """
import json, sys, time, pixmorf
data = open(sys.argv[1], "rb").read()
options = json.loads(sys.argv[2])
start = time.perf_counter()
svg = pixmorf.convert_raw_image_to_svg(data, **options)
elapsed = time.perf_counter() - start
print(json.dumps({"seconds": elapsed, "paths": svg.count("<path"), "bytes": len(svg)}))
"""


def run_measured(command):
    """Runs a command; returns (wall seconds, peak RSS in MB, stdout). The peak
    comes from /usr/bin/time, which reports the command's own high-water mark
    (a forked child's counter would start at the size of this process)."""
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        process = subprocess.run(
            ["/usr/bin/time", "-f", "%M", "-o", peak.name, *command], capture_output=True, text=True
        )
        elapsed = time.perf_counter() - start
        if process.returncode != 0:
            raise RuntimeError(f"{command[0]} failed: {process.stderr[-500:]}")
        peak_kb = int(peak.read().split()[-1])
    return elapsed, peak_kb / 1024.0, process.stdout


def convert_in_child(path, **options):
    _, peak_mb, output = run_measured([sys.executable, "-c", CHILD, str(path), json.dumps(options)])
    result = json.loads(output)
    result["peak_mb"] = peak_mb
    return result


def threshold_pbm(source, target):
    """Black where the red channel is below 128, as a PBM for potrace."""
    red = Image.open(source).convert("RGB").getchannel("R")
    red.point(lambda v: 0 if v < 128 else 255).convert("1").save(target)


def potrace_time(pbm, svg_out):
    seconds, peak_mb, _ = run_measured(["potrace", "-s", "-o", str(svg_out), str(pbm)])
    return seconds, peak_mb


def section_time(images, work):
    print("== default call and binary spline (one child process per conversion)")
    print(f"{'picture':32} {'options':18} {'seconds':>8} {'peak MB':>8} {'paths':>8}")
    cases = [
        ("photo-1080p.png", {}),
        ("illustration-fastfood.png", {}),
        ("photo-4000x3000.jpg", {}),
        ("scan-4000x4000.png", {"colormode": "binary"}),
    ]
    for name, options in cases:
        path = images / name
        try:
            result = convert_in_child(path, **options)
        except RuntimeError as error:
            print(f"{name:32} {json.dumps(options):18} failed: {error}")
            continue
        print(
            f"{name:32} {json.dumps(options):18} {result['seconds']:8.3f} {result['peak_mb']:8.1f}"
            f" {result['paths']:8d}"
        )
    if shutil.which("potrace") is None:
        print("potrace is not installed: no comparison")
        return
    print("== binary spline against potrace -s on the same thresholded PBM (decoding included on both sides)")
    for name in ("scan-4000x4000.png", "lineart-graphviz-unix.png", "illustration-fastfood.png"):
        pbm = work / (Path(name).stem + ".pbm")
        threshold_pbm(images / name, pbm)
        # Both read the same PBM; potrace's figure also holds its process start.
        ours = convert_in_child(pbm, colormode="binary")
        theirs, theirs_mb = potrace_time(pbm, work / "potrace.svg")
        print(
            f"{name:32} pixmorf {ours['seconds']:7.3f} s {ours['peak_mb']:7.1f} MB"
            f" | potrace {theirs:7.3f} s {theirs_mb:7.1f} MB | ratio {ours['seconds'] / theirs:5.2f}"
        )


def section_growth(images, work):
    print("== growth with area (same picture scaled; microseconds per pixel should stay flat)")
    for name, options, resample in (
        ("photo-1080p.png", {}, Image.LANCZOS),
        ("scan-4000x4000.png", {"colormode": "binary"}, Image.NEAREST),
    ):
        source = Image.open(images / name)
        for fraction in (0.25, 0.5, 1.0):
            scale = math.sqrt(fraction)
            size = (round(source.width * scale), round(source.height * scale))
            scaled = work / f"scaled-{fraction}.png"
            (source if fraction == 1.0 else source.resize(size, resample)).save(scaled)
            result = convert_in_child(scaled, **options)
            pixels = size[0] * size[1]
            print(
                f"{name:24} {size[0]:5d}x{size[1]:<5d} {result['seconds']:7.3f} s"
                f" {result['seconds'] / pixels * 1e6:7.3f} us/px {result['peak_mb']:7.1f} MB"
            )


def _render(svg, work):
    source = work / "render.svg"
    target = work / "render.png"
    source.write_text(svg)
    subprocess.run(["rsvg-convert", "-o", str(target), str(source)], check=True)
    return _on_white(Image.open(target))


def _on_white(image):
    image = image.convert("RGBA")
    return Image.alpha_composite(Image.new("RGBA", image.size, "white"), image).convert("RGB")


def _fraction_off(a, b):
    mask = None
    for channel in ImageChops.difference(a, b).split():
        off = channel.point(lambda v: 255 if v > 32 else 0)
        mask = off if mask is None else ImageChops.lighter(mask, off)
    return mask.histogram()[255] / (a.width * a.height)


def _psnr(a, b):
    histogram = ImageChops.difference(a, b).histogram()
    mse = sum(count * (v % 256) ** 2 for v, count in enumerate(histogram)) / (a.width * a.height * 3)
    return math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse)


def section_fidelity(images, work):
    import pixmorf

    if shutil.which("rsvg-convert") is None:
        print("rsvg-convert is not installed: no fidelity figures")
        return
    print("== fidelity: spline rendering against the input and against the 'none' rendering")
    print("   (polygon vs none: what simplification alone changes; semi-transparent pixels are drawn opaque)")
    print(f"{'picture':38} {'size':>9} {'PSNR dB':>8} {'>32 vs input':>13} {'>32 vs none':>12} {'polygon vs none':>16}")
    cases = [
        ("illustration-fastfood.png", 400, "color"),
        ("illustration-jukebox-alpha.png", 600, "color"),
        ("sample.png", None, "color"),
        ("icon-help-browser-128.png", None, "color"),
        ("icon-desktop-color-32.png", None, "color"),
        ("lineart-baseball-glove.png", 600, "binary"),
        ("lineart-graphviz-unix.png", 600, "binary"),
        ("photo-1080p.png", 480, "color"),
    ]
    for name, width, colormode in cases:
        image = Image.open(images / name)
        if width and image.width > width:
            image = image.resize((width, round(image.height * width / image.width)), Image.LANCZOS)
        buffer = io.BytesIO()
        image.save(buffer, format="PNG")
        data = buffer.getvalue()
        spline = _render(pixmorf.convert_raw_image_to_svg(data, colormode=colormode), work)
        exact = _render(pixmorf.convert_raw_image_to_svg(data, colormode=colormode, mode="none"), work)
        polygon = _render(pixmorf.convert_raw_image_to_svg(data, colormode=colormode, mode="polygon"), work)
        reference = _on_white(image)
        if colormode == "binary":
            reference = image.convert("RGB").getchannel("R").point(lambda v: 0 if v < 128 else 255).convert("RGB")
        print(
            f"{name + ' (' + colormode + ')':38} {image.width:4d}x{image.height:<4d} {_psnr(spline, reference):8.2f}"
            f" {_fraction_off(spline, reference):12.2%} {_fraction_off(spline, exact):11.2%}"
            f" {_fraction_off(polygon, exact):15.2%}"
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--images", type=Path, default=DEFAULT_IMAGES)
    parser.add_argument("--only", choices=("time", "growth", "fidelity"))
    args = parser.parse_args()
    sections = {"time": section_time, "growth": section_growth, "fidelity": section_fidelity}
    with tempfile.TemporaryDirectory() as work:
        for name, section in sections.items():
            if args.only in (None, name):
                section(args.images, Path(work))


if __name__ == "__main__":
    main()
