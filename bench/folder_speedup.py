"""Wall time of converting a folder of pictures: one after another in one
process, then with the process-pool and the Dask examples.

    python bench/folder_speedup.py [--images DIR] [--pictures NAME ...] [--workers N] [conversion options]

--pictures picks pictures of DIR (default: all); conversion options such as
--colormode binary go to all three runs. Each run is a fresh interpreter, so
every figure includes start-up (and, for Dask, starting the local cluster).
"""

import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
SERIAL = f"""
import sys
sys.path.insert(0, {str(EXAMPLES)!r})
import pixmorf
from folder_cli import argument_parser, conversion_jobs, conversion_options
arguments = argument_parser("").parse_args()
for image, svg_file in conversion_jobs(arguments.input_dir, arguments.output_dir):
    pixmorf.convert_image_to_svg_py(str(image), str(svg_file), **conversion_options(arguments))
"""


def timed(command: list[str]) -> float:
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--images", type=Path, default=ROOT.parent / "shared" / "images")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--pictures", nargs="+", metavar="NAME")
    arguments, options = parser.parse_known_args()
    names = arguments.pictures or sorted(p.name for p in arguments.images.iterdir() if p.suffix != ".md")
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch) / "input"
        folder.mkdir()
        for name in names:  # links, named so that no two share a stem (NAME.svg)
            path = Path(name)
            (folder / f"{path.stem}-{path.suffix[1:]}{path.suffix}").symlink_to(arguments.images.resolve() / name)
        serial_dir = Path(scratch) / "serial"
        serial = timed([sys.executable, "-c", SERIAL, str(folder), str(serial_dir), *options])
        print(f"{len(names)} pictures ({', '.join(names)}), options: {' '.join(options) or 'defaults'}")
        print(f"serial, one process: {serial:.2f} s")
        for label, script in (("processes", "convert_folder_processes.py"), ("dask", "convert_folder_dask.py")):
            output = Path(scratch) / label
            command = [sys.executable, str(EXAMPLES / script), str(folder), str(output), *options]
            seconds = timed([*command, "--workers", str(arguments.workers)])
            same = all((output / p.name).read_bytes() == p.read_bytes() for p in serial_dir.iterdir())
            print(f"{label}, {arguments.workers} workers: {seconds:.2f} s, speed-up {serial / seconds:.2f}"
                  f"{'' if same else ', OUTPUT DIFFERS'}")


if __name__ == "__main__":
    main()
