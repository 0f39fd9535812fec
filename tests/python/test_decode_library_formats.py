"""Decoding PNG, JPEG, GIF, WebP and TIFF to 8-bit RGBA, and choosing the
format of encoded bytes, checked through the decode_dump test tool.

Fixtures are made here: with Pillow where it writes what is needed, by hand
(struct/zlib) for what it cannot write (16-bit colour PNG and TIFF, planar and
tiled TIFF, GIF frame placement). Expected pixels are Pillow's own decoding
where it follows the same rules, otherwise computed from the stored samples.
"""

import io
import os
import random
import struct
import subprocess
import zlib
from pathlib import Path

import pytest
from PIL import Image

TOOLS = os.environ.get("PIXMORF_TEST_TOOLS")
DECODE_DUMP = Path(TOOLS) / "decode_dump" if TOOLS else None
pytestmark = pytest.mark.skipif(
    DECODE_DUMP is None or not DECODE_DUMP.exists(),
    reason="decode_dump test tool not built (PIXMORF_TEST_TOOLS)",
)

FAILED = "Failed to decode img_bytes. "


def decode(tmp_path, data, fmt=None):
    """(width, height, rgba bytes), or None when the decoder refused the data."""
    path = tmp_path / "input.bin"
    path.write_bytes(data)
    command = [str(DECODE_DUMP), str(path)] + ([fmt] if fmt is not None else [])
    run = subprocess.run(command, capture_output=True, timeout=120)
    if run.returncode == 1:
        assert run.stderr.decode() == FAILED + "\n"
        return None
    assert run.returncode == 0, run.stderr
    header, _, pixels = run.stdout.partition(b"\n")
    width, height = map(int, header.split())
    assert len(pixels) == width * height * 4
    return width, height, pixels


def assert_pixels(decoded, width, height, expected, tolerance=0):
    assert decoded is not None, "decoding failed"
    assert decoded[:2] == (width, height)
    actual = decoded[2]
    assert len(actual) == len(expected)
    worst = max((abs(a - b) for a, b in zip(actual, expected)), default=0)
    if worst > tolerance:
        first = next(i for i, (a, b) in enumerate(zip(actual, expected)) if abs(a - b) > tolerance)
        p = first // 4
        raise AssertionError(
            f"pixel ({p % width}, {p // width}): got {tuple(actual[4 * p:4 * p + 4])}, "
            f"expected {tuple(expected[4 * p:4 * p + 4])}"
        )


def pillow_rgba(data):
    with Image.open(io.BytesIO(data)) as image:
        return image.convert("RGBA").tobytes()


def encoded(image, fmt, **options):
    out = io.BytesIO()
    image.save(out, fmt, **options)
    return out.getvalue()


def gradient(mode, width, height):
    """A smooth test picture with every channel varying."""
    image = Image.new("RGBA", (width, height))
    image.putdata([
        (x * 255 // max(width - 1, 1), y * 255 // max(height - 1, 1), (x + y) * 7 % 256, 255 - (x * y) % 200)
        for y in range(height) for x in range(width)
    ])
    return image.convert(mode)


def to8(value, depth):
    return value >> 8 if depth == 16 else value * 255 // ((1 << depth) - 1)


# ---------------------------------------------------------------- PNG

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def pack_samples(samples, depth, byteorder=">"):
    if depth == 16:
        return struct.pack(f"{byteorder}{len(samples)}H", *samples)
    if depth == 8:
        return bytes(samples)
    per_byte = 8 // depth
    out = bytearray()
    for i in range(0, len(samples), per_byte):
        byte = 0
        for j, sample in enumerate(samples[i:i + per_byte]):
            byte |= sample << (8 - depth * (j + 1))
        out.append(byte)
    return bytes(out)


def png_bytes(width, height, color_type, depth, pixels, interlace=False, palette=None, trns=None):
    """pixels: row-major tuples of samples."""
    def rows(xs, ys):
        return b"".join(
            b"\0" + pack_samples([s for x in xs for s in pixels[y * width + x]], depth) for y in ys
        )
    if interlace:
        raw = b"".join(
            rows(range(x0, width, dx), range(y0, height, dy))
            for x0, y0, dx, dy in ADAM7
            if x0 < width and y0 < height
        )
    else:
        raw = rows(range(width), range(height))
    out = PNG_SIGNATURE + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, int(interlace)))
    if palette:
        out += png_chunk(b"PLTE", bytes(c for rgb in palette for c in rgb))
    if trns is not None:
        out += png_chunk(b"tRNS", trns)
    return out + png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b"")


