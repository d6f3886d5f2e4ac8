"""The launched program with 1 to 5 processes: what each process prints, its exit status, its files
against the one-process run, heat2d-study's files without options, and the process limit."""
import filecmp
import os
import re

import pytest

from conftest import HEAT2D, INITIAL, LABELS, launch, mismatched_labels, snapshot_name

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5])
def test_every_process_reports_and_the_strips_join_to_the_one_process_files(
        tmp_path, reference, initial_copy, n):
    result = launch(n, tmp_path / "heat2d")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines.count("dx = 0.1") == n
    times = [re.fullmatch(r"Working time = (\S+)", line) for line in lines]
    times = [float(m.group(1)) for m in times if m]
    assert len(times) == n and len(lines) == 2 * n, result.stdout
    assert all(0.0 < t < 120.0 for t in times), times
    # A launcher that does not match the MPI library starts n one-process jobs, which would all
    # write rank 0's files; n real processes write one strip each and n copies of the grid.
    folder = tmp_path / "heat2d"
    assert (folder / INITIAL).read_text() == n * initial_copy
    assert len(list(folder.iterdir())) == n * len(LABELS) + 1
    assert mismatched_labels(folder, n, reference) == []

    # heat2d-study without options solves the same problem and writes the same bytes, and its
    # record of them.
    study = launch(n, tmp_path / "study", command=[STUDY])
    assert study.returncode == 0, study.stderr
    names = sorted(p.name for p in folder.iterdir())
    match, mismatch, errors = filecmp.cmpfiles(folder, tmp_path / "study", names, shallow=False)
    assert len(match) == len(names)
    written = sorted(p.name for p in (tmp_path / "study").iterdir())
    assert written == sorted(names + ["snapshots.json"])


@pytest.mark.parametrize("n, arguments, message", [
    (6, [], "heat2d: started with 6 processes, but the 10-row grid allows at most 5 (every strip "
            "needs two rows)"),
    (2, ["--help"], "heat2d: takes no arguments (given '--help'); it solves one fixed problem. "
                    "heat2d-study --help lists the options of the same solver"),
])
def test_a_run_heat2d_cannot_make_stops_every_process_before_anything_is_written(
        tmp_path, n, arguments, message):
    result = launch(n, tmp_path, command=[os.path.abspath(HEAT2D), *arguments])
    assert result.returncode != 0
    assert [line for line in result.stderr.splitlines() if line.startswith("heat2d:")] == [message]
    assert "dx =" not in result.stdout
    assert list(tmp_path.iterdir()) == []
