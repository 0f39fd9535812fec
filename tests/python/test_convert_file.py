"""convert_image_to_svg_py: the order of its effects on the output file."""

import io
import os

import pytest

import pixmorf

PREFIX = "An unexpected error result was met: "
NO_INPUT = PREFIX + '"No image file found at specified input path"'
CANNOT_CREATE = PREFIX + '"Cannot create output file."'
OLD_CONTENT = b"existing content that must survive\n" * 3


def small_png():
    from PIL import Image

    picture = Image.new("RGBA", (6, 4), (255, 255, 255, 255))
    for x in range(2, 5):
        for y in range(1, 3):
            picture.putpixel((x, y), (200, 30, 30, 255))
    buffer = io.BytesIO()
    picture.save(buffer, format="PNG")
    return buffer.getvalue()




def failure_message(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert not isinstance(caught.value, Exception), repr(caught.value)
    return str(caught.value)


@pytest.fixture
def png_file(tmp_path):
    path = tmp_path / "picture.png"
    path.write_bytes(small_png())
    return str(path)


@pytest.fixture
def existing_output(tmp_path):
    path = tmp_path / "existing.svg"
    path.write_bytes(OLD_CONTENT)
    return path


@pytest.mark.parametrize(
    "input_name",
    ["missing.png", "garbage.png", "picture", ".png", "garbage.svg", "garbage.png\x00.jpg"],
)
def test_unreadable_input_leaves_the_output_untouched(tmp_path, existing_output, input_name):
    (tmp_path / "garbage.png").write_bytes(b"\x89PNG\r\n\x1a\n broken")
    (tmp_path / "garbage.svg").write_bytes(b"<svg/>")
    (tmp_path / "picture").write_bytes(b"\x89PNG\r\n\x1a\n broken")
    message = failure_message(
        lambda: pixmorf.convert_image_to_svg_py(str(tmp_path / input_name), str(existing_output))
    )
    assert message == NO_INPUT
    assert existing_output.read_bytes() == OLD_CONTENT


def test_argument_errors_leave_the_output_untouched(png_file, existing_output):
    with pytest.raises(OverflowError):
        pixmorf.convert_image_to_svg_py(png_file, str(existing_output), filter_speckle=-1)
    assert existing_output.read_bytes() == OLD_CONTENT


def test_document_is_written_and_replaces_old_content(png_file, existing_output):
    assert pixmorf.convert_image_to_svg_py(png_file, str(existing_output), mode="polygon") is None
    expected = pixmorf.convert_raw_image_to_svg(small_png(), mode="polygon")
    assert existing_output.read_text() == expected


def test_new_file_permissions_follow_the_umask(png_file, tmp_path):
    old_mask = os.umask(0o027)
    try:
        pixmorf.convert_image_to_svg_py(png_file, str(tmp_path / "new.svg"))
    finally:
        os.umask(old_mask)
    assert (tmp_path / "new.svg").stat().st_mode & 0o777 == 0o640


@pytest.mark.parametrize("output_name", ["missing-directory/out.svg", "out.svg\x00.txt", ""])
def test_output_that_cannot_be_created(png_file, tmp_path, output_name):
    output = str(tmp_path / output_name) if output_name else ""
    message = failure_message(lambda: pixmorf.convert_image_to_svg_py(png_file, output))
    assert message == CANNOT_CREATE
    assert sorted(os.listdir(tmp_path)) == ["picture.png"]


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_failed_write_is_an_internal_failure(png_file):
    message = failure_message(lambda: pixmorf.convert_image_to_svg_py(png_file, "/dev/full"))
    assert message.startswith("failed to write file.: ")


def test_precision_out_of_range_stops_before_the_file_is_touched(png_file, existing_output):
    message = failure_message(
        lambda: pixmorf.convert_image_to_svg_py(png_file, str(existing_output), path_precision=65536)
    )
    assert message == "Formatting argument out of range"
    assert existing_output.read_bytes() == OLD_CONTENT
    # Polygon documents hold no float coordinates: the same precision is harmless there.
    pixmorf.convert_image_to_svg_py(png_file, str(existing_output), mode="polygon", path_precision=65536)
    assert existing_output.read_text() == pixmorf.convert_raw_image_to_svg(small_png(), mode="polygon")