PNG_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def png_case(color_type, depth, interlace, with_trns, seed):
    """Bytes and expected RGBA of a random PNG of the given kind."""
    rnd = random.Random(seed)
    width, height = 13, 11
    limit = 1 << depth
    pixels = [tuple(rnd.randrange(limit) for _ in range(PNG_CHANNELS[color_type])) for _ in range(width * height)]
    palette = trns = None
    palette_alpha = b""
    key = None
    if color_type == 3:
        palette = [tuple(rnd.randrange(256) for _ in range(3)) for _ in range(limit)]
        if with_trns:
            palette_alpha = bytes(rnd.randrange(256) for _ in range(max(1, limit // 2)))
            trns = palette_alpha
    elif with_trns:
        key = pixels[0]
        pixels[5] = pixels[17] = key  # a few pixels hit the transparent key
        trns = struct.pack(f">{len(key)}H", *key)
    expected = bytearray()
    for p in pixels:
        if color_type == 3:
            rgb = palette[p[0]]
            alpha = palette_alpha[p[0]] if p[0] < len(palette_alpha) else 255
        elif color_type in (0, 4):
            rgb = (to8(p[0], depth),) * 3
            alpha = to8(p[1], depth) if color_type == 4 else (0 if p == key else 255)
        else:
            rgb = tuple(to8(s, depth) for s in p[:3])
            alpha = to8(p[3], depth) if color_type == 6 else (0 if p == key else 255)
        expected += bytes(rgb) + bytes([alpha])
    data = png_bytes(width, height, color_type, depth, pixels, interlace, palette, trns)
    return data, width, height, bytes(expected)


PNG_CASES = {
    "grey1": (0, 1, False, False),
    "grey2": (0, 2, False, False),
    "grey4": (0, 4, False, False),
    "grey8": (0, 8, False, False),
    "grey8_key": (0, 8, False, True),
    "grey16": (0, 16, False, False),
    "grey16_key": (0, 16, False, True),
    "grey_alpha8": (4, 8, False, False),
    "grey_alpha16": (4, 16, False, False),
    "rgb8": (2, 8, False, False),
    "rgb8_key": (2, 8, False, True),
    "rgb16": (2, 16, False, False),
    "rgba8": (6, 8, False, False),
    "rgba16": (6, 16, False, False),
    "palette1_trns": (3, 1, False, True),
    "palette2": (3, 2, False, False),
    "palette4_trns": (3, 4, False, True),
    "palette8_trns": (3, 8, False, True),
    "interlaced_rgba8": (6, 8, True, False),
    "interlaced_grey2": (0, 2, True, False),
    "interlaced_rgb16": (2, 16, True, False),
    "interlaced_palette4_trns": (3, 4, True, True),
}


@pytest.mark.parametrize("name", PNG_CASES)
def test_png_every_colour_type_and_depth(tmp_path, name):
    data, width, height, expected = png_case(*PNG_CASES[name], seed=name)
    assert_pixels(decode(tmp_path, data), width, height, expected)


def test_png_from_pillow_matches_pillow(tmp_path):
    data = encoded(gradient("RGBA", 17, 9), "PNG")
    assert_pixels(decode(tmp_path, data), 17, 9, pillow_rgba(data))


# ---------------------------------------------------------------- JPEG

def jpeg_segments(data):
    """(marker, start, end) of every segment before the first scan."""
    position = 2
    while position + 4 <= len(data) and data[position] == 0xFF:
        marker = data[position + 1]
        length = struct.unpack(">H", data[position + 2:position + 4])[0]
        yield marker, position, position + 2 + length
        if marker == 0xDA:
            return
        position += 2 + length


def without_adobe_marker(data):
    for marker, start, end in jpeg_segments(data):
        if marker == 0xEE:
            return data[:start] + data[end:]
    raise AssertionError("no APP14 segment")


@pytest.mark.parametrize("mode", ["L", "RGB"])
def test_jpeg_matches_pillow(tmp_path, mode):
    data = encoded(gradient(mode, 40, 24), "JPEG", quality=85)
    assert_pixels(decode(tmp_path, data), 40, 24, pillow_rgba(data), tolerance=2)


@pytest.mark.parametrize("adobe", [True, False], ids=["adobe_inverted", "plain"])
def test_jpeg_cmyk_combines_ink_with_black(tmp_path, adobe):
    cmyk = (30, 100, 200, 60)
    # A flat picture at quality 100 comes back sample for sample.
    data = encoded(Image.new("CMYK", (16, 8), cmyk), "JPEG", quality=100)
    # The writer stores Adobe-style inverted ink; without the Adobe marker the
    # same stored bytes are read as plain ink and inverted first.
    stored = [255 - v for v in cmyk]
    if not adobe:
        data = without_adobe_marker(data)
    c, m, y, k = stored if adobe else [255 - v for v in stored]
    pixel = bytes([round(c * k / 255), round(m * k / 255), round(y * k / 255), 255])
    assert_pixels(decode(tmp_path, data), 16, 8, pixel * (16 * 8))


# ---------------------------------------------------------------- GIF

def lzw_literal_codes(indices, min_code_size):
    """LZW data that the decoder reads as plain literals: a clear code comes
    often enough that the code width never grows."""
    clear = 1 << min_code_size
    width = min_code_size + 1
    per_clear = max(1, clear - 3)
    codes = []
    for i in range(0, len(indices), per_clear):
        codes.append(clear)
        codes.extend(indices[i:i + per_clear])
    codes.append(clear + 1)
    value = bits = 0
    out = bytearray()
    for code in codes:
        value |= code << bits
        bits += width
        while bits >= 8:
            out.append(value & 0xFF)
            value >>= 8
            bits -= 8
    if bits:
        out.append(value)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_code_size]) + blocks + b"\0"


def color_table(colors):
    size_bits = max(1, (len(colors) - 1).bit_length())
    padded = list(colors) + [(0, 0, 0)] * ((1 << size_bits) - len(colors))
    return size_bits, bytes(c for rgb in padded for c in rgb)


def gif_bytes(screen, global_colors, frames):
    """frames: dicts with left, top, width, height, indices and optionally
    colors (local table), transparent (index), interlace."""
    out = bytearray(b"GIF89a")
    flags = 0
    table = b""
    if global_colors:
        size_bits, table = color_table(global_colors)
        flags = 0x80 | (size_bits - 1)
    out += struct.pack("<HHBBB", screen[0], screen[1], flags, 0, 0) + table
    for frame in frames:
        if "transparent" in frame:
            out += b"\x21\xF9\x04\x01\x00\x00" + bytes([frame["transparent"]]) + b"\x00"
        flags = 0x40 if frame.get("interlace") else 0
        local = b""
        if "colors" in frame:
            size_bits, local = color_table(frame["colors"])
            flags |= 0x80 | (size_bits - 1)
        out += b"\x2C" + struct.pack("<HHHHB", frame["left"], frame["top"], frame["width"], frame["height"], flags)
        out += local
        stored = frame["indices"]
        if frame.get("interlace"):
            w, h = frame["width"], frame["height"]
            order = [r for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for r in range(start, h, step)]
            stored = [i for r in order for i in frame["indices"][r * w:(r + 1) * w]]
        out += lzw_literal_codes(stored, 2 if max(stored) < 4 else 8)
    return bytes(out + b"\x3B")


def composite(screen, frame, colors):
    """Expected RGBA of one frame drawn on a transparent screen."""
    width, height = screen
    out = bytearray(width * height * 4)
    for r in range(frame["height"]):
        for col in range(frame["width"]):
            x, y = frame["left"] + col, frame["top"] + r
            index = frame["indices"][r * frame["width"] + col]
            if x < width and y < height and index != frame.get("transparent"):
                out[4 * (y * width + x):4 * (y * width + x) + 4] = bytes(colors[index]) + b"\xff"
    return bytes(out)


GLOBAL = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (250, 250, 250)]
LOCAL = [(10, 20, 30), (40, 50, 60), (70, 80, 90), (100, 110, 120)]


