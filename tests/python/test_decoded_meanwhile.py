"""Opaque truecolour PNGs and colour JPEGs large enough for a stacked colour
conversion are decoded row by row while the conversion starts on the first
rows. The result must be exactly that of the pixels given directly, and a
file that fails to decode must fail as such, whatever the conversion met on
the rows before."""

import io
import random
import zlib

import pytest

import pixmorf

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
DECODE_FAILED = "Failed to decode img_bytes. "
NO_INPUT = 'An unexpected error result was met: "No image file found at specified input path"'


def picture(width=320, height=260, seed=5):
    """Flat regions with a noisy band: several shapes and many small ones."""
    rng = random.Random(seed)
    pixels = []
    for y in range(height):
        for x in range(width):
            if (x // 40 + y // 50) % 3 == 0:
                pixels.append((200, 40, 30, 255))
            elif 100 <= y < 130:
                pixels.append((rng.randrange(256), rng.randrange(256), rng.randrange(256), 255))
            else:
                pixels.append((20, 90 + x % 7, 160, 255))
    return pixels, (width, height)


def rgb_png(pixels, size, interlace=False):
    from PIL import Image

    image = Image.new("RGB", size)
    image.putdata([p[:3] for p in pixels])
    buffer = io.BytesIO()
    image.save(buffer, format="PNG", interlace=interlace)
    return buffer.getvalue()


def jpeg(pixels, size, progressive=False):
    from PIL import Image

    image = Image.new("RGB", size)
    image.putdata([p[:3] for p in pixels])
    buffer = io.BytesIO()
    image.save(buffer, format="JPEG", quality=85, progressive=progressive)
    return buffer.getvalue()


def chunks(png):
    """(offset, type, length) of every chunk."""
    at = len(PNG_SIGNATURE)
    found = []
    while at + 8 <= len(png):
        length = int.from_bytes(png[at:at + 4], "big")
        found.append((at, png[at + 4:at + 8], length))
        at += 12 + length
    return found


def with_last_rows_damaged(png):
    """The same file with the compressed stream's final bytes changed and
    every CRC made right again: only decoding the last rows can fail."""
    out = bytearray(png)
    at, kind, length = [c for c in chunks(png) if c[1] == b"IDAT"][-1]
    data_start = at + 8
    for i in range(max(0, length - 6), length):
        out[data_start + i] ^= 0xA5
    crc = zlib.crc32(bytes(out[at + 4:data_start + length]))
    out[data_start + length:data_start + length + 4] = crc.to_bytes(4, "big")
    return bytes(out)


@pytest.mark.parametrize("options", [{}, {"mode": "polygon"}, {"mode": "none", "filter_speckle": 0},
                                     {"layer_difference": 0}])
def test_same_document_as_from_the_pixels(options, tmp_path):
    pixels, size = picture()
    png = rgb_png(pixels, size)
    expected = pixmorf.convert_pixels_to_svg(pixels, size, **options)
    assert pixmorf.convert_raw_image_to_svg(png, **options) == expected
    source = tmp_path / "picture.png"
    source.write_bytes(png)
    out = tmp_path / "picture.svg"
    pixmorf.convert_image_to_svg_py(str(source), str(out), **options)
    assert out.read_text() == expected


def test_interlaced_file_gives_the_same_document():
    pixels, size = picture(seed=6)
    plain = pixmorf.convert_raw_image_to_svg(rgb_png(pixels, size))
    assert pixmorf.convert_raw_image_to_svg(rgb_png(pixels, size, interlace=True)) == plain


def broken_files():
    pixels, size = picture(seed=7)
    png = rgb_png(pixels, size)
    idat_at, _, idat_length = [c for c in chunks(png) if c[1] == b"IDAT"][0]
    baseline = jpeg(pixels, size)
    progressive = jpeg(pixels, size, progressive=True)
    return {
        "png cut in the pixel data": png[:idat_at + 8 + idat_length // 2],
        "png with its last rows damaged": with_last_rows_damaged(png),
        "jpeg cut in the pixel data": baseline[:len(baseline) * 2 // 3],
        "progressive jpeg cut": progressive[:len(progressive) * 2 // 3],
    }


@pytest.mark.parametrize("name", sorted(broken_files()))
@pytest.mark.parametrize("options", [{}, {"color_precision": 0}])
def test_broken_file_fails_to_decode(name, options, tmp_path):
    # color_precision 0 stops the conversion before its first pixel; the
    # failure to decode still wins, as when the whole file is decoded first.
    data = broken_files()[name]
    with pytest.raises(Exception) as caught:
        pixmorf.convert_raw_image_to_svg(data, **options)
    assert type(caught.value) is Exception
    assert str(caught.value) == DECODE_FAILED
    source = tmp_path / ("broken." + name.split()[0].replace("progressive", "jpeg"))
    source.write_bytes(data)
    with pytest.raises(BaseException) as caught:
        pixmorf.convert_image_to_svg_py(str(source), str(tmp_path / "out.svg"), **options)
    assert str(caught.value) == NO_INPUT
    assert not (tmp_path / "out.svg").exists()


def test_conversion_failure_of_a_sound_file_is_reported():
    pixels, size = picture(seed=8)
    with pytest.raises(BaseException) as from_pixels:
        pixmorf.convert_pixels_to_svg(pixels, size, color_precision=0)
    with pytest.raises(BaseException) as from_png:
        pixmorf.convert_raw_image_to_svg(rgb_png(pixels, size), color_precision=0)
    assert type(from_png.value) is type(from_pixels.value)
    assert str(from_png.value) == str(from_pixels.value) == "assertion failed: is_same_color_a < 8"
