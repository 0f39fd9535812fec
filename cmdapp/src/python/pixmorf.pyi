"""Raster images in, SVG documents out."""

from collections.abc import Sequence
from typing import Literal, SupportsFloat, SupportsIndex

__all__ = ["convert_image_to_svg_py", "convert_raw_image_to_svg", "convert_pixels_to_svg"]

# Shared by all three functions; None (the default) selects the default value.
#   colormode, hierarchical, mode: every str is accepted; the listed words are
#     the meaningful ones, anything else selects the first one listed.
#   Integers, including the items of img_bytes, rgba_pixels and size, are read
#     through __index__, so int, bool and integer-like objects (numpy integers,
#     for instance) qualify; length_threshold goes through the interpreter's
#     float conversion (a str is refused).
# Failed conversions raise Exception; convert_image_to_svg_py, and any function
# on an internal failure, raise pixmorf's InternalFailure, which derives
# from BaseException and is created on first use (it is not a module attribute).

def convert_image_to_svg_py(
    image_path: str,
    out_path: str,
    colormode: Literal["color", "binary"] | str | None = None,
    hierarchical: Literal["stacked", "cutout"] | str | None = None,
    mode: Literal["spline", "polygon", "none"] | str | None = None,
    filter_speckle: SupportsIndex | None = None,
    color_precision: SupportsIndex | None = None,
    layer_difference: SupportsIndex | None = None,
    corner_threshold: SupportsIndex | None = None,
    length_threshold: SupportsFloat | SupportsIndex | None = None,
    max_iterations: SupportsIndex | None = None,
    splice_threshold: SupportsIndex | None = None,
    path_precision: SupportsIndex | None = None,
) -> None:
    """Reads an image file and writes the SVG document to out_path."""

def convert_raw_image_to_svg(
    img_bytes: Sequence[SupportsIndex],
    img_format: str | None = None,
    colormode: Literal["color", "binary"] | str | None = None,
    hierarchical: Literal["stacked", "cutout"] | str | None = None,
    mode: Literal["spline", "polygon", "none"] | str | None = None,
    filter_speckle: SupportsIndex | None = None,
    color_precision: SupportsIndex | None = None,
    layer_difference: SupportsIndex | None = None,
    corner_threshold: SupportsIndex | None = None,
    length_threshold: SupportsFloat | SupportsIndex | None = None,
    max_iterations: SupportsIndex | None = None,
    splice_threshold: SupportsIndex | None = None,
    path_precision: SupportsIndex | None = None,
) -> str:
    """Converts encoded image bytes to SVG text.

    img_bytes is bytes, bytearray, memoryview or any other sequence of ints
    0..255 (a str is refused). img_format names the format, such as "png" or
    "jpg"; without it the format is recognised from the data.
    """

def convert_pixels_to_svg(
    rgba_pixels: Sequence[tuple[SupportsIndex, SupportsIndex, SupportsIndex, SupportsIndex]],
    size: tuple[SupportsIndex, SupportsIndex],
    colormode: Literal["color", "binary"] | str | None = None,
    hierarchical: Literal["stacked", "cutout"] | str | None = None,
    mode: Literal["spline", "polygon", "none"] | str | None = None,
    filter_speckle: SupportsIndex | None = None,
    color_precision: SupportsIndex | None = None,
    layer_difference: SupportsIndex | None = None,
    corner_threshold: SupportsIndex | None = None,
    length_threshold: SupportsFloat | SupportsIndex | None = None,
    max_iterations: SupportsIndex | None = None,
    splice_threshold: SupportsIndex | None = None,
    path_precision: SupportsIndex | None = None,
) -> str:
    """Converts a list of pixels to SVG text.

    rgba_pixels holds width * height (red, green, blue, alpha) tuples, row by
    row, each channel 0..255; size is (width, height).
    """
