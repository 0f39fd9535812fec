"""Converts every image in a folder to SVG, in parallel worker processes.

    python convert_folder_processes.py INPUT_DIR OUTPUT_DIR [--workers N] [options]

A conversion holds the interpreter lock from start to end, so threads would
convert one image at a time; worker processes use every core. INPUT_DIR/name.ext
becomes OUTPUT_DIR/name.svg. A file that fails is reported and the others are
still converted; the exit status is then 1.
"""

import sys
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path
from typing import Any

import pixmorf
from folder_cli import argument_parser, conversion_jobs, conversion_options, report


def convert_file(image: Path, svg_file: Path, options: dict[str, Any]) -> str | None:
    """Runs in a worker process: converts one file; returns the failure text, or None."""
    try:
        pixmorf.convert_image_to_svg_py(str(image), str(svg_file), **options)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:
        # pixmorf raises Exception, and also its own exception class, derived
        # from BaseException (for instance for a file it cannot read). That
        # class is not a module attribute and cannot be pickled: send the text.
        return f"{type(error).__name__}: {error}"
    return None


def main() -> int:
    arguments = argument_parser("Converts every image in a folder to SVG, in parallel processes.").parse_args()
    options = conversion_options(arguments)
    jobs = conversion_jobs(arguments.input_dir, arguments.output_dir)
    failures: dict[Path, str] = {}
    with ProcessPoolExecutor(max_workers=arguments.workers) as pool:
        futures = [pool.submit(convert_file, image, svg_file, options) for image, svg_file in jobs]
        for (image, _), future in zip(jobs, futures):
            if (failure := future.result()) is not None:
                failures[image] = failure
    return report(failures, len(jobs), arguments.output_dir)


if __name__ == "__main__":
    sys.exit(main())
