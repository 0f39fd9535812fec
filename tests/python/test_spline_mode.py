"""Spline path mode end to end: document shape, fidelity against the picture
and the polygon outlines, the smoothing options and their limits."""

import functools
import io
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import pixmorf

PIL = pytest.importorskip("PIL")
from PIL import Image, ImageChops, ImageDraw  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
IMAGE_DIRS = [ROOT.parent / "shared" / "images", Path("/work/shared/images")]
IMAGES = next((d for d in IMAGE_DIRS if d.is_dir()), None)


def _png(image):
    buffer = io.BytesIO()
    image.save(buffer, format="PNG")
    return buffer.getvalue()


def _two_squares():
    """A white picture with a black square and a dark red ring: outlines and a hole."""
    image = Image.new("RGB", (40, 30), "white")
    for y in range(5, 20):
        for x in range(4, 19):
            image.putpixel((x, y), (0, 0, 0))
    for y in range(8, 26):
        for x in range(22, 38):
            if not (12 <= y < 20 and 27 <= x < 33):
                image.putpixel((x, y), (100, 0, 0))
    return image


def _pixels(image):
    rgba = image.convert("RGBA")
    data = rgba.tobytes()
    return [tuple(data[i : i + 4]) for i in range(0, len(data), 4)]


def convert(image, **options):
    return pixmorf.convert_pixels_to_svg(_pixels(image), image.size, **options)


PATH_LINE = re.compile(r'\t<path d="([^"]*)" fill="(#[0-9A-F]{6})" transform="translate\(([^,]+),([^)]+)\)"/>\n')


def shapes(svg):
    """(path data, fill, (tx, ty)) per path element, in document order."""
    return [(d, fill, (float(tx), float(ty))) for d, fill, tx, ty in PATH_LINE.findall(svg)]


NUMBER = r"-?\d+(?:\.\d+)?"
SPLINE_DATA = re.compile(rf"(?:M{NUMBER} {NUMBER} (?:C{NUMBER}(?: {NUMBER}){{5}} )+Z )+")


def spline_subpaths(d, translation):
    """Absolute points (start, then control, control, end per segment) of every sub-path."""
    assert SPLINE_DATA.fullmatch(d), d
    subpaths = []
    for part in d.split("Z ")[:-1]:
        values = [float(v) for v in re.findall(NUMBER, part)]
        tx, ty = translation
        subpaths.append([(values[k] + tx, values[k + 1] + ty) for k in range(0, len(values), 2)])
    return subpaths


def polygon_subpaths(d, translation):
    """Absolute vertices of every sub-path (the closing repeat is not written)."""
    subpaths = []
    for part in d.split("Z ")[:-1]:
        vertices = [tuple(int(v) for v in token[1:].split(",")) for token in part.split()]
        tx, ty = translation
        subpaths.append([(x + tx, y + ty) for x, y in vertices])
    return subpaths


def load(name, width=None, mode=None):
    if IMAGES is None:
        pytest.skip("the shared pictures are not available")
    image = Image.open(IMAGES / name)
    if mode:
        image = image.convert(mode)
    if width and image.width > width:
        image = image.resize((width, round(image.height * width / image.width)), Image.LANCZOS)
    return image


def render(svg, tmp_path, name):
    """The document rendered at its own size, flattened on white."""
    source = tmp_path / f"{name}.svg"
    target = tmp_path / f"{name}.png"
    source.write_text(svg)
    subprocess.run(["rsvg-convert", "-o", str(target), str(source)], check=True)
    return on_white(Image.open(target))


def on_white(image):
    image = image.convert("RGBA")
    background = Image.new("RGBA", image.size, (255, 255, 255, 255))
    return Image.alpha_composite(background, image).convert("RGB")


def fraction_off(a, b, limit=32):
    """Fraction of pixels that differ by more than `limit` in some channel."""
    difference = ImageChops.difference(a, b)
    mask = None
    for channel in difference.split():
        off = channel.point(lambda v: 255 if v > limit else 0)
        mask = off if mask is None else ImageChops.lighter(mask, off)
    return mask.histogram()[255] / (a.width * a.height)


# Pictures with flat colours (illustrations, icons) in colour mode, line art in
# binary mode, scaled down to keep the tests fast; `flat` marks the ones with
# flat colours only (the shaded icon is not).
PICTURES = [
    ("illustration-fastfood.png", 400, "color", True),
    ("illustration-jukebox-alpha.png", 600, "color", True),
    ("sample.png", None, "color", True),
    ("icon-help-browser-128.png", None, "color", False),
    ("lineart-baseball-glove.png", 600, "binary", True),
    ("lineart-graphviz-unix.png", 600, "binary", True),
]


@functools.lru_cache(maxsize=None)
def picture_svg(name, width, colormode, mode):
    return convert(load(name, width), colormode=colormode, mode=mode)


