"""heat2d-view on folders written by the real solver: reassembly, the verdict of compare, clear
messages for bad input, and the files plot, animate and vtk produce."""
import pathlib
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from PIL import Image

from conftest import INITIAL, launch, snapshot_name

TOOLS = pathlib.Path(__file__).resolve().parent.parent / "tools"
sys.path.insert(0, str(TOOLS))
from heat2d_view.run_folder import RunFolder  # noqa: E402


def view(*arguments):
    return subprocess.run([sys.executable, str(TOOLS / "heat2d-view"), *map(str, arguments)],
                          capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """Run folders of the real solver for 1 to 5 processes."""
    folders = {}
    for n in range(1, 6):
        folders[n] = tmp_path_factory.mktemp(f"n{n}")
        assert launch(n, folders[n]).returncode == 0
    return folders


def test_strips_reassemble_into_the_one_process_grid(runs):
    one = RunFolder(runs[1])
    assert one.shape == (10, 10) and len(one.labels) == 2500 and one.labels[-1] == 24990
    first = one.field(0)
    assert (first[0] == 100).all() and (first[1, 1:9] == 0.1).all() and first[1, 0] == 0
    assert (first[2:] == 0).all()
    reference = dict(one.fields())
    for n in range(2, 6):
        run = RunFolder(runs[n])
        assert run.process_count == n
        for label, field in run.fields():
            assert np.array_equal(field, reference[label]), (n, label)


def test_compare_finds_one_changed_digit_among_thousands_of_files(runs, tmp_path):
    same = view("compare", runs[1], runs[4])
    assert same.returncode == 0 and same.stdout.startswith("identical: 2500 labels, 1 against 4")

    changed = tmp_path / "changed"
    shutil.copytree(runs[4], changed)
    target = changed / snapshot_name(2, 12340)
    lines = target.read_text().split("\n")
    values = lines[7].split("\t")
    values[1] = f"{float(values[1]) + 1e-6:f}"  # grid row 5, column 7, last digit up by one
    lines[7] = "\t".join(values)
    target.write_text("\n".join(lines))
    verdict = view("compare", runs[1], changed)
    assert verdict.returncode == 1
    assert verdict.stdout.startswith("label 12340 differs first: 1 cell, at row 5, column 7")
    assert "difference 1e-06" in verdict.stdout

    fewer = tmp_path / "fewer"
    shutil.copytree(runs[2], fewer)
    for rank in (0, 1):
        (fewer / snapshot_name(rank, 24990)).unlink()
    only = view("compare", runs[2], fewer)
    assert only.returncode == 1 and "1 labels only in" in only.stdout and "24990" in only.stdout


def appended_second_run(folder):
    assert launch(2, folder).returncode == 0
    return snapshot_name(0, 0), "holds the same block twice"


def missing_rank_file(folder):
    (folder / snapshot_name(1, 500)).unlink()
    return snapshot_name(1, 500), "missing"


def ragged_line(folder):
    path = folder / snapshot_name(0, 70)
    path.write_text(path.read_text().replace("\t\n", "\t1.0\t\n", 1))
    return snapshot_name(0, 70), "line 2 has 5 values, line 1 has 6 (ragged)"


def non_numeric_value(folder):
    path = folder / snapshot_name(1, 30)
    path.write_text(path.read_text().replace("0.000000", "O.000000", 1))
    return snapshot_name(1, 30), "could not convert string to float: 'O.000000'"


def one_file_appended_twice(folder):
    path = folder / snapshot_name(0, 880)
    path.write_text(2 * path.read_text())
    return snapshot_name(0, 880), "20 lines where the run's other files have 10"


def mixed_process_counts(folder):
    three = folder.parent / "three"
    assert launch(3, three).returncode == 0
    for label in range(0, 25000, 10):
        shutil.copy(three / snapshot_name(2, label), folder)
    return snapshot_name(0, 0), "a strip of 5 rows where 3 processes on 14 rows give 4"


def extra_initial_copy(folder):
    path = folder / INITIAL
    path.write_text(path.read_text() + path.read_text()[:930])  # one more whole copy
    return INITIAL, "holds 3 copies of the initial field"


def empty_folder(folder):
    for path in folder.iterdir():
        path.unlink()
    return "", "no snapshot files"


@pytest.mark.parametrize("damage", [appended_second_run, missing_rank_file, ragged_line,
                                    non_numeric_value, one_file_appended_twice,
                                    mixed_process_counts, extra_initial_copy, empty_folder])
def test_bad_input_gets_one_clear_message(runs, tmp_path, damage):
    folder = tmp_path / "run"
    shutil.copytree(runs[2], folder)
    name, problem = damage(folder)
    command = "vtk" if damage is one_file_appended_twice else "plot"
    result = view(command, folder, "-o", tmp_path / "out")
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and "Traceback" not in result.stderr, result.stderr
    assert result.stderr.startswith(f"heat2d-view: {folder / name}") and problem in result.stderr


def test_vtk_series_is_well_formed_with_extents_values_and_times(runs, tmp_path):
    result = view("vtk", runs[3], "-o", tmp_path / "vtk")
    assert result.returncode == 0, result.stderr
    collection = ET.parse(tmp_path / "vtk" / "field.pvd").getroot()
    datasets = collection.findall("./Collection/DataSet")
    assert len(datasets) == 2500
    assert [float(d.get("timestep")) for d in datasets[:2]] == [1e-5, 11e-5]
    last = ET.parse(tmp_path / "vtk" / datasets[-1].get("file")).getroot()
    image = last.find("ImageData")
    assert image.get("WholeExtent") == "0 9 0 9 0 0" and image.get("Spacing") == "0.1 0.1 1"
    values = np.array(image.find("./Piece/PointData/DataArray").text.split(), dtype=float)
    field = RunFolder(runs[1]).field(24990)
    assert values.size == 100 and np.array_equal(values, field.T.ravel())


def test_plot_and_animation_have_the_expected_size_and_frames(runs, tmp_path):
    assert view("plot", runs[5], "-o", tmp_path / "final.png").returncode == 0
    with Image.open(tmp_path / "final.png") as png:
        assert png.format == "PNG" and png.size == (640, 500)
    result = view("animate", runs[5], "--every", 250, "-o", tmp_path / "field.gif")
    assert result.returncode == 0, result.stderr
    with Image.open(tmp_path / "field.gif") as gif:
        assert gif.format == "GIF" and gif.n_frames == 10 and gif.size == (640, 500)
