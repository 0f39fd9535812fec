"""Wall time of converting a folder of pictures: one after another in one
process, then with the process-pool and the Dask examples.

    python bench/folder_speedup.py [--images DIR] [--pictures NAME ...] [--workers N] [--repeat N]
                                   [conversion options]

--pictures picks pictures of DIR (default: all); conversion options such as
--colormode binary go to all three runs. Each run is a fresh interpreter, so
every figure includes start-up (and, for Dask, starting the local cluster);
each is the best of --repeat runs, taken in turns, which evens out other load.
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
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--pictures", nargs="+", metavar="NAME")
    arguments, options = parser.parse_known_args()
    names = arguments.pictures or sorted(p.name for p in arguments.images.iterdir() if p.suffix != ".md")
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch) / "input"
        folder.mkdir()
        for name in names:  # links, named so that no two share a stem (NAME.svg)
            path = Path(name)
            (folder / f"{path.stem}-{path.suffix[1:]}{path.suffix}").symlink_to(arguments.images.resolve() / name)
        runs = {"serial, one process": [sys.executable, "-c", SERIAL]}
        for label, script in (("processes", "convert_folder_processes.py"), ("dask", "convert_folder_dask.py")):
            runs[f"{label}, {arguments.workers} workers"] = [sys.executable, str(EXAMPLES / script)]
        best = dict.fromkeys(runs, float("inf"))
        for _ in range(arguments.repeat):
            for index, (label, command) in enumerate(runs.items()):
                output = Path(scratch) / str(index)
                workers = ["--workers", str(arguments.workers)] if index else []
                best[label] = min(best[label], timed([*command, str(folder), str(output), *options, *workers]))
        print(f"{len(names)} pictures ({', '.join(names)}), options: {' '.join(options) or 'defaults'}")
        serial = best["serial, one process"]
        for index, (label, seconds) in enumerate(best.items()):
            output = Path(scratch) / str(index)
            same = all((output / p.name).read_bytes() == p.read_bytes() for p in (Path(scratch) / "0").iterdir())
            print(f"{label}: {seconds:.2f} s, speed-up {serial / seconds:.2f}{'' if same else ', OUTPUT DIFFERS'}")


if __name__ == "__main__":
    main()
