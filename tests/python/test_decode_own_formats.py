"""The decoders of BMP, ICO, TGA, DDS, Radiance HDR, PNM and farbfeld, run
through the decode_dump test tool: pixel-exact results for every variant,
failures on truncated or corrupt data, and the decode size limit."""

import io
import os
import random
import resource
import struct
import subprocess
from pathlib import Path

import pytest
from PIL import Image

TOOLS = os.environ.get("PIXMORF_TEST_TOOLS")
pytestmark = pytest.mark.skipif(not TOOLS, reason="PIXMORF_TEST_TOOLS (test tool directory) not set")

FAILED = "Failed to decode img_bytes. "

RED, GREEN, BLUE = (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)
WHITE, BLACK, GREY = (255, 255, 255, 255), (0, 0, 0, 255), (9, 9, 9, 255)
YELLOW, CYAN = (255, 255, 0, 255), (0, 255, 255, 255)


def run_tool(tmp_path, name, data, *args, memory_limit=None):
    path = tmp_path / "input"
    path.write_bytes(data)

    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))

    return subprocess.run(
        [str(Path(TOOLS) / name), str(path), *args],
        capture_output=True,
        preexec_fn=limit_memory if memory_limit else None,
        timeout=60,
    )


def decoded_prefixes(tmp_path, data, fmt, size_offset=None):
    """{length: (width, height, list of RGBA tuples)} for every proper prefix
    of `data` that decoded; see the decode_prefixes tool for `size_offset`."""
    result = run_tool(tmp_path, "decode_prefixes", data, fmt, *([str(size_offset)] if size_offset is not None else []))
    assert result.returncode == 0
    decoded = {}
    for line in result.stdout.decode().splitlines():
        length, width, height, *rgba = line.split()
        pixels = bytes.fromhex("".join(rgba))
        decoded[int(length)] = int(width), int(height), [tuple(pixels[i : i + 4]) for i in range(0, len(pixels), 4)]
    return decoded


def decode(tmp_path, data, fmt=None):
    """(width, height, list of RGBA tuples), or None when decoding failed."""
    result = run_tool(tmp_path, "decode_dump", data, *([fmt] if fmt else []))
    if result.returncode != 0:
        assert result.returncode == 1 and result.stderr.decode() == FAILED + "\n"
        return None
    head, _, pixels = result.stdout.partition(b"\n")
    width, height = map(int, head.split())
    assert len(pixels) == width * height * 4
    return width, height, [tuple(pixels[i : i + 4]) for i in range(0, len(pixels), 4)]


# ---------------------------------------------------------------- builders


def pad4(row):
    return row + bytes(-len(row) % 4)


def pack_indices(indices, bits):
    """Palette indices packed most significant bits first."""
    value, count = 0, 0
    out = bytearray()
    for index in indices:
        value = (value << bits) | index
        count += bits
        if count == 8:
            out.append(value)
            value, count = 0, 0
    if count:
        out.append(value << (8 - count))
    return bytes(out)


def bmp_rows(rows, top_down=False):
    """Rows given top first, each already packed; padded and stored bottom-up."""
    ordered = rows if top_down else rows[::-1]
    return b"".join(pad4(row) for row in ordered)


def info_header(size, width, height, bits, compression=0, colors=0, masks=(0, 0, 0, 0)):
    if size == 12:
        return struct.pack("<IHHHH", 12, width, height, 1, bits)
    if size == 16:
        return struct.pack("<IiiHH", 16, width, height, 1, bits)
    header = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, 0, 2835, 2835, colors, 0)
    if size >= 52 and size != 64:
        header += struct.pack("<III", *masks[:3])
    if size >= 56 and size != 64:
        header += struct.pack("<I", masks[3])
    return header + bytes(size - len(header))


def bgr_palette(colors, entry_size=4):
    return b"".join(bytes((c[2], c[1], c[0])) + bytes(entry_size - 3) for c in colors)


def bmp(info, pixels, palette=b"", extra=b""):
    body = info + extra + palette + pixels
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 14 + len(info) + len(extra) + len(palette)) + body


def le16s(*values):
    return struct.pack(f"<{len(values)}H", *values)


def le32s(*values):
    return struct.pack(f"<{len(values)}I", *values)


PALETTE16 = [GREY, RED, GREEN, BLUE, YELLOW, CYAN] + [(i * 16, i, 0, 255) for i in range(6, 16)]


def ico(entries):
    """entries: (directory width, directory height, bit count, payload)."""
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for width, height, bits, payload in entries:
        data += struct.pack("<BBBBHHII", width, height, 0, 0, 1, bits, len(payload), offset)
        offset += len(payload)
    return data + b"".join(payload for _, _, _, payload in entries)


def icon_payload(width, height, bits, palette, rows, and_rows, mask_bytes=None):
    """A bitmap payload: header height doubled, AND mask rows after the colour
    rows; only the first `mask_bytes` bytes of the mask when given."""
    info = info_header(40, width, 2 * height, bits, colors=len(palette))
    masks = bmp_rows([pack_indices(row, 1) for row in and_rows])
    return info + bgr_palette(palette) + bmp_rows(rows) + masks[:mask_bytes]


def and_mask_size(width, height):
    return (width + 31) // 32 * 4 * height


# A 1-bit icon nine pixels wide, so that a mask row spans two bytes, with every
# AND-mask bit set.
WIDE_TOP, WIDE_BOTTOM = [RED, BLUE] * 4 + [BLUE], [BLUE, RED] * 4 + [RED]


def wide_icon(mask_bytes=None):
    rows = [pack_indices([[RED, BLUE].index(c) for c in row], 1) for row in (WIDE_TOP, WIDE_BOTTOM)]
    return ico([(9, 2, 1, icon_payload(9, 2, 1, [RED, BLUE], rows, [[1] * 9] * 2, mask_bytes))])


