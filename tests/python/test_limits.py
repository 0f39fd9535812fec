"""Hostile input: declared sizes beyond the decode limit, the clustering and
tracing limits, and extreme option values. Memory and time are bounded by
running the risky calls in a child process under an address-space limit and
a timeout."""

import io
import json
import os
import struct
import subprocess
import sys
import textwrap
import zlib

import pytest

import pixmorf

SANITIZED = os.environ.get("PIXMORF_SANITIZED") == "1"
ADDRESS_SPACE_LIMIT = 1 << 30
DECODE_FAILED = "Failed to decode img_bytes. "
NO_INPUT = 'An unexpected error result was met: "No image file found at specified input path"'


def run_limited(code, timeout=120, address_space=ADDRESS_SPACE_LIMIT):
    """Runs code in a child interpreter whose address space is limited (an
    allocation beyond it fails instead of succeeding lazily) and returns the
    JSON value the code prints last. The sanitizer runtimes reserve far more
    address space than any limit, so under them only the timeout applies."""
    prologue = "import json, resource, sys\nimport pixmorf\n"
    if not SANITIZED:
        prologue += f"resource.setrlimit(resource.RLIMIT_AS, ({address_space}, {address_space}))\n"
    completed = subprocess.run(
        [sys.executable, "-c", prologue + textwrap.dedent(code)],
        capture_output=True, text=True, timeout=timeout, env=os.environ.copy(),
    )
    assert completed.returncode == 0, completed.stderr[-4000:]
    return json.loads(completed.stdout.strip().splitlines()[-1])


# ------------------------------------------------------------ declared sizes

# Just beyond the decode limit of 134,217,728 pixels (11,585 squared is
# within it): a decoder that allocated for this size before refusing it
# would map at least 512 MiB, which fits below the address-space limit and
# shows in the peak of the mapped memory.
JUST_BEYOND = 11586
ABSURD = 100000
PEAK_GROWTH_BOUND = 128 * 1024 * 1024


def png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\x00" + bytes(4 * width) for _ in range(min(height, 2)))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def pillow_picture(kind, **save_options):
    from PIL import Image

    buffer = io.BytesIO()
    Image.new("RGB", (3, 2), (200, 30, 30)).save(buffer, format=kind, **save_options)
    return bytearray(buffer.getvalue())


def jpeg(width, height):
    data = pillow_picture("JPEG")
    frame = data.index(b"\xff\xc0")  # baseline frame header: precision, height, width
    data[frame + 5:frame + 9] = struct.pack(">HH", height, width)
    return bytes(data)


def gif(width, height):
    data = pillow_picture("GIF")
    data[6:10] = struct.pack("<HH", width, height)
    position = 13 + (3 << ((data[10] & 7) + 1) if data[10] & 0x80 else 0)
    while data[position] == 0x21:  # extension blocks: label, then sub-blocks
        position += 2
        while data[position]:
            position += data[position] + 1
        position += 1
    assert data[position] == 0x2C
    data[position + 5:position + 9] = struct.pack("<HH", width, height)
    return bytes(data)


def webp(width, height):
    data = pillow_picture("WEBP", lossless=True)
    position = 12
    while position < len(data):
        kind, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = position + 8
        if kind == b"VP8X":
            data[body + 4:body + 10] = (width - 1).to_bytes(3, "little") + (height - 1).to_bytes(3, "little")
        elif kind == b"VP8L":
            bits = struct.unpack("<I", data[body + 1:body + 5])[0]
            bits = (bits & ~((1 << 28) - 1)) | (width - 1) | (height - 1) << 14
            data[body + 1:body + 5] = struct.pack("<I", bits)
        position = body + size + (size & 1)
    return bytes(data)


def tiff(width, height):
    data = pillow_picture("TIFF")
    order = "<" if data[:2] == b"II" else ">"
    ifd = struct.unpack(order + "I", data[4:8])[0]
    (count,) = struct.unpack(order + "H", data[ifd:ifd + 2])
    for entry in range(ifd + 2, ifd + 2 + 12 * count, 12):
        tag = struct.unpack(order + "H", data[entry:entry + 2])[0]
        if tag in (256, 257):  # image width, image length
            data[entry + 2:entry + 12] = struct.pack(order + "HII", 4, 1, width if tag == 256 else height)
    return bytes(data)


