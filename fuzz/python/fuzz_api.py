"""Python-level fuzzing of the three pixmorf functions and their arguments,
with atheris (pip install atheris; not part of CI):

    python fuzz/python/fuzz_api.py -max_total_time=300 -rss_limit_mb=2048 -artifact_prefix=fuzz/artifacts/api-

Arguments of every kind are drawn: values at the ends of each range, wrong
types, objects whose __index__, __float__, __len__ or iteration misbehave,
str subclasses and unencodable text, sequences that lie about their length,
small encoded pictures and pixel lists. A call may return or raise; what is
a finding: a crash, a SystemError (a result returned with an error set, or
no result without one), an internal failure from the string functions
other than the known stops, or a malformed document.
"""

import array
import os
import sys
import tempfile

import atheris

with atheris.instrument_imports():
    import pixmorf

KNOWN_STOPS = {
    "overflow",
    "STUCK: shape should be broken down first without diagonally connected component",
    "assertion failed: is_same_color_a < 8",
    "assertion failed: max_iterations > 0",
    "Formatting argument out of range",
}
WORK = tempfile.mkdtemp(prefix="pixmorf-fuzz-api-")
OPTIONS = ("colormode", "hierarchical", "mode", "filter_speckle", "color_precision", "layer_difference",
           "corner_threshold", "length_threshold", "max_iterations", "splice_threshold", "path_precision")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Float:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class LyingSequence:
    """A sequence whose length and items disagree, or whose iteration fails."""

    def __init__(self, items, length, fail_at):
        self.items, self.length, self.fail_at = items, length, fail_at

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        if index == self.fail_at:
            raise RuntimeError("iteration failed")
        return self.items[index]


class StrSubclass(str):
    pass


class TupleSubclass(tuple):
    pass


class IntSubclass(int):
    pass


EDGE_INTS = [0, 1, -1, 2, 4, 8, 9, 10, 16, 45, 60, 255, 256, 65535, 65536, 2**31 - 1, 2**31, -(2**31),
             -(2**31) - 1, 2**32 - 1, 2**32, 2**63, 2**64 - 1, 2**64, -(2**64), 10**30]
EDGE_FLOATS = [0.0, -0.0, 4.0, -1.0, 1e-300, 5e-324, 1e300, float("inf"), float("-inf"), float("nan"), 0.5]
WORDS = ["binary", "color", "cutout", "stacked", "none", "polygon", "spline", "", "Binary", "NONE", "png", "jpg",
         "tga", "ff", "avif", ".png", "svg", "\udcff", "bin\x00ary", "ünïcode"]


def number(fdp):
    choice = fdp.ConsumeIntInRange(0, 9)
    if choice < 4:
        return fdp.PickValueInList(EDGE_INTS)
    if choice == 4:
        return fdp.ConsumeInt(9)
    if choice == 5:
        return Index(fdp.PickValueInList(EDGE_INTS + [OverflowError("index"), TypeError("index"), "text"]))
    if choice == 6:
        return IntSubclass(fdp.ConsumeIntInRange(-5, 300))
    if choice == 7:
        return fdp.PickValueInList(EDGE_FLOATS)
    if choice == 8:
        return True
    return fdp.PickValueInList([None, "4", b"4", [], object()])


def real(fdp):
    choice = fdp.ConsumeIntInRange(0, 5)
    if choice < 3:
        return fdp.PickValueInList(EDGE_FLOATS)
    if choice == 3:
        return fdp.ConsumeRegularFloat() if fdp.ConsumeBool() else fdp.ConsumeFloat()
    if choice == 4:
        return Float(fdp.PickValueInList(EDGE_FLOATS + [ValueError("float"), "not a float"]))
    return number(fdp)


def text(fdp):
    choice = fdp.ConsumeIntInRange(0, 4)
    if choice < 2:
        return fdp.PickValueInList(WORDS)
    if choice == 2:
        return StrSubclass(fdp.PickValueInList(WORDS))
    if choice == 3:
        return fdp.ConsumeUnicode(12)
    return fdp.PickValueInList([None, 5, b"binary", ["binary"]])


def option_value(fdp, name):
    if fdp.ConsumeIntInRange(0, 7) == 0:
        return None
    if name in ("colormode", "hierarchical", "mode"):
        return text(fdp)
    if name == "length_threshold":
        return real(fdp)
    return number(fdp)


