"""Wall time of converting a folder of pictures: one after another in one
process, then with the process-pool and the Dask examples.

    python bench/folder_speedup.py [--images DIR] [--workers N] [NAME ...]

NAMEs pick pictures of DIR (default: all). Each run is a fresh interpreter, so
every figure includes start-up (and, for Dask, starting the local cluster).
"""

import argparse
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SERIAL = """
import sys
from pathlib import Path
import pixmorf
for image in sorted(Path(sys.argv[1]).iterdir()):
    pixmorf.convert_image_to_svg_py(str(image), str(Path(sys.argv[2]) / (image.stem + ".svg")))
"""


def timed(command: list[str]) -> float:
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--images", type=Path, default=ROOT.parent / "shared" / "images")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("names", nargs="*")
    arguments = parser.parse_args()
    names = arguments.names or sorted(p.name for p in arguments.images.iterdir() if p.suffix != ".md")
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch) / "input"
        folder.mkdir()
        for name in names:  # links, so that the folder holds only the chosen pictures
            (folder / name).symlink_to(arguments.images.resolve() / name)
        outputs = [Path(scratch) / name for name in ("serial", "processes", "dask")]
        outputs[0].mkdir()
        workers = ["--workers", str(arguments.workers)]
        serial = timed([sys.executable, "-c", SERIAL, str(folder), str(outputs[0])])
        print(f"{len(names)} pictures: {', '.join(names)}")
        print(f"serial, one process: {serial:.2f} s")
        for label, script, output in (("processes", "convert_folder_processes.py", outputs[1]),
                                      ("dask", "convert_folder_dask.py", outputs[2])):
            seconds = timed([sys.executable, str(ROOT / "examples" / script), str(folder), str(output), *workers])
            same = all((output / p.name).read_bytes() == p.read_bytes() for p in outputs[0].iterdir())
            print(f"{label}, {arguments.workers} workers: {seconds:.2f} s, speed-up {serial / seconds:.2f}"
                  f"{'' if same else ', OUTPUT DIFFERS'}")


if __name__ == "__main__":
    main()
