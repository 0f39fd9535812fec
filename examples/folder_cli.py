"""Command line and file handling shared by the folder conversion examples."""

import argparse
import os
import sys
from collections import Counter
from pathlib import Path
from typing import Any

# File extensions that pixmorf decodes.
IMAGE_EXTENSIONS = {"png", "jpg", "jpeg", "gif", "webp", "pbm", "pam", "ppm", "pgm", "tif", "tiff",
                    "tga", "dds", "bmp", "ico", "hdr", "ff", "farbfeld"}

INTEGER_OPTIONS = ("filter_speckle", "color_precision", "layer_difference", "corner_threshold",
                   "max_iterations", "splice_threshold", "path_precision")


def argument_parser(description: str) -> argparse.ArgumentParser:
    """INPUT_DIR OUTPUT_DIR [--workers N] and the conversion options."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("input_dir", type=Path)
    parser.add_argument("output_dir", type=Path)
    parser.add_argument("--workers", type=int, default=os.cpu_count(), metavar="N",
                        help="worker processes (default: one per core)")
    options = parser.add_argument_group("conversion options (pixmorf's defaults when left out)")
    options.add_argument("--colormode", choices=["color", "binary"])
    options.add_argument("--hierarchical", choices=["stacked", "cutout"])
    options.add_argument("--mode", choices=["spline", "polygon", "none"])
    for name in INTEGER_OPTIONS:
        options.add_argument("--" + name.replace("_", "-"), dest=name, type=int, metavar="N")
    options.add_argument("--length-threshold", dest="length_threshold", type=float, metavar="X")
    return parser


def conversion_options(arguments: argparse.Namespace) -> dict[str, Any]:
    """The keyword arguments for pixmorf's functions (None where left out)."""
    names = ("colormode", "hierarchical", "mode", "length_threshold") + INTEGER_OPTIONS
    return {name: getattr(arguments, name) for name in names}


def conversion_jobs(input_dir: Path, output_dir: Path) -> list[tuple[Path, Path]]:
    """(image, SVG file) pairs: INPUT_DIR/name.ext becomes OUTPUT_DIR/name.svg."""
    images = sorted(path for path in input_dir.iterdir()
                    if path.is_file() and path.suffix[1:].lower() in IMAGE_EXTENSIONS)
    clashes = sorted(stem for stem, count in Counter(path.stem for path in images).items() if count > 1)
    if clashes:
        sys.exit(f"several images would be written to the same SVG file: {', '.join(clashes)}")
    output_dir.mkdir(parents=True, exist_ok=True)
    # Largest files first: a big picture started last would keep one worker
    # busy long after the others have run out of work.
    images.sort(key=lambda image: image.stat().st_size, reverse=True)
    return [(image, output_dir / (image.stem + ".svg")) for image in images]


def report(failures: dict[Path, str], total: int, output_dir: Path) -> int:
    """Prints the failures and a summary; returns the exit status."""
    for image, message in failures.items():
        print(f"{image}: {message}", file=sys.stderr)
    print(f"converted {total - len(failures)} of {total} images into {output_dir}")
    return 1 if failures else 0