def pixel_list(fdp):
    width, height = fdp.ConsumeIntInRange(0, 12), fdp.ConsumeIntInRange(0, 12)
    palette = [tuple(fdp.ConsumeIntInRange(0, 255) for _ in range(4)) for _ in range(fdp.ConsumeIntInRange(1, 4))]
    pixels = [fdp.PickValueInList(palette) for _ in range(width * height)]
    mutation = fdp.ConsumeIntInRange(0, 12)
    size = (width, height)
    if mutation == 1 and pixels:
        pixels[fdp.ConsumeIntInRange(0, len(pixels) - 1)] = fdp.PickValueInList(
            [(1, 2, 3), (1, 2, 3, 4, 5), [1, 2, 3, 4], (256, 0, 0, 0), (-1, 0, 0, 0), (Index(3), 0, 0, 0),
             TupleSubclass((1, 2, 3, 4)), (1.0, 2, 3, 4), None])
    elif mutation == 2:
        pixels = pixels[:-1]
    elif mutation == 3:
        size = fdp.PickValueInList([(2**64 - 1, 2), (2**32, 2**32), (width,), [width, height], (width, height, 1),
                                    (Index(width), Index(height)), (-1, 0), (0, 2**64 - 1), TupleSubclass(size)])
    elif mutation == 4:
        pixels = tuple(pixels)
    elif mutation == 5:
        pixels = LyingSequence(pixels, len(pixels) + fdp.ConsumeIntInRange(-2, 2), fdp.ConsumeIntInRange(-1, 5))
    elif mutation == 6:
        pixels = fdp.PickValueInList(["abcd", b"abcd", iter(pixels), {1: 2}, 7, None])
    return pixels, size


SIGNATURES = [b"\x89PNG\r\n\x1a\n", b"\xff\xd8\xff", b"GIF89a", b"RIFF", b"P6\n", b"II*\x00", b"DDS ", b"BM",
              b"\x00\x00\x01\x00", b"#?RADIANCE\n", b"farbfeld", b"\x00\x00\x00\x20ftypavif", b""]


def file_body(fdp):
    return fdp.PickValueInList(SIGNATURES) + fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 200))


def encoded_bytes(fdp):
    kind = fdp.ConsumeIntInRange(0, 6)
    body = file_body(fdp)
    if kind == 0:
        return bytearray(body)
    if kind == 1:
        return list(body)
    if kind == 2:
        return array.array("B", body)
    if kind == 3:
        return memoryview(body)
    if kind == 4:
        return fdp.PickValueInList([[256], [-1], [Index(7)], "bytes", LyingSequence(list(body), 3, 1), 5])
    return body


def check_document(document):
    if not (isinstance(document, str) and document.startswith('<?xml version="1.0" encoding="UTF-8"?>\n')
            and document.endswith("</svg>\n")):
        raise AssertionError("malformed document: %r" % (document[:200],))


def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    function = fdp.ConsumeIntInRange(0, 2)
    options = {name: option_value(fdp, name) for name in OPTIONS if fdp.ConsumeBool()}
    if function == 0:
        pixels, size = pixel_list(fdp)
        call = lambda: pixmorf.convert_pixels_to_svg(pixels, size, **options)  # noqa: E731
    elif function == 1:
        encoded, name = encoded_bytes(fdp), text(fdp) if fdp.ConsumeBool() else None
        call = lambda: pixmorf.convert_raw_image_to_svg(encoded, name, **options)  # noqa: E731
    else:
        source = os.path.join(WORK, "in." + fdp.PickValueInList(["png", "ppm", "bmp", "ff", "tga", "PNG", "x"]))
        with open(source, "wb") as out:
            out.write(file_body(fdp))
        target = os.path.join(WORK, fdp.PickValueInList(["out.svg", "missing/out.svg", "", "\udcff.svg", "ü.svg"]))
        call = lambda: pixmorf.convert_image_to_svg_py(source, target, **options)  # noqa: E731
    try:
        result = call()
    except SystemError:
        raise
    except Exception:
        return
    except BaseException as error:
        if type(error).__mro__[1] is not BaseException:
            raise
        if function != 2 and str(error) not in KNOWN_STOPS:
            raise
        return
    if function == 2:
        if result is not None:
            raise AssertionError("file conversion returned %r" % (result,))
    else:
        check_document(result)


if __name__ == "__main__":
    # The extension itself carries no coverage instrumentation; the harness's
    # own branches give the fuzzer its feedback on which argument kinds it hit.
    atheris.instrument_all()
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()
