"""Writes the seed corpus of fuzz_convert (see the input layout at the top of
fuzz/fuzz_convert.cpp): python3 fuzz/corpus/make_fuzz_convert_seeds.py"""

import pathlib
import struct

OUT = pathlib.Path(__file__).with_name("fuzz_convert")

BINARY, CUTOUT = 1, 2
NONE, POLYGON, SPLINE = 0 << 2, 1 << 2, 2 << 2
RAW, PALETTE, RUNS, BITS = 0 << 4, 1 << 4, 2 << 4, 3 << 4
ZERO_SIDE, DIRECT = 0x40, 0x80

# Option selectors: index into each option's table of edge values.
DEFAULTS = dict(speckle=0, precision=0, layer=0, corner=0, length=0, iterations=0, splice=0, path=0)
# Indices of notable table entries.
SPECKLE_0, SPECKLE_MAX = 1, 7
PRECISION_8, PRECISION_0, PRECISION_MIN = 1, 5, 7
LAYER_0, LAYER_MIN = 1, 6
CORNER_0, CORNER_MIN, CORNER_MAX = 1, 7, 8
LENGTH_ZERO, LENGTH_NEG, LENGTH_TINY, LENGTH_INF, LENGTH_NAN = 1, 3, 6, 9, 11
ITER_0, ITER_MAX = 1, 7
PATH_0, PATH_65535, PATH_65536, PATH_MAX = 1, 7, 8, 9


def seed(flags, width, height, pixels=b"", **options):
    chosen = {**DEFAULTS, **options}
    head = bytes([flags] + [chosen[k] for k in DEFAULTS] + [width, height])
    return head + pixels


def palette(*colours):
    return bytes([len(colours) - 1]) + b"".join(bytes(c) for c in colours)


def runs(*pairs):
    return b"".join(bytes([length - 1, index]) for length, index in pairs)


WHITE, BLACK = (255, 255, 255, 255), (0, 0, 0, 255)
RED, GREEN, BLUE = (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)
YELLOW, CYAN, MAGENTA = (255, 255, 0, 255), (0, 255, 255, 255), (255, 0, 255, 255)
CLEAR = (0, 0, 0, 0)


def blocks(width, height, cell):
    """Palette indices of a pattern of cells, two per byte."""
    indices = [((x // cell) + 2 * (y // cell)) % 4 for y in range(height) for x in range(width)]
    indices += [0] * (len(indices) % 2)
    return bytes(indices[i] | indices[i + 1] << 4 for i in range(0, len(indices), 2))


def bits(width, height, black):
    out, byte = bytearray(), 0
    for p in range(width * height):
        if black(p % width, p // width):
            byte |= 1 << (p % 8)
        if p % 8 == 7:
            out.append(byte)
            byte = 0
    out.append(byte)
    return bytes(out)


def ring(x, y):
    return 4 <= x < 20 and 4 <= y < 20 and not (8 <= x < 16 and 8 <= y < 16)


SEEDS = {
    "colour_stacked_spline": seed(SPLINE | PALETTE, 16, 16, palette(WHITE, RED, BLUE, GREEN) + blocks(16, 16, 5)),
    "colour_cutout_polygon": seed(CUTOUT | POLYGON | RUNS, 20, 12,
                                  palette(WHITE, BLACK, RED) + runs((30, 0), (9, 1), (11, 2), (60, 0), (80, 1))),
    "colour_transparent_keyed": seed(SPLINE | RUNS, 12, 12, palette(CLEAR, RED, (0, 0, 0, 128)) +
                                     runs((40, 0), (30, 1), (20, 2), (54, 0))),
    "colour_all_candidates_keyed": seed(NONE | PALETTE, 8, 8, palette(CLEAR, RED, GREEN, BLUE, YELLOW, CYAN, MAGENTA)
                                        + bytes(range(0, 256, 17))[:32]),
    "colour_diagonal_joining": seed(SPLINE | BITS, 10, 10, bytes([255]) + bits(10, 10, lambda x, y: (x + y) % 2 == 0),
                                    layer=LAYER_0),
    "colour_exact_matching": seed(POLYGON | RAW, 6, 5, bytes((i * 37) % 256 for i in range(6 * 5 * 4)),
                                  precision=PRECISION_8),
    "colour_precision_zero": seed(SPLINE | PALETTE, 4, 4, palette(WHITE, BLACK) + bytes([0x10] * 8),
                                  precision=PRECISION_0),
    "binary_ring_none": seed(BINARY | NONE | BITS, 24, 24, bytes([255]) + bits(24, 24, ring)),
    "binary_ring_spline": seed(BINARY | SPLINE | BITS, 24, 24, bytes([255]) + bits(24, 24, ring)),
    "binary_small_dots_polygon": seed(BINARY | POLYGON | BITS, 48, 48,
                                    bytes([0]) + bits(48, 48, lambda x, y: x % 2 == 0 and y % 2 == 0),
                                    speckle=SPECKLE_0),
    "binary_tiny_length_many_iterations": seed(BINARY | SPLINE | BITS, 16, 16, bytes([255]) +
                                               bits(16, 16, lambda x, y: (x - 8) ** 2 + (y - 8) ** 2 < 40),
                                               length=LENGTH_TINY, iterations=ITER_MAX),
    "binary_nan_length": seed(BINARY | SPLINE | BITS, 16, 16, bytes([255]) + bits(16, 16, ring), length=LENGTH_NAN),
    "binary_inf_length_extreme_angles": seed(BINARY | SPLINE | BITS, 16, 16, bytes([255]) + bits(16, 16, ring),
                                             length=LENGTH_INF, corner=CORNER_MIN, splice=CORNER_MAX),
    "binary_zero_iterations": seed(BINARY | SPLINE | BITS, 8, 8, bytes([255]) + bits(8, 8, lambda x, y: x < 4),
                                   iterations=ITER_0, length=LENGTH_NEG),
    "spline_precision_out_of_range": seed(BINARY | SPLINE | BITS, 8, 8, bytes([255]) + bits(8, 8, lambda x, y: y < 3),
                                          path=PATH_65536),
    "spline_precision_zero": seed(SPLINE | PALETTE, 9, 9, palette(WHITE, BLUE) + blocks(9, 9, 3), path=PATH_0),
    "polygon_precision_max": seed(POLYGON | PALETTE, 9, 9, palette(WHITE, BLUE) + blocks(9, 9, 3), path=PATH_MAX,
                                  speckle=SPECKLE_MAX),
    "zero_width_long_height": seed(ZERO_SIDE | DIRECT, 1, 4),
    "zero_height_long_width_binary": seed(ZERO_SIDE | DIRECT | BINARY, 2, 3),
    "empty": b"",
    "one_pixel": seed(SPLINE | RAW, 1, 1, bytes([10, 20, 30, 0])),
    "raw_value_options": seed(SPLINE | PALETTE, 8, 8, palette(WHITE, RED) + blocks(8, 8, 2)[:4])[:1]
    + bytes([8]) + struct.pack("<Q", 3) + bytes([9]) + struct.pack("<i", 5) + bytes([0, 0, 12])
    + struct.pack("<d", 2.5) + bytes([0, 0, 10]) + struct.pack("<I", 4) + bytes([8, 8])
    + palette(WHITE, RED) + blocks(8, 8, 2),
}


def main():
    OUT.mkdir(exist_ok=True)
    for name, data in SEEDS.items():
        (OUT / name).write_bytes(data)


if __name__ == "__main__":
    main()