def tga(image_type, width, height, depth, descriptor, pixels, color_map=b"", map_first=0, map_length=0,
        map_bits=0, image_id=b""):
    header = struct.pack("<BBBHHBHHHHBB", len(image_id), 1 if map_bits else 0, image_type, map_first, map_length,
                         map_bits, 0, 0, width, height, depth, descriptor)
    return header + image_id + color_map + pixels


DDPF_ALPHAPIXELS, DDPF_ALPHA, DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x1, 0x2, 0x4, 0x40, 0x20000


def dds(width, height, flags, data, fourcc=b"\0\0\0\0", bits=0, masks=(0, 0, 0, 0), header_size=124):
    header = struct.pack("<7I", header_size, 0x1007, height, width, 0, 0, 1) + bytes(44)
    header += struct.pack("<II4s5I", 32, flags, fourcc, bits, *masks) + bytes(20)
    return b"DDS " + header + data


def hdr(lines, resolution, scanlines, magic=b"#?RADIANCE"):
    return magic + b"\n" + b"".join(line + b"\n" for line in lines) + b"\n" + resolution + b"\n" + scanlines


def farbfeld(width, height, samples):
    return b"farbfeld" + struct.pack(">II", width, height) + struct.pack(f">{len(samples)}H", *samples)


# ------------------------------------------------------ hand-made fixtures

# DXT colour blocks: c0 red, c1 blue (four-colour mode in DXT1) and the other
# way round (three colours and transparent black in DXT1). Indices 0,1,2,3 per row.
RED565, BLUE565 = 0xF800, 0x001F
INDICES_0123 = 0b11100100_11100100_11100100_11100100
RED_BLUE_4 = [RED, BLUE, (170, 0, 85, 255), (85, 0, 170, 255)]
BLUE_RED_4 = [BLUE, RED, (85, 0, 170, 255), (170, 0, 85, 255)]
BLUE_RED_3 = [BLUE, RED, (128, 0, 128, 255), (0, 0, 0, 0)]
ALPHA_8_STEPS = [255, 0, 219, 182, 146, 109, 73, 36]
ALPHA_6_STEPS = [0, 255, 51, 102, 153, 204, 0, 255]


def dxt5_alpha(a0, a1, codes):
    bits = sum(code << (3 * i) for i, code in enumerate(codes))
    return bytes((a0, a1)) + bits.to_bytes(6, "little")


def with_alpha(color, alpha):
    return color[:3] + (alpha,)


RLE8 = (
    # stream row 0 (bottom): 2 x 1, literal 2 3 4 (padded), end of line
    b"\x02\x01" + b"\x00\x03\x02\x03\x04\x00" + b"\x00\x00"
    # stream row 1: one 3, delta (+2, +1) to row 2 column 3, two 4s, end of bitmap
    + b"\x01\x03" + b"\x00\x02\x02\x01" + b"\x02\x04" + b"\x00\x01"
)
RLE4 = b"\x05\x12" + b"\x00\x00" + b"\x00\x03\x34\x50" + b"\x00\x01"

SCANLINE_8 = (
    b"\x02\x02\x00\x08"
    + b"\x88\x80"  # red: run of 8 x 128
    + b"\x08" + bytes(range(0, 80, 10))  # green: literal 8
    + b"\x83\xff" + b"\x05" + bytes(5)  # blue: run of 3 x 255, literal 5 zeros
    + b"\x88\x81"  # exponent 129 for all
)