def frame(left, top, width, height, seed, **extra):
    rnd = random.Random(seed)
    return dict(left=left, top=top, width=width, height=height,
                indices=[rnd.randrange(4) for _ in range(width * height)], **extra)


GIF_CASES = {
    "offset_global_map": ((7, 6), frame(2, 1, 3, 4, 1), GLOBAL),
    "local_map_wins": ((5, 5), frame(0, 0, 5, 5, 2, colors=LOCAL), LOCAL),
    "transparent_index": ((6, 4), frame(1, 0, 5, 4, 3, transparent=2), GLOBAL),
    "partly_off_screen": ((5, 4), frame(3, 2, 6, 5, 4), GLOBAL),
    "entirely_off_screen": ((3, 3), frame(4, 4, 2, 2, 5), GLOBAL),
    "interlaced": ((4, 19), frame(0, 1, 3, 17, 6, interlace=True), GLOBAL),
}


@pytest.mark.parametrize("name", GIF_CASES)
def test_gif_first_frame_on_transparent_screen(tmp_path, name):
    screen, first, colors = GIF_CASES[name]
    data = gif_bytes(screen, GLOBAL, [first])
    assert_pixels(decode(tmp_path, data), *screen, composite(screen, first, colors))


def test_gif_later_frames_are_not_read(tmp_path):
    first = frame(0, 0, 4, 4, 7)
    second = frame(0, 0, 4, 4, 8, colors=LOCAL)
    data = gif_bytes((4, 4), GLOBAL, [first, second])
    expected = composite((4, 4), first, GLOBAL)
    assert_pixels(decode(tmp_path, data), 4, 4, expected)
    # A broken second frame does not matter either.
    cut = data.rindex(b"\x2C") + 12
    assert_pixels(decode(tmp_path, data[:cut]), 4, 4, expected)


