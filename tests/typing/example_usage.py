"""Typed calls of all three pixmorf functions, checked with `mypy --strict`.

The last function holds calls that the type checker must refuse: each carries
a `type: ignore`, and --strict reports an ignore that is not needed, so a stub
that stopped refusing them fails the check.
"""

from pathlib import Path

import pixmorf


def file_to_file(source: Path, target: Path) -> None:
    pixmorf.convert_image_to_svg_py(str(source), str(target))
    pixmorf.convert_image_to_svg_py(
        str(source),
        str(target),
        colormode="binary",
        hierarchical="cutout",
        mode="polygon",
        filter_speckle=8,
        color_precision=5,
        layer_difference=12,
        corner_threshold=90,
        length_threshold=3.5,
        max_iterations=4,
        splice_threshold=30,
        path_precision=2,
    )


def bytes_to_text(data: bytes) -> list[str]:
    return [
        pixmorf.convert_raw_image_to_svg(data),
        pixmorf.convert_raw_image_to_svg(data, "png", mode="spline", length_threshold=5),
        pixmorf.convert_raw_image_to_svg(bytearray(data), img_format=None, colormode=None),
        pixmorf.convert_raw_image_to_svg(memoryview(data), filter_speckle=True),
        pixmorf.convert_raw_image_to_svg(list(data), "jpg", colormode="any other word"),
    ]


def pixels_to_text() -> str:
    red: tuple[int, int, int, int] = (255, 0, 0, 255)
    pixels = [red] * 6
    svg: str = pixmorf.convert_pixels_to_svg(pixels, (3, 2), hierarchical="cutout", path_precision=1)
    return svg + pixmorf.convert_pixels_to_svg(tuple(pixels), size=(2, 3), mode="none")


def exported_names() -> list[str]:
    return list(pixmorf.__all__)


def refused_by_the_type_checker(data: bytes, source: Path) -> None:
    pixmorf.convert_raw_image_to_svg("text is not image data")  # type: ignore[arg-type]
    pixmorf.convert_image_to_svg_py(source, "out.svg")  # type: ignore[arg-type]
    pixmorf.convert_pixels_to_svg([(1, 2, 3)], (1, 1))  # type: ignore[list-item]
    pixmorf.convert_pixels_to_svg([], [0, 0])  # type: ignore[arg-type]
    pixmorf.convert_raw_image_to_svg(data, filter_speckle=4.0)  # type: ignore[arg-type]
    pixmorf.convert_raw_image_to_svg(data, length_threshold="4")  # type: ignore[arg-type]
    pixmorf.convert_raw_image_to_svg(data, colormode=1)  # type: ignore[arg-type]
    pixmorf.convert_raw_image_to_svg(data, speckle=4)  # type: ignore[call-arg]
    text: bytes = pixmorf.convert_raw_image_to_svg(data)  # type: ignore[assignment]
    del text
    pixmorf.convert_raw_image_to_svg()  # type: ignore[call-arg]