def small(width, height):
    return width * height < 1000


def bmp(width, height, top_down=False):
    pixels = bytes(((3 * width + 3) // 4 * 4) * height) if small(width, height) else bytes(64)
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, 24, 0, len(pixels),
                          2835, 2835, 0, 0) + pixels)


def ico(width, height, embedded_png):
    if embedded_png:
        image = png(width, height)
    else:
        mask_row = (width + 31) // 32 * 4
        pixels = bytes((4 * width + mask_row) * height) if small(width, height) else bytes(64)
        image = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, 0, 0, 0, 0, 0) + pixels
    side = lambda n: n if n < 256 else 0  # noqa: E731
    return (struct.pack("<HHH", 0, 1, 1)
            + struct.pack("<BBBBHHII", side(width), side(height), 0, 0, 1, 32, len(image), 22) + image)


def tga(width, height):
    pixels = bytes(4 * width * height) if small(width, height) else bytes(64)
    return struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 32, 0x28) + pixels


def dds(width, height, compressed):
    if compressed:
        pixel_format = struct.pack("<II4sIIIII", 32, 0x4, b"DXT1", 0, 0, 0, 0, 0)
        size = ((width + 3) // 4) * ((height + 3) // 4) * 8
        flags, pitch = 0x81007, min(size, 0xFFFFFFFF)
    else:
        pixel_format = struct.pack("<IIIIIIII", 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
        size = 4 * width * height
        flags, pitch = 0x100F, 4 * width
    header = struct.pack("<IIIIIII", 124, flags, height, width, pitch, 0, 0) + bytes(44) + pixel_format
    header += struct.pack("<IIIII", 0x1000, 0, 0, 0, 0)
    return b"DDS " + header + (bytes(size) if small(width, height) else bytes(64))


def hdr(width, height):
    pixels = bytes([128, 64, 32, 128]) * (width * height if small(width, height) else 16)
    return b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n" + f"-Y {height} +X {width}\n".encode() + pixels


def pnm(kind, width, height):
    if kind == "P7":
        header = f"P7\nWIDTH {width}\nHEIGHT {height}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
        return header.encode() + (bytes(4 * width * height) if small(width, height) else bytes(64))
    header = f"{kind}\n{width} {height}\n" if kind in ("P1", "P4") else f"{kind}\n{width} {height}\n255\n"
    channels = 3 if kind in ("P3", "P6") else 1
    count = channels * width * height if small(width, height) else 64
    if kind in ("P1", "P2", "P3"):
        body = " ".join(["1"] * count).encode() + b"\n"
    elif kind == "P4":
        body = bytes((width + 7) // 8 * height) if small(width, height) else bytes(64)
    else:
        body = bytes(count)
    return header.encode() + body


def farbfeld(width, height):
    pixels = bytes(8 * width * height) if small(width, height) else bytes(64)
    return b"farbfeld" + struct.pack(">II", width, height) + pixels


# kind: (format name, builder of a picture declaring (width, height), largest side the header holds)
DECLARED_SIZES = {
    "png": ("png", png, ABSURD),
    "jpeg": ("jpeg", jpeg, 65535),
    "gif": ("gif", gif, 65535),
    "webp": ("webp", webp, 16384),
    "tiff": ("tiff", tiff, ABSURD),
    "bmp": ("bmp", bmp, ABSURD),
    "bmp-top-down": ("bmp", lambda width, height: bmp(width, height, top_down=True), ABSURD),
    "ico-dib": ("ico", lambda width, height: ico(width, height, False), ABSURD),
    "ico-png": ("ico", lambda width, height: ico(width, height, True), ABSURD),
    "tga": ("tga", tga, 65535),
    "dds": ("dds", lambda width, height: dds(width, height, False), ABSURD),
    "dds-dxt1": ("dds", lambda width, height: dds(width, height, True), ABSURD),
    "hdr": ("hdr", hdr, ABSURD),
    **{f"pnm-{kind}": ("ppm", lambda width, height, kind=kind: pnm(kind, width, height), ABSURD)
       for kind in ("P1", "P2", "P3", "P4", "P5", "P6", "P7")},
    "farbfeld": ("ff", farbfeld, ABSURD),
}


def decodes(data, format_name):
    try:
        pixmorf.convert_raw_image_to_svg(data, format_name, mode="none")
    except Exception:
        return False
    return True


@pytest.mark.parametrize("kind", DECLARED_SIZES)
def test_declared_size_beyond_the_limit_fails_before_allocating(kind, tmp_path):
    format_name, build, largest_side = DECLARED_SIZES[kind]
    assert decodes(build(3, 2), format_name)  # the small picture of the same kind decodes
    paths = []
    for side in (JUST_BEYOND, min(ABSURD, largest_side)):
        paths.append(str(tmp_path / f"declared-{side}.{format_name}"))
        with open(paths[-1], "wb") as out:
            out.write(build(side, side))
    outcome = run_limited(f"""
        def mapped_peak():
            with open("/proc/self/status") as status:
                return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmPeak:"))

        outcome = {{}}
        for path in {paths!r}:
            data = open(path, "rb").read()
            before = mapped_peak()
            for label, call in [
                ("named", lambda: pixmorf.convert_raw_image_to_svg(data, {format_name!r})),
                ("detected", lambda: pixmorf.convert_raw_image_to_svg(data)),
                ("file", lambda: pixmorf.convert_image_to_svg_py(path, {str(tmp_path / "out.svg")!r})),
            ]:
                try:
                    call()
                    outcome[path, label] = "converted"
                except BaseException as error:
                    outcome[path, label] = [type(error).__name__, str(error)]
            outcome[path, "peak growth"] = mapped_peak() - before
        print(json.dumps({{" ".join(key): value for key, value in outcome.items()}}))
    """)
    for path in paths:
        assert outcome[f"{path} named"] == ["Exception", DECODE_FAILED]
        assert outcome[f"{path} detected"] == ["Exception", DECODE_FAILED]  # TGA has no signature: fails too
        assert outcome[f"{path} file"] == ["InternalFailure", NO_INPUT]
        if not SANITIZED:  # the sanitizer runtimes map their own memory
            assert outcome[f"{path} peak growth"] < PEAK_GROWTH_BOUND, path
    assert not (tmp_path / "out.svg").exists()


# ------------------------------------------------------- clustering, tracing

def check_internal_failure_then_recovery(call, message):
    try:
        call()
    except BaseException as error:  # the internal failure is no Exception
        assert type(error).__mro__[1] is BaseException, type(error).__mro__
        assert str(error) == message
    else:
        pytest.fail("the conversion did not stop")
    # The process is intact and converts again.
    black = [(0, 0, 0, 255)] * 4
    assert "<path" in pixmorf.convert_pixels_to_svg(black, (2, 2), colormode="binary", mode="none", filter_speckle=0)


def test_too_many_specks_stop_with_overflow():
    white, black = (255, 255, 255, 255), (0, 0, 0, 255)
    width, height = 600, 500  # 75,000 separate specks, more than 65,534 slots
    pixels = [black if x % 2 == 0 and y % 2 == 0 else white for y in range(height) for x in range(width)]
    check_internal_failure_then_recovery(
        lambda: pixmorf.convert_pixels_to_svg(pixels, (width, height), colormode="binary", mode="none"),
        "overflow",
    )


def test_outline_beyond_a_million_edges_is_stuck():
    black = (0, 0, 0, 255)
    # 1 x 499,999 traces (1,000,000 unit edges); one more pixel does not.
    assert "<path" in pixmorf.convert_pixels_to_svg([black] * 499999, (499999, 1), colormode="binary", mode="none")
    check_internal_failure_then_recovery(
        lambda: pixmorf.convert_pixels_to_svg([black] * 500000, (500000, 1), colormode="binary", mode="none"),
        "STUCK: shape should be broken down first without diagonally connected component",
    )


# ------------------------------------------------------- extreme option values

I32_MIN, I32_MAX, U64_MAX, U32_MAX = -(2**31), 2**31 - 1, 2**64 - 1, 2**32 - 1
INF, NAN = float("inf"), float("nan")

EXTREME_OPTIONS = [
    {"filter_speckle": 0}, {"filter_speckle": U64_MAX}, {"filter_speckle": 2**32},
    {"color_precision": I32_MIN}, {"color_precision": I32_MAX}, {"color_precision": 0}, {"color_precision": 9},
    {"layer_difference": I32_MIN}, {"layer_difference": I32_MAX}, {"layer_difference": 0},
    {"corner_threshold": I32_MIN}, {"corner_threshold": I32_MAX}, {"corner_threshold": 0},
    {"splice_threshold": I32_MIN}, {"splice_threshold": I32_MAX}, {"splice_threshold": 0},
    {"length_threshold": INF}, {"length_threshold": -INF}, {"length_threshold": NAN},
    {"length_threshold": 0.0}, {"length_threshold": -0.0}, {"length_threshold": -1.0},
    {"length_threshold": 5e-324}, {"length_threshold": 1e300},
    {"max_iterations": 0}, {"max_iterations": U64_MAX},
    {"max_iterations": U64_MAX, "length_threshold": 1e-300},
    {"max_iterations": U64_MAX, "length_threshold": 0.0},
    {"max_iterations": 10**6, "length_threshold": 0.01},
    {"path_precision": 0}, {"path_precision": 65535}, {"path_precision": 65536}, {"path_precision": U32_MAX},
    {"filter_speckle": U64_MAX, "color_precision": I32_MAX, "layer_difference": I32_MIN,
     "corner_threshold": I32_MAX, "splice_threshold": I32_MIN, "length_threshold": NAN,
     "max_iterations": U64_MAX, "path_precision": U32_MAX},
]


def options_id(options):
    return ",".join(f"{key}={value!r}" for key, value in options.items())


@pytest.mark.parametrize("colormode", ["color", "binary"])
@pytest.mark.parametrize("mode", ["spline", "polygon", "none"])
def test_extreme_options_convert_or_raise_within_bounds(colormode, mode):
    # Shapes with corners, curves, a hole and diagonal contacts, on transparency.
    outcome = run_limited(f"""
        import math
        width = height = 40
        def colour(x, y):
            if (x - 12) ** 2 + (y - 12) ** 2 < 64: return (20, 40, 200, 255)
            if 22 <= x < 36 and 4 <= y < 18 and not (27 <= x < 31 and 9 <= y < 13): return (0, 0, 0, 255)
            if y > 24 and (x + y) % 7 < 3: return (230, 20, 20, 255)
            if y > 24 and x % 5 == 0: return (0, 0, 0, 0)
            return (250, 250, 250, 255)
        pixels = [colour(x, y) for y in range(height) for x in range(width)]
        inf, nan = math.inf, math.nan  # as the options' repr writes them
        results = []
        for options in {EXTREME_OPTIONS!r}:
            try:
                text = pixmorf.convert_pixels_to_svg(pixels, (width, height), colormode={colormode!r},
                                                     mode={mode!r}, **options)
                assert text.endswith("</svg>\\n")
                results.append("converted")
            except BaseException as error:
                results.append(type(error).__name__ + ": " + str(error))
        print(json.dumps(results))
    """, timeout=600)
    allowed = ("converted", "Exception: ", "MemoryError: ", "InternalFailure: ")
    for options, result in zip(EXTREME_OPTIONS, outcome):
        assert result.startswith(allowed), (options_id(options), result)
    by_case = dict(zip(map(options_id, EXTREME_OPTIONS), outcome))
    if colormode == "color":
        assert by_case["color_precision=0"] == "InternalFailure: assertion failed: is_same_color_a < 8"
    if mode == "spline":
        assert by_case["max_iterations=0"] == "InternalFailure: assertion failed: max_iterations > 0"
        assert by_case["path_precision=65536"] == "InternalFailure: Formatting argument out of range"
    else:
        assert by_case["max_iterations=0"] == "converted"
        assert by_case["path_precision=4294967295"] == "converted"
