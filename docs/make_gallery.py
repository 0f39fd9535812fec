"""Renders the README gallery: for each picture, the input beside the rendered
output of each conversion mode, one PNG per picture under docs/gallery/.

    .venv/bin/python docs/make_gallery.py [IMAGES_DIR]

IMAGES_DIR defaults to ../shared/images beside the repository. Needs Pillow,
rsvg-convert and the installed pixmorf module.
"""

import io
import subprocess
import sys
from pathlib import Path

from PIL import Image, ImageDraw

import pixmorf

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "docs" / "gallery"
TILE = 220  # the longer side of every tile, in pixels

# (output name, file, crop box or None, colour mode); pictures chosen for
# their kind: a flat icon with transparency, clip art, a shaded icon, line
# art and a photograph.
PICTURES = [
    ("icon", "sample.png", None, "color"),
    ("clipart", "illustration-fastfood.png", (150, 350, 1250, 1250), "color"),
    ("shaded-icon", "icon-help-browser-128.png", None, "color"),
    ("lineart", "lineart-baseball-glove.png", (100, 200, 900, 1000), "binary"),
    ("photo", "photo-1080p.png", (500, 200, 1300, 900), "color"),
]

MODES = [
    ("input", None),
    ("none", {"mode": "none"}),
    ("polygon", {"mode": "polygon"}),
    ("spline", {}),
    ("spline, cutout", {"hierarchical": "cutout"}),
]


def fit(image: Image.Image) -> Image.Image:
    scale = TILE / max(image.size)
    size = (max(1, round(image.width * scale)), max(1, round(image.height * scale)))
    return image.resize(size, Image.LANCZOS)


def render(svg: str, size: tuple[int, int]) -> Image.Image:
    png = subprocess.run(
        ["rsvg-convert", "-w", str(size[0]), "-h", str(size[1])],
        input=svg.encode(), capture_output=True, check=True,
    ).stdout
    return Image.open(io.BytesIO(png)).convert("RGBA")


def checkerboard(size: tuple[int, int]) -> Image.Image:
    board = Image.new("RGBA", size, (255, 255, 255, 255))
    draw = ImageDraw.Draw(board)
    for y in range(0, size[1], 10):
        for x in range(0, size[0], 10):
            if (x // 10 + y // 10) % 2:
                draw.rectangle([x, y, x + 9, y + 9], fill=(225, 225, 225, 255))
    return board


def main() -> None:
    images = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT.parent / "shared" / "images"
    OUT.mkdir(parents=True, exist_ok=True)
    for name, file, crop, colormode in PICTURES:
        picture = Image.open(images / file).convert("RGBA")
        if crop:
            picture = picture.crop(crop)
        # Convert at a size close to the tile, so the gallery shows what the
        # converter makes of the pixels it sees.
        small = fit(picture) if max(picture.size) > TILE * 2 else picture
        data = small.tobytes()
        pixels = [tuple(data[i : i + 4]) for i in range(0, len(data), 4)]
        tiles = []
        for label, options in MODES:
            if colormode == "binary" and options and "hierarchical" in options:
                continue  # binary mode has no hierarchy
            if options is None:
                tile = fit(small)
            else:
                svg = pixmorf.convert_pixels_to_svg(pixels, small.size, colormode=colormode, **options)
                tile = render(svg, fit(small).size)
            tiles.append((label, tile))
        width = sum(t.width for _, t in tiles) + 10 * (len(tiles) + 1)
        height = max(t.height for _, t in tiles) + 34
        sheet = Image.new("RGBA", (width, height), (255, 255, 255, 255))
        draw = ImageDraw.Draw(sheet)
        x = 10
        for label, tile in tiles:
            backdrop = checkerboard(tile.size)
            backdrop.alpha_composite(tile)
            sheet.paste(backdrop, (x, 10))
            draw.text((x, tile.height + 16), label, fill=(0, 0, 0, 255))
            x += tile.width + 10
        sheet.convert("RGB").save(OUT / f"{name}.png", optimize=True)
        print(OUT / f"{name}.png")


if __name__ == "__main__":
    main()
