"""convert_image_to_svg_py with awkward paths: outputs that cannot be created,
conversions that fail with an output file already in place, and names with
non-ASCII characters."""

import io
import os

import pytest

import pixmorf

PREFIX = "An unexpected error result was met: "
CANNOT_CREATE = PREFIX + '"Cannot create output file."'
OLD_CONTENT = b"an earlier document that a failed conversion must keep\n"


def picture_png(side=12):
    from PIL import Image

    image = Image.new("RGBA", (side, side), (255, 255, 255, 255))
    for x in range(2, side - 2):
        for y in range(3, side - 3):
            image.putpixel((x, y), (10, 20, 180, 255))
    buffer = io.BytesIO()
    image.save(buffer, format="PNG")
    return buffer.getvalue()


def internal_failure(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__mro__[1] is BaseException, repr(caught.value)
    return str(caught.value)


@pytest.fixture
def png_file(tmp_path):
    path = tmp_path / "picture.png"
    path.write_bytes(picture_png())
    return str(path)


@pytest.mark.parametrize("kind", ["existing directory", "below a regular file", "name too long"])
def test_output_that_cannot_be_created(tmp_path, png_file, kind):
    (tmp_path / "directory.svg").mkdir()
    (tmp_path / "plain-file").write_bytes(OLD_CONTENT)
    output = {
        "existing directory": tmp_path / "directory.svg",
        "below a regular file": tmp_path / "plain-file" / "out.svg",
        "name too long": tmp_path / ("x" * 300 + ".svg"),
    }[kind]
    assert internal_failure(lambda: pixmorf.convert_image_to_svg_py(png_file, str(output))) == CANNOT_CREATE
    assert (tmp_path / "plain-file").read_bytes() == OLD_CONTENT
    assert (tmp_path / "directory.svg").is_dir()


# A conversion that stops, and the message it stops with.
FAILING_CONVERSIONS = [
    ({"color_precision": 0}, "assertion failed: is_same_color_a < 8"),
    ({"colormode": "binary", "max_iterations": 0}, "assertion failed: max_iterations > 0"),
    ({"colormode": "binary", "path_precision": 65536}, "Formatting argument out of range"),
]


@pytest.mark.parametrize("options, message", FAILING_CONVERSIONS)
def test_failed_conversion_keeps_the_existing_output_and_comes_first(tmp_path, png_file, options, message):
    kind = dict(options).get("colormode", "color")
    existing = tmp_path / "existing.svg"
    existing.write_bytes(OLD_CONTENT)
    assert internal_failure(lambda: pixmorf.convert_image_to_svg_py(png_file, str(existing), **options)) == message
    assert existing.read_bytes() == OLD_CONTENT
    # The conversion runs before the output is created: its failure is the one
    # reported when the output could not be created either.
    missing = str(tmp_path / "missing-directory" / "out.svg")
    assert internal_failure(lambda: pixmorf.convert_image_to_svg_py(png_file, missing, **options)) == message


def test_non_ascii_paths(tmp_path):
    directory = tmp_path / "Bilder ä ö ü – 画像 😀"
    directory.mkdir()
    source = directory / "Zeichnung ß €.png"
    source.write_bytes(picture_png())
    target = directory / "結果 ✓ ñ.svg"
    assert pixmorf.convert_image_to_svg_py(str(source), str(target), colormode="binary", mode="none") is None
    assert target.read_text(encoding="utf-8") == pixmorf.convert_raw_image_to_svg(
        picture_png(), colormode="binary", mode="none")
    # The extension is matched without regard to ASCII case, whatever the name holds.
    upper = directory / "ÄÖÜ.PNG"
    upper.write_bytes(picture_png())
    pixmorf.convert_image_to_svg_py(str(upper), str(target), colormode="binary", mode="none")
    assert os.path.getsize(target) > 0
