"""Binary mode end to end: which pixels become black shapes, checked by rendering the SVG."""

import random
import re
import shutil
import subprocess
from collections import deque
from pathlib import Path

import pytest
from PIL import Image

import pixmorf

# The shared pictures beside the repository, or where this machine keeps them.
IMAGES = next(
    (d for d in (Path(__file__).resolve().parents[2].parent / "shared" / "images", Path("/work/shared/images"))
     if d.is_dir()),
    Path("/work/shared/images"),
)
GLOVE = IMAGES / "lineart-baseball-glove.png"
RSVG = shutil.which("rsvg-convert")
needs_rsvg = pytest.mark.skipif(RSVG is None, reason="rsvg-convert is not installed")

HEADER = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    "<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n"
    '<svg version="1.1" xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}">\n'
)
BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)


def convert(pixels, size, **options):
    return pixmorf.convert_pixels_to_svg(pixels, size, colormode="binary", **options)


def from_text(text, dark=BLACK, light=WHITE):
    """'X' is a dark pixel; rows are separated by '/'."""
    rows = text.split("/")
    return [dark if c == "X" else light for row in rows for c in row], (len(rows[0]), len(rows))


def path_lines(svg):
    return re.findall(r'\t<path d="([^"]*)" fill="#000000" transform="translate\(([^)]*)\)"/>\n', svg)


def kept_pixels(pixels, width, height, speckle_area):
    """Pixels with red below 128 in 4-connected regions of at least speckle_area pixels."""
    dark = [p[0] < 128 for p in pixels]
    seen = [False] * len(dark)
    kept = set()
    regions = 0
    for start in range(len(dark)):
        if not dark[start] or seen[start]:
            continue
        seen[start] = True
        region = [start]
        queue = deque(region)
        while queue:
            i = queue.popleft()
            x, y = i % width, i // width
            for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
                j = ny * width + nx
                if 0 <= nx < width and 0 <= ny < height and dark[j] and not seen[j]:
                    seen[j] = True
                    region.append(j)
                    queue.append(j)
        if len(region) >= speckle_area:
            kept.update(region)
            regions += 1
    return kept, regions


def rendered_pixels(svg, width, height, tmp_path):
    """Indices of the pixels the renderer covers at least half."""
    source = tmp_path / "shape.svg"
    target = tmp_path / "shape.png"
    source.write_text(svg)
    subprocess.run([RSVG, "-w", str(width), "-h", str(height), "-o", str(target), str(source)], check=True)
    alpha = Image.open(target).convert("RGBA").getchannel("A").tobytes()
    return {i for i, a in enumerate(alpha) if a >= 128}


def random_noise(rng, width, height):
    density = rng.choice([0.3, 0.5, 0.6])
    return [
        (rng.randrange(128) if rng.random() < density else rng.randrange(128, 256), rng.randrange(256),
         rng.randrange(256), rng.randrange(256))
        for _ in range(width * height)
    ]


def random_blobs(rng, width, height):
    """Overlapping discs and rings: larger shapes with holes and corner contacts."""
    dark = [False] * (width * height)
    for _ in range(rng.randrange(3, 12)):
        cx, cy, r = rng.uniform(0, width), rng.uniform(0, height), rng.uniform(1, width / 3)
        ring = rng.random() < 0.4
        for y in range(height):
            for x in range(width):
                d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
                if d < r and not (ring and d < r * 0.6):
                    dark[y * width + x] = not dark[y * width + x]
    return [BLACK if d else WHITE for d in dark]


def glove_crop():
    if not GLOVE.exists():
        pytest.skip("the line drawing is not available")
    picture = Image.open(GLOVE).convert("RGBA").crop((250, 350, 850, 950)).resize((200, 200), Image.BILINEAR)
    data = picture.tobytes()
    return [tuple(data[i : i + 4]) for i in range(0, len(data), 4)], picture.size


def pictures():
    rng = random.Random(20240611)
    for n in range(6):
        width, height = rng.randrange(5, 60), rng.randrange(5, 50)
        maker = random_noise if n % 2 == 0 else random_blobs
        yield f"{maker.__name__}-{n}", lambda maker=maker, w=width, h=height, s=n: (maker(random.Random(s), w, h), (w, h))
    yield "glove", glove_crop


PICTURES = dict(pictures())


# ---------------------------------------------------------------- exact text on small pictures


