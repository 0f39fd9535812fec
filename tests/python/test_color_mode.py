"""Colour mode end to end: pictures of flat colour regions, converted with
mode "none", must render back to exactly the input pixels."""
import io
import re
import shutil
import subprocess

import pytest

import pixmorf

Image = pytest.importorskip("PIL.Image")

RSVG = shutil.which("rsvg-convert")


pytestmark = pytest.mark.skipif(RSVG is None, reason="rsvg-convert is not installed")

CLEAR = (0, 0, 0, 0)


def blank(width, height, color):
    return [[color] * width for _ in range(height)]


def fill_rect(rows, left, top, right, bottom, color):
    for y in range(top, bottom):
        for x in range(left, right):
            rows[y][x] = color


def fill_disc(rows, cx, cy, radius, color, inner=None):
    """Pixels whose centre lies within radius (and outside inner, for a ring)."""
    for y, row in enumerate(rows):
        for x in range(len(row)):
            d2 = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2
            if d2 <= radius * radius and (inner is None or d2 > inner * inner):
                row[x] = color


def picture_shapes():
    rows = blank(48, 40, (240, 240, 230, 255))
    fill_rect(rows, 3, 3, 20, 15, (200, 30, 30, 255))
    fill_disc(rows, 33, 12, 9, (30, 90, 200, 255))
    fill_disc(rows, 14, 28, 10, (20, 150, 60, 255), inner=6)  # ring 4 px thick
    fill_rect(rows, 28, 22, 46, 39, (90, 60, 20, 255))  # a frame with a hole
    fill_rect(rows, 32, 26, 42, 35, (250, 200, 0, 255))
    return rows


def picture_nested():
    rows = blank(40, 40, (10, 10, 10, 255))
    fill_rect(rows, 4, 4, 36, 36, (220, 220, 220, 255))
    fill_rect(rows, 10, 10, 30, 30, (160, 40, 200, 255))
    fill_disc(rows, 20, 20, 6, (250, 250, 0, 255))
    return rows


def picture_transparent():
    rows = blank(40, 32, CLEAR)
    fill_rect(rows, 4, 4, 18, 16, (200, 30, 30, 255))
    fill_disc(rows, 28, 18, 9, (30, 90, 200, 255))
    fill_rect(rows, 6, 20, 16, 29, (20, 150, 60, 255))
    return rows


PICTURES = {"shapes": picture_shapes, "nested": picture_nested, "transparent": picture_transparent}


def flat(rows):
    return [pixel for row in rows for pixel in row]


def render(svg_text, width, height):
    result = subprocess.run([RSVG, "-f", "png", "-w", str(width), "-h", str(height)],
                            input=svg_text.encode(), capture_output=True, check=True)
    image = Image.open(io.BytesIO(result.stdout)).convert("RGBA")
    assert image.size == (width, height)
    data = image.tobytes()
    pixels = [tuple(data[i:i + 4]) for i in range(0, len(data), 4)]
    return [pixel if pixel[3] != 0 else CLEAR for pixel in pixels]


def path_lines(svg_text):
    return [line for line in svg_text.splitlines() if line.startswith("\t<path ")]


def alone(svg_text, line):
    header = svg_text.split("\t<path ", 1)[0]
    return header + line + "\n</svg>\n"


@pytest.mark.parametrize("hierarchy", ["stacked", "cutout"])
@pytest.mark.parametrize("name", sorted(PICTURES))
def test_renders_back_to_the_input(name, hierarchy):
    rows = PICTURES[name]()
    height, width = len(rows), len(rows[0])
    pixels = flat(rows)
    svg = pixmorf.convert_pixels_to_svg(pixels, (width, height), mode="none", hierarchical=hierarchy)
    assert f'width="{width}" height="{height}"' in svg
    assert render(svg, width, height) == [p if p[3] != 0 else CLEAR for p in pixels]


@pytest.mark.parametrize("name", sorted(PICTURES))
def test_cutout_shapes_do_not_overlap(name):
    rows = PICTURES[name]()
    height, width = len(rows), len(rows[0])
    pixels = flat(rows)
    svg = pixmorf.convert_pixels_to_svg(pixels, (width, height), mode="none", hierarchical="cutout")
    covered = [0] * (width * height)
    for line in path_lines(svg):
        for index, pixel in enumerate(render(alone(svg, line), width, height)):
            if pixel[3] != 0:
                covered[index] += 1
    assert max(covered) == 1
    assert covered == [1 if p[3] != 0 else 0 for p in pixels]


def test_stacked_layers_lie_on_their_background():
    # The largest region (light grey) is the background shape and covers the
    # whole picture; the others are layers painted over it.
    rows = picture_nested()
    svg = pixmorf.convert_pixels_to_svg(flat(rows), (40, 40), mode="none")
    lines = path_lines(svg)
    assert len(lines) == 4
    assert 'fill="#DCDCDC"' in lines[0]
    assert re.search(r'd="M0,0 L40,0 L40,40 L0,40 Z ', lines[0])


def test_transparent_column_stays_transparent_in_cutout():
    width = height = 10
    pixels = [CLEAR if x == 0 else (30, 120, 200, 255) for y in range(height) for x in range(width)]
    svg = pixmorf.convert_pixels_to_svg(pixels, (width, height), mode="none", hierarchical="cutout")
    assert path_lines(svg) == ['\t<path d="M0,0 L9,0 L9,10 L0,10 Z " fill="#1E78C8" transform="translate(1,0)"/>']


def test_emitted_cluster_merged_away_later_is_drawn_empty():
    # Transparent pixels wall a cluster in: it is emitted alone, then the
    # pixels that joined the transparent area merge into it and the grown
    # cluster is merged away. It stays in the document as an empty shape in
    # the colour it had; this once divided by zero and killed the process.
    palette = [(255, 0, 255, 0), (255, 255, 255, 255), (134, 255, 0, 0), (255, 0, 2, 84)]
    rows = ["0011111222223323", "2323232323232323", "2323232323232323", "3330111111000000",
            "0031001111001131", "0000110011002222", "1122222211111111", "1111222222222222",
            "1111111111112222", "2222222211111111", "1111222222112222", "2201010101010101"]
    rows += ["0101010101010101"] * 4
    pixels = [palette[int(i)] for row in rows for i in row]
    for mode in ("none", "polygon", "spline"):
        svg = pixmorf.convert_pixels_to_svg(pixels, (16, 16), mode=mode)
        assert any('d=""' in line for line in path_lines(svg)), mode
