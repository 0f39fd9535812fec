"""Repeated calls, succeeding and failing, keep memory and reference counts
flat: resident memory after warm-up, Python allocations, and the reference
counts of every object passed in."""

import gc
import io
import os
import sys
import tracemalloc

import pytest

import pixmorf

SANITIZED = os.environ.get("PIXMORF_SANITIZED") == "1"
ROUNDS = 120  # each round calls convert_pixels_to_svg 10 times, the others 3 to 4 times
WARM_UP = 15
# A leak of one 96 x 96 RGBA picture per call would grow by 36 KiB a call,
# over 10 MiB in ROUNDS rounds; allocator noise stays well below this bound.
RSS_BOUND = 2 * 1024 * 1024
TRACED_BOUND = 64 * 1024
SIDE = 96


def picture(side):
    """Rings, stripes and transparency: several regions with holes."""
    def colour(x, y):
        ring = (x - side // 3) ** 2 + (y - side // 3) ** 2
        if 60 < ring < 200:
            return (200, 30, 30, 255)
        if x > side // 2 and (x // 6 + y // 6) % 2 == 0:
            return (20, 20, 20, 255)
        if y > side * 3 // 4:
            return (0, 0, 0, 0)
        return (240, 240, 240, 255)

    return [colour(x, y) for y in range(side) for x in range(side)]


def png_bytes(pixels, side):
    from PIL import Image

    image = Image.new("RGBA", (side, side))
    image.putdata(pixels)
    buffer = io.BytesIO()
    image.save(buffer, format="PNG")
    return buffer.getvalue()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class Inputs:
    """Every object handed to the module, kept to compare reference counts."""

    def __init__(self, tmp_path):
        self.pixels = picture(SIDE)
        self.size = (SIDE, SIDE)
        self.short_pixels = self.pixels[:-1]
        self.png = png_bytes(self.pixels, SIDE)
        self.garbage = b"\x89PNG\r\n\x1a\n" + bytes(200)
        self.png_path = str(tmp_path / "in.png")
        with open(self.png_path, "wb") as out:
            out.write(self.png)
        self.out_path = str(tmp_path / "out.svg")
        self.missing_path = str(tmp_path / "missing.png")
        self.bad_out_path = str(tmp_path / "no-such-directory" / "out.svg")
        self.options = {"filter_speckle": 2, "color_precision": 7, "layer_difference": 8, "corner_threshold": 50,
                        "length_threshold": 3.5, "max_iterations": 8, "splice_threshold": 40, "path_precision": 3}
        self.modes = ("spline", "polygon", "none")
        self.bad_pixel = [(1, 2, 3)]
        self.not_a_tuple = [1, 2]

    def objects(self):
        return [self.pixels, self.size, self.short_pixels, self.png, self.garbage, self.png_path, self.out_path,
                self.missing_path, self.bad_out_path, self.bad_pixel, self.not_a_tuple,
                *self.pixels[:3], *self.options.values(), *self.modes]


def one_round(inputs, counts, mode):
    """Calls every function on successes and failures; counts the outcomes."""
    calls = [
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, mode=mode, **inputs.options),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, colormode="binary", mode=mode),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, hierarchical="cutout", mode=mode),
        lambda mode: pixmorf.convert_raw_image_to_svg(inputs.png, mode=mode),
        lambda mode: pixmorf.convert_raw_image_to_svg(inputs.png, "png", colormode="binary", mode=mode),
        lambda mode: pixmorf.convert_image_to_svg_py(inputs.png_path, inputs.out_path, mode=mode),
        # Failures of every kind: binding, decoding, conversion, output.
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.short_pixels, inputs.size, mode=mode),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.bad_pixel, (1, 1), mode=mode),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.not_a_tuple, (2, 1), mode=mode),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, mode=mode, filter_speckle=-1),
        lambda mode: pixmorf.convert_raw_image_to_svg(inputs.garbage, mode=mode),
        lambda mode: pixmorf.convert_raw_image_to_svg("a str", mode=mode),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, mode=mode, color_precision=0),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, mode=mode, max_iterations=0),
        lambda mode: pixmorf.convert_pixels_to_svg(inputs.pixels, inputs.size, mode=mode, path_precision=70000),
        lambda mode: pixmorf.convert_image_to_svg_py(inputs.missing_path, inputs.out_path, mode=mode),
        lambda mode: pixmorf.convert_image_to_svg_py(inputs.png_path, inputs.bad_out_path, mode=mode),
    ]
    for number, call in enumerate(calls):
        try:
            call(mode)
            outcome = "ok"
        except BaseException as error:  # the internal failure is no Exception
            outcome = type(error).__name__
        counts[number, outcome] = counts.get((number, outcome), 0) + 1


def test_repeated_calls_leak_nothing(tmp_path):
    inputs = Inputs(tmp_path)
    counts = {}
    for number in range(WARM_UP):
        one_round(inputs, counts, inputs.modes[number % 3])
    gc.collect()
    references = [sys.getrefcount(item) for item in inputs.objects()]
    resident_before = resident_bytes()
    tracemalloc.start()
    try:
        traced_before = tracemalloc.get_traced_memory()[0]
        for number in range(ROUNDS):
            one_round(inputs, counts, inputs.modes[number % 3])
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced_before
    finally:
        tracemalloc.stop()
    resident_growth = resident_bytes() - resident_before
    print(f"\nresident memory: {resident_before / 2**20:.1f} MiB after warm-up, growth {resident_growth} bytes "
          f"over {ROUNDS} rounds of 17 calls; traced growth {traced_growth} bytes")

    assert [sys.getrefcount(item) for item in inputs.objects()] == references
    assert traced_growth < TRACED_BOUND
    if not SANITIZED:  # the sanitizer runtimes keep freed memory in quarantine
        assert resident_growth < RSS_BOUND
    # Both successes and failures were exercised.
    outcomes = {outcome for _, outcome in counts}
    assert "ok" in outcomes and {"Exception", "TypeError", "OverflowError", "InternalFailure"} <= outcomes