@pytest.mark.parametrize(
    ("picture", "options", "paths"),
    [
        # One pixel and a bar of two, as walked and as polygons.
        ("X", {"mode": "none", "filter_speckle": 0}, [("M0,0 L1,0 L1,1 L0,1 Z ", "0,0")]),
        ("X", {"mode": "polygon", "filter_speckle": 0}, [("M0,0 Z ", "0,0")]),
        ("..../.XX.", {"mode": "polygon", "filter_speckle": 0}, [("M0,0 L2,1 Z ", "1,1")]),
        # Corner contact is no connection; shapes come in the order of their first pixels.
        ("X./.X", {"mode": "none", "filter_speckle": 0},
         [("M0,0 L1,0 L1,1 L0,1 Z ", "0,0"), ("M0,0 L1,0 L1,1 L0,1 Z ", "1,1")]),
        # A ring is one shape: the outline, then the hole anticlockwise.
        ("XXX/X.X/XXX", {"mode": "none", "filter_speckle": 0},
         [("M0,0 L3,0 L3,3 L0,3 Z M1,1 L1,2 L2,2 L2,1 Z ", "0,0")]),
        # The speckle area is filter_speckle squared: 3 pixels dropped, 4 kept.
        ("XXX.XX/....XX", {"mode": "none", "filter_speckle": 2}, [("M0,0 L2,0 L2,2 L0,2 Z ", "4,0")]),
        ("......", {"mode": "none"}, []),
    ],
)
def test_small_pictures(picture, options, paths):
    pixels, (w, h) = from_text(picture)
    svg = convert(pixels, (w, h), **options)
    assert svg.startswith(HEADER.format(w=w, h=h)) and svg.endswith("</svg>\n")
    assert path_lines(svg) == paths
    assert svg.count("\n") == 4 + len(paths)


def test_splines_of_fewer_than_four_points_are_dropped():
    # A single pixel fits no segment; its shape is still written, empty. A
    # 2 x 1 bar gives one segment (4 points) and is kept, at its position.
    svg = convert(*from_text("X..XX"), filter_speckle=0)
    (single, bar) = path_lines(svg)
    assert single == ("", "0,0")
    assert re.fullmatch(r"M0 0 C(\S+ ){6}Z ", bar[0]) and bar[1] == "3,0"


@pytest.mark.parametrize("size", [(0, 10**12), (10**12, 0)])
def test_pictures_without_pixels(size):
    w, h = size
    assert convert([], size, mode="polygon") == HEADER.format(w=w, h=h) + "</svg>\n"


def test_red_channel_alone_decides():
    # Cyan and transparent black are dark; red and (128, 0, 0) are not.
    pixels = [(0, 255, 255, 255), (255, 0, 0, 255), (0, 0, 0, 0), (128, 0, 0, 255), (127, 255, 255, 0)]
    svg = convert(pixels, (5, 1), mode="none", filter_speckle=0)
    assert [t for _, t in path_lines(svg)] == ["0,0", "2,0", "4,0"]


def test_too_many_specks_overflow():
    pixels = [BLACK if x % 2 == 0 and y % 2 == 0 else WHITE for y in range(500) for x in range(600)]
    with pytest.raises(BaseException) as caught:
        convert(pixels, (600, 500), mode="none")
    assert not isinstance(caught.value, Exception)
    assert str(caught.value) == "overflow"


# ---------------------------------------------------------------- rendered coverage


@needs_rsvg
@pytest.mark.parametrize("name", PICTURES)
@pytest.mark.parametrize("filter_speckle", [0, 2, 4])
def test_outlines_render_exactly_the_kept_regions(name, filter_speckle, tmp_path):
    pixels, (w, h) = PICTURES[name]()
    expected, regions = kept_pixels(pixels, w, h, filter_speckle * filter_speckle)
    svg = convert(pixels, (w, h), mode="none", filter_speckle=filter_speckle)
    assert len(path_lines(svg)) == regions
    assert rendered_pixels(svg, w, h, tmp_path) == expected


def chebyshev_distance_to(targets, i, width, height, limit):
    """Smallest Chebyshev distance (up to limit + 1) from pixel i to a pixel in targets."""
    x, y = i % width, i // width
    for d in range(limit + 1):
        for ny in range(max(0, y - d), min(height, y + d + 1)):
            for nx in range(max(0, x - d), min(width, x + d + 1)):
                if max(abs(nx - x), abs(ny - y)) == d and (ny * width + nx) in targets:
                    return d
    return limit + 1


# Polygons keep a subset of the traced corners. Dropping a staircase vertex
# cuts across one unit step; pruning keeps every skipped corner so close to
# its replacing edge of length L that L * d**2 / 4 < 1, i.e. d < 2 / sqrt(L),
# and only edges of length 1 or 2 allow d above 1 (up to 2). A pixel whose
# centre lands on the other side of a polygon edge therefore lies next to the
# true boundary: within 2 pixels of a pixel of the other value.
POLYGON_REACH = 2


@needs_rsvg
@pytest.mark.parametrize("name", PICTURES)
def test_polygons_stay_near_the_kept_regions(name, tmp_path):
    pixels, (w, h) = PICTURES[name]()
    kept, regions = kept_pixels(pixels, w, h, 4)
    svg = convert(pixels, (w, h), mode="polygon", filter_speckle=2)
    assert len(path_lines(svg)) == regions
    covered = rendered_pixels(svg, w, h, tmp_path)
    everything = set(range(w * h))
    for i in covered ^ kept:
        opposite = kept if i in covered else everything - kept
        assert chebyshev_distance_to(opposite, i, w, h, POLYGON_REACH) <= POLYGON_REACH, (i % w, i // w)
    # Shapes larger than specks keep their area within a quarter (specks of
    # one or two pixels become polygons without area).
    if not name.startswith("random_noise"):
        assert abs(len(covered) - len(kept)) <= 0.25 * len(kept)