def test_default_call_gives_closed_cubic_shapes():
    svg = pixmorf.convert_raw_image_to_svg(_png(_two_squares()))
    assert svg == convert(_two_squares())
    found = shapes(svg)
    assert found and len(found) == svg.count("<path")
    for d, _fill, translation in found:
        assert d.startswith("M0 0 C")
        for points in spline_subpaths(d, translation):
            assert len(points) >= 4 and len(points) % 3 == 1
            assert points[0] == points[-1]  # closed chain
    # In binary mode the ring's hole is a second sub-path of its shape.
    binary = shapes(convert(_two_squares(), colormode="binary"))
    assert sorted(len(spline_subpaths(d, t)) for d, _, t in binary) == [1, 2]


def test_spline_text_is_the_only_place_precision_applies():
    image = _two_squares()
    rounded = convert(image, path_precision=0)
    for d, _, _ in shapes(rounded):
        assert re.fullmatch(r"[MCZ\d -]+", d), d
    # Polygon documents ignore the precision, even one beyond the formatting range,
    # which stops a conversion only when it writes spline coordinates.
    assert convert(image, mode="polygon", path_precision=65536) == convert(image, mode="polygon")
    assert "Formatting argument out of range" in _internal_failure(lambda: convert(image, path_precision=65536))


@pytest.mark.parametrize("name,width,colormode,flat", PICTURES)
def test_spline_rendering_stays_close_to_pixel_outlines(name, width, colormode, flat, tmp_path):
    if shutil.which("rsvg-convert") is None:
        pytest.skip("rsvg-convert is not installed")
    spline = render(picture_svg(name, width, colormode, "spline"), tmp_path, "spline")
    polygon = render(picture_svg(name, width, colormode, "polygon"), tmp_path, "polygon")
    exact = render(picture_svg(name, width, colormode, "none"), tmp_path, "none")
    assert spline.size == load(name, width).size
    # Smoothing and fitting move little against the polygons they start from ...
    assert fraction_off(spline, polygon) < 0.05
    # ... and flat pictures stay close to their exact pixel outlines.
    if flat:
        assert fraction_off(spline, exact) < 0.05


def _bounds(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return min(xs), min(ys), max(xs), max(ys)


def _same_place(polygon, spline_points):
    """Whether a spline's on-curve points span about the polygon's bounding box."""
    box = _bounds(polygon)
    curve = _bounds(spline_points[::3])
    tolerance = 2.0 + 0.1 * max(box[2] - box[0], box[3] - box[1])
    return all(abs(a - b) <= tolerance for a, b in zip(box, curve))


@pytest.mark.parametrize("name,width,colormode,flat", PICTURES)
def test_no_outline_is_lost(name, width, colormode, flat):
    polygon_shapes = shapes(picture_svg(name, width, colormode, "polygon"))
    spline_shapes = shapes(picture_svg(name, width, colormode, "spline"))
    assert [fill for _, fill, _ in polygon_shapes] == [fill for _, fill, _ in spline_shapes]
    checked = 0
    for (pd, _, pt), (sd, _, st) in zip(polygon_shapes, spline_shapes):
        splines = spline_subpaths(sd, st) if sd else []
        k = 0
        for polygon in polygon_subpaths(pd, pt):
            if k < len(splines) and _same_place(polygon, splines[k]):
                k += 1
                checked += 1
            else:
                # Only outlines that simplify to fewer than three corners may go.
                assert len(set(polygon)) < 3, (pd, sd)
        assert k == len(splines)
    assert checked > 0


def test_smoothing_options_change_the_curves():
    image = load("sample.png")
    segments = lambda svg: sum(d.count("C") for d, _, _ in shapes(svg))  # noqa: E731
    default = convert(image)
    assert segments(convert(image, splice_threshold=10)) > segments(default) > segments(
        convert(image, splice_threshold=170)
    )
    assert convert(image, max_iterations=1) != default
    assert convert(image, length_threshold=1000.0) != default
    assert convert(image, corner_threshold=0) != default
    assert convert(image, max_iterations=1000) == default  # every outline converges within 10 passes


def _internal_failure(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert not isinstance(caught.value, Exception)
    return str(caught.value)


def test_zero_iterations_stop_only_where_outlines_are_smoothed():
    image = _two_squares()
    assert "max_iterations > 0" in _internal_failure(lambda: convert(image, max_iterations=0))
    assert "max_iterations > 0" in _internal_failure(lambda: convert(image, colormode="binary", max_iterations=0))
    assert "<path" in convert(image, mode="polygon", max_iterations=0)
    # No outline at all: nothing is smoothed, nothing stops.
    blank = Image.new("RGB", (8, 8), "white")
    assert convert(blank, colormode="binary", max_iterations=0).endswith("</svg>\n")


def test_unbounded_smoothing_raises_memory_error():
    # Without a length limit every pass doubles the outline of the disk (its
    # edges do not all end in corners) and no pass converges.
    disk = Image.new("RGB", (40, 40), "white")
    ImageDraw.Draw(disk).ellipse((5, 5, 34, 34), fill="black")
    with pytest.raises(MemoryError):
        convert(disk, length_threshold=0.0, max_iterations=2**64 - 1)
