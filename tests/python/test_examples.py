"""The folder conversion examples write the same SVG files as converting the
images one after another in this process."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

import pixmorf

Image = pytest.importorskip("PIL.Image")
ImageDraw = pytest.importorskip("PIL.ImageDraw")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


# They run process pools, not native code paths of their own: left out of the
# sanitizer run.
pytestmark = pytest.mark.slow

SCRIPTS = [
    "convert_folder_processes.py",
    pytest.param(
        "convert_folder_dask.py",
        marks=pytest.mark.skipif(
            importlib.util.find_spec("distributed") is None,
            reason="dask[distributed] not installed (examples/requirements-dask.txt)",
        ),
    ),
]


def draw_picture(seed: int, mode: str) -> "Image.Image":
    background = (255, 255, 255, 0) if mode == "RGBA" else (250, 245, 235)
    picture = Image.new(mode, (40, 28), background[: len(mode)])
    draw = ImageDraw.Draw(picture)
    colors = [(200, 30, 40, 255), (20, 90, 200, 255), (30, 160, 60, 255), (20, 20, 20, 255)]
    for index, color in enumerate(colors):
        x = (seed * 7 + index * 9) % 30
        y = (seed * 5 + index * 6) % 18
        shape = draw.ellipse if (seed + index) % 2 else draw.rectangle
        shape((x, y, x + 9, y + 8), fill=color[: len(mode)])
    return picture


@pytest.fixture(scope="module")
def pictures(tmp_path_factory: pytest.TempPathFactory) -> Path:
    folder = tmp_path_factory.mktemp("pictures")
    draw_picture(1, "RGB").save(folder / "shapes.png")
    draw_picture(2, "RGBA").save(folder / "transparent.png")
    draw_picture(3, "RGB").save(folder / "upper_case.PNG")
    draw_picture(4, "RGB").resize((160, 112), Image.Resampling.BICUBIC).save(folder / "resampled.png")
    draw_picture(5, "L").save(folder / "grey.png")
    (folder / "notes.txt").write_text("not a picture\n")
    return folder


def convert_serially(images: list[Path], output_dir: Path, options: dict[str, object]) -> None:
    output_dir.mkdir()
    for image in images:
        pixmorf.convert_image_to_svg_py(str(image), str(output_dir / (image.stem + ".svg")), **options)


def run_example(script: str, input_dir: Path, output_dir: Path, *arguments: str) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, str(EXAMPLES / script), str(input_dir), str(output_dir), "--workers", "2", *arguments]
    return subprocess.run(command, capture_output=True, text=True, timeout=600)


def svg_files(folder: Path) -> dict[str, bytes]:
    return {path.name: path.read_bytes() for path in sorted(folder.iterdir())}


@pytest.mark.parametrize("script", SCRIPTS)
@pytest.mark.parametrize(
    ("arguments", "options"),
    [
        ((), {}),
        (
            ("--hierarchical", "cutout", "--mode", "polygon", "--filter-speckle", "2", "--length-threshold", "3.5"),
            {"hierarchical": "cutout", "mode": "polygon", "filter_speckle": 2, "length_threshold": 3.5},
        ),
        (("--colormode", "binary", "--path-precision", "3"), {"colormode": "binary", "path_precision": 3}),
    ],
    ids=["defaults", "cutout-polygon", "binary"],
)
def test_example_matches_serial_conversion(
    script: str, arguments: tuple[str, ...], options: dict[str, object], pictures: Path, tmp_path: Path
) -> None:
    images = sorted(path for path in pictures.iterdir() if path.suffix != ".txt")
    convert_serially(images, tmp_path / "serial", options)
    result = run_example(script, pictures, tmp_path / "parallel", *arguments)
    assert result.returncode == 0, result.stderr
    assert f"converted {len(images)} of {len(images)} images" in result.stdout
    expected = svg_files(tmp_path / "serial")
    assert len(expected) == len(images)
    assert all(b"<path" in svg for svg in expected.values())
    assert svg_files(tmp_path / "parallel") == expected


def test_dask_example_on_a_running_cluster(pictures: Path, tmp_path: Path) -> None:
    distributed = pytest.importorskip("distributed")
    images = sorted(path for path in pictures.iterdir() if path.suffix != ".txt")
    convert_serially(images, tmp_path / "serial", {})
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None
    ) as cluster:
        address = cluster.scheduler_address
        result = run_example("convert_folder_dask.py", pictures, tmp_path / "parallel", "--scheduler", address)
        ran_on_the_cluster = "convert_bytes" in cluster.scheduler.task_prefixes
    assert result.returncode == 0, result.stderr
    assert ran_on_the_cluster
    assert svg_files(tmp_path / "parallel") == svg_files(tmp_path / "serial")


@pytest.mark.parametrize("script", SCRIPTS)
def test_example_reports_a_broken_file_and_converts_the_rest(script: str, pictures: Path, tmp_path: Path) -> None:
    input_dir = tmp_path / "input"
    input_dir.mkdir()
    (input_dir / "good.png").write_bytes((pictures / "shapes.png").read_bytes())
    (input_dir / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n" + b"\0" * 40)
    convert_serially([input_dir / "good.png"], tmp_path / "serial", {})
    result = run_example(script, input_dir, tmp_path / "parallel")
    assert result.returncode == 1
    assert "broken.png" in result.stderr
    assert "converted 1 of 2 images" in result.stdout
    assert svg_files(tmp_path / "parallel") == svg_files(tmp_path / "serial")


def test_images_that_would_share_an_svg_file_are_refused(pictures: Path, tmp_path: Path) -> None:
    input_dir = tmp_path / "input"
    input_dir.mkdir()
    for name in ("logo.png", "logo.gif"):
        (input_dir / name).write_bytes((pictures / "shapes.png").read_bytes())
    result = run_example("convert_folder_processes.py", input_dir, tmp_path / "output")
    assert result.returncode == 1
    assert "logo" in result.stderr
    assert not (tmp_path / "output").exists()