# name, format name, data, width, height, expected pixels (RGBA, top row
# first), whether every proper prefix must fail (no optional trailing data)
CASES = [
    # ---- BMP
    ("bmp-4bit", "bmp", bmp(info_header(40, 3, 2, 4), bmp_rows([pack_indices([1, 2, 3], 4), pack_indices([4, 0, 5], 4)]),
                           bgr_palette(PALETTE16)), 3, 2, [RED, GREEN, BLUE, YELLOW, GREY, CYAN], True),
    ("bmp-8bit-short-palette", "bmp", bmp(info_header(40, 2, 1, 8, colors=3), bmp_rows([b"\x02\x01"]),
                                         bgr_palette([GREY, RED, GREEN])), 2, 1, [GREEN, RED], True),
    ("bmp-core-header", "bmp", bmp(info_header(12, 2, 2, 8), bmp_rows([b"\x01\x02", b"\x03\x00"]),
                                  bgr_palette(PALETTE16 + [BLACK] * 240, 3)), 2, 2, [RED, GREEN, BLUE, GREY], True),
    ("bmp-os2-16", "bmp", bmp(info_header(16, 2, 1, 24), bmp_rows([b"\x01\x02\x03\x04\x05\x06"])),
     2, 1, [(3, 2, 1, 255), (6, 5, 4, 255)], True),
    ("bmp-os2-64-1bit", "bmp", bmp(info_header(64, 9, 1, 1), bmp_rows([b"\xa5\x80"]), bgr_palette([RED, BLUE])),
     9, 1, [BLUE, RED, BLUE, RED, RED, BLUE, RED, BLUE, BLUE], True),
    ("bmp-16bit-555", "bmp", bmp(info_header(40, 4, 1, 16), bmp_rows([le16s(0x7FFF, 0x7C00, 0x0010, 0x8001)])),
     4, 1, [WHITE, RED, (0, 0, 132, 255), (0, 0, 8, 255)], True),
    ("bmp-16bit-565-bitfields", "bmp",
     bmp(info_header(40, 3, 1, 16, compression=3), bmp_rows([le16s(0x07E0, 0x0020, 0xF81F)]),
         extra=le32s(0xF800, 0x07E0, 0x001F)), 3, 1, [GREEN, (0, 4, 0, 255), (255, 0, 255, 255)], True),
    ("bmp-16bit-4444-v3", "bmp",
     bmp(info_header(56, 2, 1, 16, compression=3, masks=(0x0F00, 0x00F0, 0x000F, 0xF000)),
         bmp_rows([le16s(0x8F00, 0x00F1)])), 2, 1, [(255, 0, 0, 0x88), (0, 255, 17, 0)], True),
    ("bmp-32bit-rgb-opaque", "bmp", bmp(info_header(40, 1, 1, 32), bmp_rows([b"\x03\x02\x01\x40"])),
     1, 1, [(1, 2, 3, 255)], True),
    ("bmp-32bit-rgb-v5-alpha-mask", "bmp",
     bmp(info_header(124, 1, 1, 32, masks=(0, 0, 0, 0xFF000000)), bmp_rows([b"\x03\x02\x01\x40"])),
     1, 1, [(1, 2, 3, 0x40)], True),
    ("bmp-32bit-1010102-v4", "bmp",
     bmp(info_header(108, 1, 1, 32, compression=3, masks=(0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000)),
         bmp_rows([le32s(0x7FF80001)])), 1, 1, [(255, 128, 0, 0x55)], True),
    ("bmp-32bit-v2-rgbx", "bmp",
     bmp(info_header(52, 1, 1, 32, compression=3, masks=(0xFF, 0xFF00, 0xFF0000)), bmp_rows([b"\x01\x02\x03\x04"])),
     1, 1, [(1, 2, 3, 255)], True),
    ("bmp-32bit-alphabitfields", "bmp",
     bmp(info_header(40, 1, 1, 32, compression=6), bmp_rows([b"\x01\x02\x03\x04"]),
         extra=le32s(0xFF00, 0xFF0000, 0xFF000000, 0xFF)), 1, 1, [(2, 3, 4, 1)], True),
    ("bmp-top-down", "bmp", bmp(info_header(40, 1, -2, 24), bmp_rows([b"\x00\x00\xff", b"\xff\x00\x00"], True)),
     1, 2, [RED, BLUE], True),
    ("bmp-rle8", "bmp", bmp(info_header(40, 5, 3, 8, compression=1, colors=5), RLE8, bgr_palette(PALETTE16[:5])), 5, 3,
     [GREY, GREY, GREY, YELLOW, YELLOW, BLUE, GREY, GREY, GREY, GREY, RED, RED, GREEN, BLUE, YELLOW], True),
    ("bmp-rle4", "bmp", bmp(info_header(40, 5, 2, 4, compression=2), RLE4, bgr_palette(PALETTE16)), 5, 2,
     [BLUE, YELLOW, CYAN, GREY, GREY, RED, GREEN, RED, GREEN, RED], True),
    # ---- ICO
    ("ico-8bit-and-mask", "ico",
     ico([(2, 2, 8, icon_payload(2, 2, 8, [RED, GREEN], [b"\x00\x01", b"\x01\x00"], [[1, 0], [0, 0]]))]),
     2, 2, [(255, 0, 0, 0), GREEN, GREEN, RED], True),
    ("ico-4bit-and-mask", "ico",
     ico([(3, 1, 4, icon_payload(3, 1, 4, PALETTE16, [pack_indices([1, 2, 3], 4)], [[0, 0, 1]]))]),
     3, 1, [RED, GREEN, (0, 0, 255, 0)], True),
    # Pillow and other writers may store the AND mask short or not at all: the
    # pixels without a mask bit are opaque.
    ("ico-and-mask-missing", "ico",
     ico([(2, 2, 8, icon_payload(2, 2, 8, [RED, GREEN], [b"\x00\x01", b"\x01\x00"], [[1, 1], [1, 1]], 0))]),
     2, 2, [RED, GREEN, GREEN, RED], True),
    ("ico-1bit-wide-and-mask", "ico", wide_icon(), 9, 2, [with_alpha(c, 0) for c in WIDE_TOP + WIDE_BOTTOM], True),
    # The bottom mask row (stored first) and the first byte of the top row.
    ("ico-and-mask-cut-mid-row", "ico", wide_icon(5), 9, 2,
     [with_alpha(c, 0) for c in WIDE_TOP[:8]] + [WIDE_TOP[8]] + [with_alpha(c, 0) for c in WIDE_BOTTOM], True),
    ("ico-32bit-ignores-and-mask", "ico",
     ico([(1, 1, 32, info_header(40, 1, 2, 32) + b"\x03\x02\x01\x80" + b"\x80\0\0\0")]),
     1, 1, [(1, 2, 3, 0x80)], False),
    ("ico-tie-greater-bit-count", "ico", ico([
        (2, 1, 8, icon_payload(2, 1, 8, [RED], [b"\0\0"], [[0, 0]])),
        (1, 2, 24, icon_payload(1, 2, 24, [], [b"\xff\0\0", b"\xff\0\0"], [[0], [0]])),
        (2, 1, 24, icon_payload(2, 1, 24, [], [b"\0\xff\0\0\xff\0"], [[0, 0]])),
    ]), 1, 2, [BLUE, BLUE], False),
    ("ico-zero-means-256", "ico", ico([
        (255, 1, 32, info_header(40, 1, 2, 32) + b"\0\0\xff\xff"),
        (0, 1, 1, icon_payload(256, 1, 1, [RED, GREEN], [bytes(32)], [[0] * 256])),
    ]), 256, 1, [RED] * 256, True),
    # ---- TGA
    ("tga-16bit-attribute-alpha", "tga", tga(2, 2, 1, 16, 0x01, le16s(0xFC00, 0x001F)),
     2, 1, [RED, (0, 0, 255, 0)], True),
    ("tga-16bit-no-attribute", "tga", tga(2, 2, 1, 16, 0x00, le16s(0x7C00, 0x001F)), 2, 1, [RED, BLUE], True),
    ("tga-15bit", "tga", tga(2, 2, 1, 15, 0x01, le16s(0x03E0, 0x0001)), 2, 1, [GREEN, (0, 0, 8, 255)], True),
    ("tga-color-map-first-entry", "tga",
     tga(1, 3, 1, 8, 0x20, b"\x0a\x0c\x0b", color_map=b"\0\0\xff\0\xff\0\xff\0\0", map_first=10, map_length=3,
         map_bits=24, image_id=b"id"), 3, 1, [RED, BLUE, GREEN], True),
    ("tga-color-map-16bit-entries", "tga",
     tga(1, 2, 1, 8, 0x01, b"\x01\x00", color_map=le16s(0x7C00, 0x83E0), map_length=2, map_bits=16),
     2, 1, [GREEN, (255, 0, 0, 0)], True),
    ("tga-right-to-left-top", "tga", tga(2, 2, 2, 24, 0x30, b"\0\0\xff\0\xff\0" + b"\xff\0\0\xff\xff\xff"),
     2, 2, [GREEN, RED, WHITE, BLUE], True),
    ("tga-rle-crosses-rows", "tga", tga(10, 3, 2, 32, 0x08, b"\x83\0\0\xff\x80" + b"\x01\xff\0\0\x10\0\xff\0\x20"),
     3, 2, [(255, 0, 0, 0x80), (0, 0, 255, 0x10), (0, 255, 0, 0x20)] + [(255, 0, 0, 0x80)] * 3, True),
    ("tga-grey-rle-right-to-left", "tga", tga(11, 3, 1, 8, 0x10, b"\x00\x07\x81\x09"), 3, 1,
     [GREY, GREY, (7, 7, 7, 255)], True),
    # ---- DDS
    ("dds-dxt1-four-colours", "dds", dds(4, 1, DDPF_FOURCC, le16s(RED565, BLUE565) + le32s(INDICES_0123), b"DXT1"),
     4, 1, RED_BLUE_4, True),
    ("dds-dxt1-one-bit-alpha", "dds", dds(4, 1, DDPF_FOURCC, le16s(BLUE565, RED565) + le32s(INDICES_0123), b"DXT1"),
     4, 1, BLUE_RED_3, True),
    ("dds-dxt1-cropped", "dds", dds(5, 3, DDPF_FOURCC, (le16s(RED565, BLUE565) + le32s(INDICES_0123)) * 2, b"DXT1"),
     5, 3, (RED_BLUE_4 + [RED]) * 3, True),
    ("dds-dxt3", "dds", dds(4, 1, DDPF_FOURCC, b"\x10\x32" + bytes(6) + le16s(BLUE565, RED565) + le32s(INDICES_0123),
                            b"DXT3"), 4, 1, [with_alpha(c, a) for c, a in zip(BLUE_RED_4, (0, 17, 34, 51))], True),
    ("dds-dxt5-eight-steps", "dds",
     dds(4, 2, DDPF_FOURCC, dxt5_alpha(255, 0, list(range(8)) * 2) + le16s(RED565, BLUE565) + le32s(INDICES_0123),
         b"DXT5"), 4, 2, [with_alpha(RED_BLUE_4[i % 4], a) for i, a in enumerate(ALPHA_8_STEPS)], True),
    ("dds-dxt5-six-steps", "dds",
     dds(4, 2, DDPF_FOURCC, dxt5_alpha(0, 255, list(range(8)) * 2) + le16s(BLUE565, RED565) + le32s(INDICES_0123),
         b"DXT5"), 4, 2, [with_alpha(BLUE_RED_4[i % 4], a) for i, a in enumerate(ALPHA_6_STEPS)], True),
    ("dds-rgb565", "dds", dds(2, 1, DDPF_RGB, le16s(0x07E0, 0x0821), bits=16, masks=(0xF800, 0x07E0, 0x001F, 0)),
     2, 1, [GREEN, (8, 4, 8, 255)], True),
    ("dds-rgba-bgr-order", "dds",
     dds(1, 1, DDPF_RGB | DDPF_ALPHAPIXELS, b"\x01\x02\x03\x04", bits=32, masks=(0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
     1, 1, [(1, 2, 3, 4)], True),
    ("dds-luminance", "dds", dds(2, 1, DDPF_LUMINANCE, b"\x10\xf0", bits=8, masks=(0xFF, 0, 0, 0)),
     2, 1, [(16, 16, 16, 255), (240, 240, 240, 255)], True),
    ("dds-luminance-alpha", "dds",
     dds(1, 1, DDPF_LUMINANCE | DDPF_ALPHAPIXELS, b"\x10\x80", bits=16, masks=(0xFF, 0, 0, 0xFF00)),
     1, 1, [(16, 16, 16, 128)], True),
    ("dds-alpha-only", "dds", dds(2, 1, DDPF_ALPHA, b"\x00\x7f", bits=8, masks=(0, 0, 0, 0xFF)),
     2, 1, [(0, 0, 0, 0), (0, 0, 0, 127)], True),
    # ---- Radiance HDR
    ("hdr-flat", "hdr", hdr([b"FORMAT=32-bit_rle_rgbe"], b"-Y 1 +X 4",
                            bytes((128, 64, 32, 129, 1, 0, 255, 136, 200, 200, 200, 0, 1, 2, 0, 135))),
     4, 1, [(255, 128, 64, 255), (255, 0, 255, 255), BLACK, (128, 255, 0, 255)], True),
    ("hdr-old-rle", "hdr", hdr([b"EXPOSURE=4.0", b"# made by hand"], b"-Y 1 +X 300",
                               bytes((64, 32, 16, 129, 1, 1, 1, 43, 1, 1, 1, 1))),
     300, 1, [(128, 64, 32, 255)] * 300, True),
    ("hdr-adaptive-rle", "hdr", hdr([], b"-Y  2  +X  8", SCANLINE_8 * 2, magic=b"#?RGBE"),
     8, 2, [(255, g, 255 if i < 3 else 0, 255) for i, g in enumerate((0, 20, 40, 60, 80, 100, 120, 139))] * 2,
     True),
    # ---- PNM
    ("pbm-plain", "pbm", b"P1\n# comment\n3 2\n0 1 0\n1\n10", 3, 2, [WHITE, BLACK, WHITE, BLACK, BLACK, WHITE], True),
    ("pbm-raw", "pbm", b"P4 9 2\n\x80\x00\x7f\x00", 9, 2, [BLACK] + [WHITE] * 8 + [WHITE] + [BLACK] * 7 + [WHITE],
     True),
    ("pgm-plain-scaled", "pgm", b"P2 4 1 10\n1 3 7 0", 4, 1,
     [(v, v, v, 255) for v in (26, 77, 179, 0)], True),
    ("ppm-plain-comments", "ppm", b"P3 #a\n2 #b\n1\n#c\n255\n255 0 0\n0 0 9", 2, 1, [RED, (0, 0, 9, 255)], True),
    ("pgm-raw-16bit-scaled", "pgm", b"P5 3 1 1000\n" + struct.pack(">3H", 3, 500, 1000), 3, 1,
     [BLACK, (128, 128, 128, 255), WHITE], True),
    ("ppm-raw-16bit", "ppm", b"P6\n1 1\n65535\n\x12\xff\x34\x00\xff\xff", 1, 1, [(0x12, 0x34, 0xFF, 255)], True),
    ("pam-blackandwhite", "pam", b"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE\nENDHDR\n\x00\x01",
     2, 1, [BLACK, WHITE], True),
    ("pam-blackandwhite-alpha", "pam",
     b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE_ALPHA\nENDHDR\n\x01\x00", 1, 1,
     [(255, 255, 255, 0)], True),
    ("pam-grayscale-alpha", "pam",
     b"P7\n# comment\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 15\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x05\x0f", 1, 1,
     [(85, 85, 85, 255)], True),
    ("pam-rgb-alpha-16bit", "pam",
     b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n\x01\x02\x03\x04\x05\x06\x07\x08",
     1, 1, [(1, 3, 5, 7)], True),
    ("pam-grayscale", "pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n\x42", 1, 1,
     [(0x42, 0x42, 0x42, 255)], True),
    ("pam-rgb-implied-by-depth", "pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n\x01\x02\x03", 1, 1,
     [(1, 2, 3, 255)], True),
    # ---- farbfeld
    ("farbfeld", "ff", farbfeld(2, 1, [0x12FF, 0x3400, 0xFFFF, 0x0000, 0x00FF, 0x8000, 0x0100, 0xFFFF]), 2, 1,
     [(0x12, 0x34, 0xFF, 0), (0, 0x80, 1, 255)], True),
]

CASE_IDS = [case[0] for case in CASES]
CASES_BY_NAME = {case[0]: case for case in CASES}


@pytest.mark.parametrize("name,fmt,data,width,height,expected,complete", CASES, ids=CASE_IDS)
def test_hand_made_variant_decodes_pixel_exact(tmp_path, name, fmt, data, width, height, expected, complete):
    assert decode(tmp_path, data, fmt) == (width, height, expected)


@pytest.mark.parametrize("name,fmt,data,width,height,expected,complete", CASES, ids=CASE_IDS)
def test_every_truncation_fails_or_loses_only_optional_data(tmp_path, name, fmt, data, width, height, expected,
                                                            complete):
    decoded = decoded_prefixes(tmp_path, data, fmt)
    if complete:
        assert decoded == {}
    else:
        assert all(result == (width, height, expected) for result in decoded.values())


def without_cut_mask_bits(pixels, width, height, mask_bytes):
    """The pixels of an icon whose AND mask keeps only its first `mask_bytes`
    bytes: a pixel whose mask byte is gone is opaque, its colour unchanged."""
    stride = (width + 31) // 32 * 4
    kept = []
    for index, pixel in enumerate(pixels):
        y, x = divmod(index, width)
        kept.append(pixel if (height - 1 - y) * stride + x // 8 < mask_bytes else pixel[:3] + (255,))
    return kept


# Icons whose chosen image is the last one in the file, a bitmap below 32 bits
# with its whole AND mask.
MASKED_ICONS = ["ico-8bit-and-mask", "ico-4bit-and-mask", "ico-zero-means-256", "ico-1bit-wide-and-mask"]


@pytest.mark.parametrize("name", MASKED_ICONS)
def test_icon_cut_in_its_and_mask_decodes_with_the_mask_bits_left(tmp_path, name):
    # Every cut of the chosen image, its directory size following the cut: a
    # cut before the end of the colour rows fails, a cut inside the AND mask
    # decodes with the mask bits that are left.
    _, fmt, data, width, height, expected, _ = CASES_BY_NAME[name]
    (count,) = struct.unpack_from("<H", data, 4)
    size_offset = 6 + 16 * (count - 1) + 8
    mask_start = len(data) - and_mask_size(width, height)
    assert decoded_prefixes(tmp_path, data, fmt, size_offset) == {
        length: (width, height, without_cut_mask_bits(expected, width, height, length - mask_start))
        for length in range(mask_start, len(data))
    }


# ------------------------------------------------------- Pillow round trips


def sample_picture(mode):
    rng = random.Random(7)
    picture = Image.new("RGBA", (7, 5))
    picture.putdata([tuple(rng.randrange(256) for _ in range(4)) for _ in range(35)])
    if mode == "P":
        return picture.convert("RGB").quantize(6)
    return picture.convert(mode)


# format, mode, save options, whether alpha survives, whether every prefix fails
PILLOW_CASES = [
    ("bmp", "1", {}, False, True),
    ("bmp", "L", {}, False, True),
    ("bmp", "P", {}, False, True),
    ("bmp", "RGB", {}, False, True),
    ("bmp", "RGBA", {}, False, True),  # 32-bit without alpha mask: opaque
    ("ico", "RGBA", {"bitmap_format": "bmp", "sizes": [(7, 5)]}, True, True),
    ("tga", "L", {}, True, False),
    ("tga", "LA", {"compression": "tga_rle"}, True, False),
    ("tga", "P", {}, True, False),
    ("tga", "P", {"compression": "tga_rle"}, True, False),
    ("tga", "RGB", {"orientation": 1}, True, False),
    ("tga", "RGBA", {}, True, False),
    ("tga", "RGBA", {"compression": "tga_rle"}, True, False),
    ("dds", "RGB", {}, True, True),
    ("dds", "RGBA", {}, True, True),
    ("pbm", "1", {}, True, True),
    ("pgm", "L", {}, True, True),
    ("ppm", "RGB", {}, True, True),
]
PILLOW_IDS = [f"{fmt}-{mode}-{'-'.join(map(str, options.values())) or 'plain'}"
              for fmt, mode, options, _, _ in PILLOW_CASES]


def rgba_pixels(picture):
    data = picture.convert("RGBA").tobytes()
    return [tuple(data[i : i + 4]) for i in range(0, len(data), 4)]


def pillow_file(fmt, mode, options):
    picture = sample_picture(mode)
    buffer = io.BytesIO()
    picture.save(buffer, {"pbm": "PPM", "pgm": "PPM"}.get(fmt, fmt.upper()), **options)
    return buffer.getvalue(), rgba_pixels(picture)


@pytest.mark.parametrize("fmt,mode,options,keeps_alpha,complete", PILLOW_CASES, ids=PILLOW_IDS)
def test_pillow_written_file_decodes_pixel_exact(tmp_path, fmt, mode, options, keeps_alpha, complete):
    data, expected = pillow_file(fmt, mode, options)
    pixels = [p if keeps_alpha else p[:3] + (255,) for p in expected]
    assert decode(tmp_path, data, fmt) == (7, 5, pixels)
    decoded = decoded_prefixes(tmp_path, data, fmt)
    if complete:
        assert decoded == {}
    else:
        assert all(result == (7, 5, pixels) for result in decoded.values())


def test_16bit_pgm_keeps_the_high_byte(tmp_path):
    rng = random.Random(3)
    values = [rng.randrange(65536) for _ in range(35)]
    picture = Image.frombytes("I;16", (7, 5), struct.pack("<35H", *values))
    buffer = io.BytesIO()
    picture.save(buffer, "PPM")
    assert buffer.getvalue().startswith(b"P5\n7 5\n65535\n")
    assert decode(tmp_path, buffer.getvalue(), "pgm") == (7, 5, [(v >> 8,) * 3 + (255,) for v in values])


@pytest.mark.parametrize("mode", ["1", "L", "P", "RGB"])
def test_pillow_icon_with_short_and_mask_decodes_opaque(tmp_path, mode):
    picture = sample_picture(mode)
    buffer = io.BytesIO()
    picture.save(buffer, "ICO", bitmap_format="bmp", sizes=[(7, 5)])
    data = buffer.getvalue()
    # Pillow writes the (all clear) AND mask without row padding: shorter than
    # the 4-byte rows that the picture needs.
    bits, size, offset = struct.unpack_from("<HII", data, 12)
    (colors,) = struct.unpack_from("<I", data, offset + 32)
    palette_size = 4 * (colors or 1 << bits) if bits <= 8 else 0
    mask_size = size - 40 - palette_size - (7 * bits + 31) // 32 * 4 * 5
    assert 0 < mask_size < and_mask_size(7, 5)
    # Pillow's own reader takes the mask from the end of the image, where it
    # overlaps the colour rows, so only its colours are a reference here.
    reference = Image.open(io.BytesIO(data)).convert("RGB").tobytes()
    expected = [tuple(reference[i : i + 3]) + (255,) for i in range(0, len(reference), 3)]
    assert decode(tmp_path, data, "ico") == (7, 5, expected)


def test_icon_with_png_payload(tmp_path):
    picture = sample_picture("RGBA")
    png = io.BytesIO()
    picture.save(png, "PNG")
    buffer = io.BytesIO()
    picture.save(buffer, "ICO", sizes=[(7, 5)])
    assert decode(tmp_path, buffer.getvalue(), "ico") == (7, 5, rgba_pixels(picture))


# ------------------------------------------------------- corrupt variants


def replaced(data, offset, new):
    return data[:offset] + new + data[offset + len(new):]


def case_data(name):
    return CASES_BY_NAME[name][2]


def rle8_bmp(stream, width=2, height=1):
    return bmp(info_header(40, width, height, 8, compression=1, colors=1), stream, bgr_palette([RED]))


CORRUPT = [
    ("bmp", replaced(case_data("bmp-4bit"), 0, b"BX")),
    ("bmp", replaced(case_data("bmp-4bit"), 14, le32s(41))),  # unknown header size
    ("bmp", replaced(case_data("bmp-4bit"), 28, le16s(2))),  # 2 bits per pixel
    ("bmp", replaced(case_data("bmp-4bit"), 30, le32s(4))),  # JPEG compression
    ("bmp", replaced(case_data("bmp-os2-16"), 18, struct.pack("<i", -1))),  # negative width
    ("bmp", replaced(case_data("bmp-8bit-short-palette"), -4, b"\x03")),  # index beyond the palette
    ("bmp", bmp(info_header(40, 1, 1, 24, compression=3), b"\0" * 4, extra=le32s(0xFF, 0xFF00, 0xFF0000))),
    ("bmp", bmp(info_header(40, 1, 1, 16, compression=3), b"\0" * 4, extra=le32s(0xF0F, 0xF0, 0xF000))),
    ("bmp", bmp(info_header(40, 1, 1, 16, compression=3), b"\0" * 4, extra=le32s(0x1F0000, 0x7E0, 0x1F))),
    ("bmp", rle8_bmp(b"\x03\x00\x00\x01")),  # run past the end of the row
    ("bmp", rle8_bmp(b"\x00\x02\x03\x00\x00\x01")),  # delta past the end of the row
    ("bmp", rle8_bmp(b"\x00\x02\x00\x02\x00\x01")),  # delta past the last row
    ("bmp", rle8_bmp(b"\x00\x03\0\0\0\0\x00\x01")),  # literal past the end of the row
    ("bmp", rle8_bmp(b"\x00\x00\x00\x00\x00\x01")),  # end of line past the last row
    ("bmp", rle8_bmp(b"\x01\x01\x00\x01")),  # index beyond the palette
    ("bmp", bmp(info_header(40, 2, 1, 24, compression=1), b"\x00\x01")),
    ("ico", replaced(case_data("ico-8bit-and-mask"), 2, le16s(2))),  # a cursor
    ("ico", replaced(case_data("ico-8bit-and-mask"), 4, le16s(0))),  # no images
    ("ico", replaced(case_data("ico-8bit-and-mask"), 14, le32s(1000))),  # payload beyond the file
    ("ico", case_data("ico-8bit-and-mask")[:-1]),  # file cut: the image passes its end
    ("ico", replaced(case_data("ico-8bit-and-mask"), 22 + 8, struct.pack("<i", -4))),  # top-down icon
    ("tga", replaced(case_data("tga-15bit"), 2, b"\x00")),  # no image data
    ("tga", replaced(case_data("tga-15bit"), 2, b"\x04")),
    ("tga", replaced(case_data("tga-15bit"), 1, b"\x02")),  # colour map type 2
    ("tga", replaced(case_data("tga-15bit"), 16, b"\x12")),  # 18 bits per pixel
    ("tga", replaced(case_data("tga-15bit"), 17, b"\x41")),  # interleaved
    ("tga", replaced(case_data("tga-color-map-first-entry"), -3, b"\x09")),  # index below the first entry
    ("tga", replaced(case_data("tga-color-map-first-entry"), -1, b"\x0d")),  # index past the map
    ("tga", tga(1, 1, 1, 8, 0, b"\0")),  # colour-mapped without a map
    ("tga", tga(10, 2, 1, 24, 0, b"\x82\0\0\0")),  # run longer than the picture
    ("dds", replaced(case_data("dds-dxt1-four-colours"), 4, le32s(123))),
    ("dds", replaced(case_data("dds-dxt1-four-colours"), 76, le32s(31))),
    ("dds", replaced(case_data("dds-dxt1-four-colours"), 84, b"DX10")),
    ("dds", replaced(case_data("dds-dxt1-four-colours"), 84, b"DXT2")),
    ("dds", replaced(case_data("dds-luminance"), 88, le32s(12))),  # 12 bits per pixel
    ("dds", replaced(case_data("dds-luminance"), 92, le32s(0xFF00))),  # mask outside the pixel
    ("dds", replaced(case_data("dds-rgb565"), 96, le32s(0x0720))),  # mask not contiguous
    ("dds", replaced(case_data("dds-luminance"), 80, le32s(0x200))),  # YUV
    ("hdr", hdr([b"FORMAT=32-bit_rle_xyze"], b"-Y 1 +X 1", b"\x80\x80\x80\x80")),
    ("hdr", hdr([], b"+Y 1 +X 1", b"\x80\x80\x80\x80")),
    ("hdr", hdr([], b"-Y 1 -X 1", b"\x80\x80\x80\x80")),
    ("hdr", hdr([], b"-Y 1 +X 1 2", b"\x80\x80\x80\x80")),
    ("hdr", hdr([], b"-Y 1 +X 1", b"\x80\x80\x80\x80", magic=b"#?RADIANCEX")),
    ("hdr", hdr([], b"-Y 1 +X 2", b"\x01\x01\x01\x01" + b"\x80\x80\x80\x80")),  # repeat with nothing before
    ("hdr", hdr([], b"-Y 1 +X 8", b"\x02\x02\x00\x09" + SCANLINE_8[4:])),  # scanline width mismatch
    ("hdr", hdr([], b"-Y 1 +X 8", b"\x02\x02\x00\x08\x89\x80" + SCANLINE_8[6:])),  # run past the width
    ("hdr", hdr([], b"-Y 1 +X 8", b"\x02\x02\x00\x08\x00" + SCANLINE_8[4:])),  # empty literal
    ("hdr", b"#?RADIANCE\n-Y 1 +X 1\n\x80\x80\x80\x80"),  # no empty line after the header
    ("pgm", b"P5 1 1 100\n\xc8"),  # sample above maxval
    ("pgm", b"P2 1 1 100\n101"),
    ("pgm", b"P5 1 1 0\n\x00"),
    ("pgm", b"P5 1 1 70000\n\x00\x00"),
    ("pgm", b"P2 2 1 9\n1 x"),
    ("pbm", b"P1 2 1\n0 2"),
    ("ppm", b"P6 1 1 255 \x00\x00"),  # the raster is cut short
    ("ppm", b"P61 1 255\n\0\0\0"),
    ("pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE BLACKANDWHITE\nENDHDR\n\x01"),
    ("pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n\x01\x01"),
    ("pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n\x01"),
    ("pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nCOLOUR red\nENDHDR\n\x01"),
    ("pam", b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nENDHDR\n\x01"),
    ("pam", b"P8\n"),
    ("ff", b"farbfelt" + case_data("farbfeld")[8:]),
]


@pytest.mark.parametrize("fmt,data", CORRUPT, ids=[f"{fmt}-{i}" for i, (fmt, _) in enumerate(CORRUPT)])
def test_corrupt_variant_fails(tmp_path, fmt, data):
    assert decode(tmp_path, data, fmt) is None


# ------------------------------------------------------- size limit

HUGE = 100000
LIMITED_MEMORY = 256 * 1024 * 1024

OVERSIZED = [
    ("bmp", bmp(info_header(40, HUGE, HUGE, 24), b"")),
    ("bmp", rle8_bmp(b"\x00\x01", HUGE, -HUGE)),
    ("ico", ico([(0, 0, 32, info_header(40, HUGE, 2 * HUGE, 32))])),
    ("tga", tga(2, 65535, 65535, 32, 0, b"")),
    ("tga", tga(10, 65535, 65535, 32, 0, b"\xff\0\0\0\0" * 8)),
    ("dds", dds(HUGE, HUGE, DDPF_FOURCC, b"", b"DXT5")),
    ("dds", dds(HUGE, HUGE, DDPF_RGB, b"", bits=32, masks=(0xFF, 0xFF00, 0xFF0000, 0))),
    ("hdr", hdr([], b"-Y 100000 +X 100000", b"\x80\x80\x80\x80")),
    ("ppm", b"P6 100000 100000 255\n"),
    ("ppm", b"P3 100000 100000 255\n0 0 0"),
    ("pam", b"P7\nWIDTH 100000\nHEIGHT 100000\nDEPTH 4\nMAXVAL 255\nENDHDR\n"),
    ("ff", farbfeld(HUGE, HUGE, [])),
    # Within the pixel limit but beyond the memory this process may use: the
    # allocation fails and is reported as a decode failure.
    ("bmp", rle8_bmp(b"\x00\x01", 11000, 11000)),
]


@pytest.mark.skipif(
    os.environ.get("PIXMORF_SANITIZED") == "1",
    reason="AddressSanitizer reserves more address space than the limit allows",
)
@pytest.mark.parametrize("fmt,data", OVERSIZED, ids=[f"{fmt}-{i}" for i, (fmt, _) in enumerate(OVERSIZED)])
def test_oversized_picture_fails_cleanly_in_little_memory(tmp_path, fmt, data):
    result = run_tool(tmp_path, "decode_dump", data, fmt, memory_limit=LIMITED_MEMORY)
    assert (result.returncode, result.stderr.decode()) == (1, FAILED + "\n")


# A side of 0 with a huge other side is a picture without pixels: decoded at
# once, never walked row by row.
EMPTY = [
    ("bmp", bmp(info_header(40, 0, 100000, 24), b""), 0, 100000),
    ("bmp", rle8_bmp(b"\x00\x01", 100000, 0), 100000, 0),
    ("tga", tga(10, 0, 65535, 24, 0, b""), 0, 65535),
    ("dds", dds(0, 0xFFFFFFFF, DDPF_FOURCC, b"", b"DXT1"), 0, 0xFFFFFFFF),
    ("hdr", hdr([], b"-Y 4000000000 +X 0", b""), 0, 4000000000),
    ("pbm", b"P4 0 4000000000\n", 0, 4000000000),
    ("pgm", b"P2 0 4000000000 255\n", 0, 4000000000),
    ("pam", b"P7\nWIDTH 4000000000\nHEIGHT 0\nDEPTH 1\nMAXVAL 255\nENDHDR\n", 4000000000, 0),
    ("ff", farbfeld(0, 0xFFFFFFFF, []), 0, 0xFFFFFFFF),
]


@pytest.mark.parametrize("fmt,data,width,height", EMPTY, ids=[f"{fmt}-{i}" for i, (fmt, *_) in enumerate(EMPTY)])
def test_picture_without_pixels_decodes_empty(tmp_path, fmt, data, width, height):
    assert decode(tmp_path, data, fmt) == (width, height, [])


# ------------------------------------------------------- format selection


@pytest.mark.parametrize("name", ["bmp-4bit", "ico-8bit-and-mask", "dds-dxt1-four-colours", "hdr-flat",
                                  "pbm-plain", "pgm-raw-16bit-scaled", "pam-grayscale", "farbfeld"])
def test_recognised_by_signature_and_upper_case_name(tmp_path, name):
    _, fmt, data, width, height, expected, _ = CASES_BY_NAME[name]
    assert decode(tmp_path, data) == (width, height, expected)
    assert decode(tmp_path, data, fmt.upper()) == (width, height, expected)


@pytest.mark.parametrize("name", ["tga-15bit", "hdr-adaptive-rle"])
def test_decoded_only_when_named(tmp_path, name):
    _, fmt, data, width, height, expected, _ = CASES_BY_NAME[name]
    assert decode(tmp_path, data) is None  # TGA has no signature; "#?RGBE" is not one
    assert decode(tmp_path, data, fmt) == (width, height, expected)
