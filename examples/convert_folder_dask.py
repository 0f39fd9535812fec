"""Converts every image in a folder to SVG on a Dask distributed cluster.

    python convert_folder_dask.py INPUT_DIR OUTPUT_DIR [--workers N] [options]
    python convert_folder_dask.py INPUT_DIR OUTPUT_DIR --scheduler tcp://HOST:8786 [options]

Without --scheduler a local cluster of N single-threaded worker processes is
started (a conversion holds the interpreter lock, so one thread per process).
With --scheduler the work goes to a running cluster, whose workers may be on
other machines: they need pixmorf and dask[distributed] (the scheduler only
dask[distributed]), but no access to the folders, since the image bytes are
sent to them and the SVG text comes back.
Requires: pip install -r requirements-dask.txt
"""

import sys
from pathlib import Path
from typing import Any

from dask.distributed import Client
from folder_cli import argument_parser, conversion_jobs, conversion_options, report


def convert_bytes(data: bytes, img_format: str, options: dict[str, Any]) -> tuple[str | None, str | None]:
    """Runs on a worker: returns (SVG text, None), or (None, the failure text)."""
    # Sent to the cluster by value; imported here so that only the workers, not
    # the scheduler, need pixmorf installed.
    import pixmorf

    try:
        return pixmorf.convert_raw_image_to_svg(data, img_format, **options), None
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:
        # pixmorf raises Exception, and also its own exception class, derived
        # from BaseException (for instance for a file it cannot read). That
        # class is not a module attribute and cannot be pickled: send the text.
        return None, f"{type(error).__name__}: {error}"


def connect(scheduler: str | None, workers: int) -> Client:
    if scheduler:
        return Client(scheduler)
    return Client(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)


def main() -> int:
    parser = argument_parser("Converts every image in a folder to SVG on a Dask cluster.")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: start a "
                        "local cluster of --workers processes)")
    arguments = parser.parse_args()
    options = conversion_options(arguments)
    jobs = conversion_jobs(arguments.input_dir, arguments.output_dir)
    failures: dict[Path, str] = {}
    with connect(arguments.scheduler, arguments.workers) as client:
        # The bytes go straight to the workers; the file extension names the
        # format, as it does for a file read by pixmorf itself.
        images = client.scatter([image.read_bytes() for image, _ in jobs])
        futures = [client.submit(convert_bytes, data, image.suffix[1:], options)
                   for data, (image, _) in zip(images, jobs)]
        for (image, svg_file), future in zip(jobs, futures):
            svg, failure = future.result()
            if failure is not None:
                failures[image] = failure
            else:
                svg_file.write_text(svg, encoding="utf-8", newline="")
    return report(failures, len(jobs), arguments.output_dir)


if __name__ == "__main__":
    sys.exit(main())