def test_gif_without_colour_map_fails(tmp_path):
    assert decode(tmp_path, gif_bytes((4, 4), None, [frame(0, 0, 4, 4, 9)])) is None


def test_gif_from_pillow_matches_pillow(tmp_path):
    data = encoded(gradient("RGB", 20, 12).quantize(16), "GIF")
    assert_pixels(decode(tmp_path, data), 20, 12, pillow_rgba(data))


# ---------------------------------------------------------------- WebP

def rgba_with_transparency(width, height):
    image = gradient("RGBA", width, height)
    pixels = image.load()
    for x in range(width // 3):
        pixels[x, 0] = (0, 0, 0, 0)
    return image


def test_webp_lossless_is_exact(tmp_path):
    image = rgba_with_transparency(23, 14)
    data = encoded(image, "WEBP", lossless=True, exact=True)
    assert_pixels(decode(tmp_path, data), 23, 14, image.tobytes())


@pytest.mark.parametrize("mode", ["RGB", "RGBA"])
def test_webp_lossy_matches_pillow(tmp_path, mode):
    data = encoded(gradient(mode, 32, 20), "WEBP", quality=80)
    assert_pixels(decode(tmp_path, data), 32, 20, pillow_rgba(data), tolerance=3)


def test_webp_animation_gives_first_frame_on_canvas(tmp_path):
    first = Image.new("RGBA", (12, 10), (0, 0, 0, 0))
    first.paste((200, 30, 40, 255), (3, 2, 9, 7))
    second = Image.new("RGBA", (12, 10), (0, 90, 250, 255))
    data = encoded(first, "WEBP", save_all=True, append_images=[second], duration=100, lossless=True)
    assert b"ANMF" in data
    assert_pixels(decode(tmp_path, data), 12, 10, first.tobytes())


# ---------------------------------------------------------------- TIFF

def ifd_entry_bytes(tag, values, e):
    kind, size = (3, 2) if all(v < 65536 for v in values) and tag not in (256, 257, 273, 278, 279, 322, 323, 324, 325) else (4, 4)
    return tag, kind, len(values), struct.pack(f"{e}{len(values)}{'H' if kind == 3 else 'I'}", *values)


def tiff_bytes(width, height, bits, photometric, pixels, planar=False, extra=(), tile=None,
               big_endian=False, rows_per_strip=None, compress=False):
    """An uncompressed (or Deflate) TIFF of row-major sample tuples."""
    e = ">" if big_endian else "<"
    spp = len(pixels[0])

    def pack(samples):
        data = pack_samples(samples, bits, e)
        return zlib.compress(data) if compress else data

    planes = [[p[s] for p in pixels] for s in range(spp)] if planar else [[s for p in pixels for s in p]]
    per_pixel = 1 if planar else spp
    segments = []
    for plane in planes:
        if tile:
            tw, th = tile
            for ty in range(0, height, th):
                for tx in range(0, width, tw):
                    samples = []
                    for y in range(ty, ty + th):
                        for x in range(tx, tx + tw):
                            inside = x < width and y < height
                            start = (y * width + x) * per_pixel
                            samples += plane[start:start + per_pixel] if inside else [0] * per_pixel
                    segments.append(pack(samples))
        else:
            rps = rows_per_strip or height
            for y in range(0, height, rps):
                segments.append(pack(plane[y * width * per_pixel:min(y + rps, height) * width * per_pixel]))

    body = bytearray(b"MM\x00\x2a" if big_endian else b"II\x2a\x00") + b"\0\0\0\0"
    offsets = []
    for segment in segments:
        offsets.append(len(body))
        body += segment
    counts = [len(s) for s in segments]
    tags = {256: [width], 257: [height], 258: [bits] * spp, 259: [8 if compress else 1], 262: [photometric],
            277: [spp], 284: [2 if planar else 1]}
    if tile:
        tags.update({322: [tile[0]], 323: [tile[1]], 324: offsets, 325: counts})
    else:
        tags.update({273: offsets, 278: [rows_per_strip or height], 279: counts})
    if extra:
        tags[338] = list(extra)
    return finish_tiff(body, tags, e)


def finish_tiff(body, tags, e):
    if len(body) % 2:
        body += b"\0"
    ifd_offset = len(body)
    entries = [ifd_entry_bytes(tag, values, e) for tag, values in sorted(tags.items())]
    value_area = ifd_offset + 2 + 12 * len(entries) + 4
    ifd = bytearray(struct.pack(f"{e}H", len(entries)))
    overflow = bytearray()
    for tag, kind, count, payload in entries:
        if len(payload) <= 4:
            field = payload.ljust(4, b"\0")
        else:
            field = struct.pack(f"{e}I", value_area + len(overflow))
            overflow += payload
        ifd += struct.pack(f"{e}HHI", tag, kind, count) + field
    ifd += b"\0\0\0\0"
    body[4:8] = struct.pack(f"{e}I", ifd_offset)
    return bytes(body + ifd + overflow)


MINISWHITE, MINISBLACK, RGB = 0, 1, 2
ASSOCIATED, UNASSOCIATED = 1, 2

TIFF_CASES = {
    "rgb8_strips": dict(bits=8, photometric=RGB, channels=3, rows_per_strip=3),
    "rgb8_planar": dict(bits=8, photometric=RGB, channels=3, planar=True, rows_per_strip=4),
    "rgba8_unassociated": dict(bits=8, photometric=RGB, channels=4, extra=(UNASSOCIATED,)),
    "rgb16_little_endian": dict(bits=16, photometric=RGB, channels=3, rows_per_strip=2),
    "rgba16_planar_big_endian": dict(bits=16, photometric=RGB, channels=4, extra=(ASSOCIATED,), planar=True,
                                     big_endian=True),
    "rgb_plus_unused_extra": dict(bits=8, photometric=RGB, channels=5, extra=(ASSOCIATED, 0), use=4),
    "grey8": dict(bits=8, photometric=MINISBLACK, channels=1),
    "grey16_deflate": dict(bits=16, photometric=MINISBLACK, channels=1, compress=True, rows_per_strip=5),
    "grey_alpha16_planar": dict(bits=16, photometric=MINISBLACK, channels=2, extra=(UNASSOCIATED,), planar=True),
    "min_is_white8": dict(bits=8, photometric=MINISWHITE, channels=1),
    "min_is_white16_alpha": dict(bits=16, photometric=MINISWHITE, channels=2, extra=(UNASSOCIATED,)),
    "rgb16_tiled": dict(bits=16, photometric=RGB, channels=3, tile=(16, 16)),
    "rgba8_tiled_planar": dict(bits=8, photometric=RGB, channels=4, extra=(UNASSOCIATED,), tile=(16, 16),
                               planar=True),
}


@pytest.mark.parametrize("name", TIFF_CASES)
def test_tiff_stored_samples_are_kept(tmp_path, name):
    case = dict(TIFF_CASES[name])
    bits, photometric, channels = case.pop("bits"), case.pop("photometric"), case.pop("channels")
    used = case.pop("use", channels)
    rnd = random.Random(name)
    width, height = 21, 18
    pixels = [tuple(rnd.randrange(1 << bits) for _ in range(channels)) for _ in range(width * height)]
    data = tiff_bytes(width, height, bits, photometric, pixels, **case)
    expected = bytearray()
    for p in pixels:
        values = [to8(v, bits) for v in p[:used]]
        if photometric == MINISWHITE:
            values[0] = 255 - values[0]
        if len(values) <= 2:
            values = values[:1] * 3 + values[1:]
        expected += bytes(values + [255] * (4 - len(values)))
    assert_pixels(decode(tmp_path, data), width, height, bytes(expected))


@pytest.mark.parametrize("mode,options", [
    ("RGB", {}),
    ("RGBA", {"compression": "tiff_lzw"}),
    ("LA", {}),
    ("P", {}),
    ("1", {}),
    ("CMYK", {}),
])
def test_tiff_from_pillow_matches_pillow(tmp_path, mode, options):
    source = gradient("RGBA", 19, 13)
    image = source.quantize(32) if mode == "P" else source.convert(mode)
    data = encoded(image, "TIFF", **options)
    assert_pixels(decode(tmp_path, data), 19, 13, pillow_rgba(data))


# ---------------------------------------------------------------- failures

def pillow_tiff():
    return encoded(gradient("RGB", 40, 30), "TIFF")


TRUNCATABLE = {
    "png": lambda: png_case(6, 8, False, False, seed=1)[0],
    "png16_interlaced": lambda: png_case(2, 16, True, False, seed=2)[0],
    "jpeg": lambda: encoded(gradient("RGB", 40, 30), "JPEG"),
    "jpeg_progressive": lambda: encoded(gradient("RGB", 40, 30), "JPEG", progressive=True),
    "gif": lambda: gif_bytes((9, 9), GLOBAL, [frame(0, 0, 9, 9, 10)]),
    "webp_lossless": lambda: encoded(gradient("RGBA", 40, 30), "WEBP", lossless=True),
    "webp_lossy": lambda: encoded(gradient("RGB", 40, 30), "WEBP", quality=90),
    "tiff": pillow_tiff,
}


@pytest.mark.parametrize("name", TRUNCATABLE)
@pytest.mark.parametrize("keep", [0.6, 0.95])
def test_truncated_file_fails(tmp_path, name, keep):
    data = TRUNCATABLE[name]()
    assert decode(tmp_path, data) is not None
    assert decode(tmp_path, data[:int(len(data) * keep)]) is None


def test_jpeg_scan_ending_before_the_picture_fails(tmp_path):
    data = encoded(gradient("RGB", 40, 30), "JPEG")
    assert decode(tmp_path, data[:len(data) // 2] + b"\xff\xd9") is None


def huge_png():
    # 20000 x 20000 one-bit grey, all black: 50 MB of rows squeezed into a few KB.
    rows = zlib.compress(b"\0" * (20000 * 2501), 9)
    ihdr = struct.pack(">IIBBBBB", 20000, 20000, 1, 0, 0, 0, 0)
    return PNG_SIGNATURE + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", rows) + png_chunk(b"IEND", b"")


def huge_gif():
    return gif_bytes((20000, 20000), GLOBAL, [frame(0, 0, 1, 1, 11)])


def huge_tiff():
    # 20000 x 20000 grey in one-row strips that all share the same few bytes.
    row = zlib.compress(b"\0" * 20000)
    body = bytearray(b"II\x2a\x00\0\0\0\0") + row
    tags = {256: [20000], 257: [20000], 258: [8], 259: [8], 262: [1], 273: [8] * 20000, 277: [1],
            278: [1], 279: [len(row)] * 20000, 284: [1]}
    return finish_tiff(body, tags, "<")


def huge_jpeg():
    data = bytearray(encoded(gradient("RGB", 16, 16), "JPEG"))
    for marker, start, _ in jpeg_segments(bytes(data)):
        if marker == 0xC0:
            data[start + 5:start + 9] = struct.pack(">HH", 20000, 20000)
    return bytes(data)


def huge_webp_canvas():
    # An animation whose canvas is 16384 x 16384 but whose frames are tiny.
    frames = [Image.new("RGBA", (4, 4), (9, 9, 9, 255)), Image.new("RGBA", (4, 4), (1, 2, 3, 255))]
    data = bytearray(encoded(frames[0], "WEBP", save_all=True, append_images=frames[1:], lossless=True))
    vp8x = data.index(b"VP8X")
    data[vp8x + 12:vp8x + 18] = struct.pack("<I", 16383)[:3] * 2
    return bytes(data)


@pytest.mark.parametrize("make", [huge_png, huge_gif, huge_tiff, huge_jpeg, huge_webp_canvas],
                         ids=["png", "gif", "tiff", "jpeg", "webp_canvas"])
def test_pictures_above_the_pixel_limit_fail(tmp_path, make):
    assert decode(tmp_path, make()) is None


# ---------------------------------------------------------------- format choice

SMALL_PNG = encoded(Image.new("RGBA", (3, 2), (9, 8, 7, 6)), "PNG")


@pytest.mark.parametrize("fmt,decodes", [
    (None, True),
    ("png", True),
    ("PNG", True),
    ("Png", True),
    (".png", True),   # no such name: the signature decides
    ("svg", True),
    ("jpg", False),   # a known name is trusted, the content is not inspected
    ("gif", False),
    ("avif", False),  # recognised, never decodable
])
def test_format_name_or_signature(tmp_path, fmt, decodes):
    result = decode(tmp_path, SMALL_PNG, fmt)
    if decodes:
        assert_pixels(result, 3, 2, bytes([9, 8, 7, 6]) * 6)
    else:
        assert result is None


@pytest.mark.parametrize("data,fmt", [
    (b"", None),
    (b"\x89", None),
    (b"\x00\x00\x00\x20ftypavif\x00\x00\x00\x00", None),
    (b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00", None),
    (b"\xff\xd8\xff\xd9", "jpeg"),
])
def test_unreadable_bytes_fail(tmp_path, data, fmt):
    assert decode(tmp_path, data, fmt) is None


@pytest.mark.parametrize("make,fmt", [
    (lambda: encoded(gradient("RGB", 6, 5), "JPEG"), "JPEG"),
    (lambda: encoded(gradient("RGB", 6, 5), "GIF"), "Gif"),
    (lambda: encoded(gradient("RGB", 6, 5), "WEBP", lossless=True), "webp"),
    (pillow_tiff, "tif"),
    (pillow_tiff, "TIFF"),
])
def test_other_names_select_their_decoder(tmp_path, make, fmt):
    data = make()
    assert decode(tmp_path, data, fmt) == decode(tmp_path, data)
    assert decode(tmp_path, data, "png") is None
