"""heat2d-study: the same bits on any number of processes, the distance from the exact solution,
and one clear refusal for every bad input."""
import json
import os
import subprocess

import numpy as np
import pytest

from conftest import launch

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))


def study(n, folder, *options, timeout=120):
    return launch(n, folder, command=[STUDY, *map(str, options)], timeout=timeout)


def figures(n, folder, *options):
    result = study(n, folder, *options, "--json")
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


# Rows of 2000 doubles (16 KB) are beyond what Open MPI sends eagerly: an exchange that sent both
# rows before receiving either would deadlock here, so the timeout is short.
@pytest.mark.parametrize("shape, counts", [
    ((37, 23, 300, 2e-4), range(1, 9)),
    ((12, 3, 200, 1e-3), range(1, 7)),    # one inner column
    ((16, 2000, 40, 1e-8), (1, 2, 4, 8)),
    ((1600, 1600, 4, 1e-8), (1, 2)),     # one process's layers outgrow the cache: streamed rows
])
def test_the_saved_field_is_the_same_bytes_on_every_process_count(tmp_path, shape, counts):
    rows, cols, steps, dt = shape
    saved = {}
    for n in counts:
        result = study(n, tmp_path, "--rows", rows, "--cols", cols, "--steps", steps, "--dt", dt,
                       "--every", 0, "--save", f"{n}.npy", timeout=60)
        assert result.returncode == 0, result.stderr
        # n real processes: one summary, from a world of n (a mismatched launcher gives n of 1).
        assert result.stdout.count(f"{rows} x {cols} grid, {n} process") == 1, result.stdout
        saved[n] = (tmp_path / f"{n}.npy").read_bytes()
    assert np.load(tmp_path / "1.npy").shape == (rows, cols)
    assert [n for n in counts if saved[n] != saved[1]] == []


def test_the_error_matches_an_independent_model_and_falls_as_the_grid_is_refined(tmp_path):
    assert figures(2, tmp_path, "--every", 0)["max_error"] == pytest.approx(6.4e-2, abs=1e-3)
    # The same final time with dt / dx^2 fixed at the default problem's 0.001.
    errors = [figures(1, tmp_path, "--rows", n, "--cols", n, "--steps", 1000 * (n // 10) ** 2,
                      "--dt", 0.001 / n ** 2, "--every", 0)["max_error"] for n in (10, 20, 40)]
    assert errors[0] > 2 * errors[1] > 4 * errors[2], errors


@pytest.mark.parametrize("n, options, message", [
    (1, ["--size", 3], "unknown option '--size'"),
    (1, ["--rows"], "option --rows needs a value"),
    (1, ["--rows", "ten"], "option --rows needs a whole number, not 'ten'"),
    (1, ["--steps", "1e3"], "option --steps needs a whole number, not '1e3'"),
    (1, ["--dt", "inf"], "option --dt needs a finite number, not 'inf'"),
    (3, ["--rows", 5], "--rows 5 is too few for 3 processes: every strip needs two rows, so at "
                       "least 6 rows, or at most 2 processes"),
    (6, [], "--rows 10 is too few for 6 processes"),
    (1, ["--cols", 2], "--cols 2 is too few: at least 3"),
    (1, ["--steps", 0], "--steps 0 is too few: at least 1"),
    (1, ["--dt", 0], "--dt 0 is not positive"),
    (1, ["--dt", 0.0026], "--dt 0.0026 is unstable on a 10 x 10 grid: the scheme needs "
                          "dt*(1/dx^2 + 1/dy^2) <= 1/2, so --dt 0.0025 at most"),
    (1, ["--every", -1], "--every -1 is negative"),
    (2, ["--rows", 200000, "--cols", 200000, "--dt", 1e-12],
     "a 200000 x 200000 grid is too large for the memory"),
    (2, ["--save", "missing/field.npy"], "cannot write missing/field.npy: no such file or directory"),
])
def test_bad_input_is_refused_in_one_line_before_anything_is_written(tmp_path, n, options,
                                                                     message):
    result = study(n, tmp_path, *options, timeout=60)
    assert result.returncode != 0
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert len(ours) == 1 and ours[0].startswith(f"heat2d-study: {message}"), result.stderr
    assert result.stdout == "" and list(tmp_path.iterdir()) == []


def test_a_field_that_does_not_fit_on_the_disk_is_reported_and_removed(tmp_path):
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk]).returncode != 0:
        pytest.skip("cannot mount a small file system here")
    try:
        result = study(2, tmp_path, "--rows", 200, "--cols", 200, "--steps", 3, "--dt", 1e-6,
                       "--every", 0, "--save", disk / "field.npy")
        assert result.returncode == 1
        assert f"heat2d-study: {disk / 'field.npy'} not written: no space left on device\n" \
            in result.stderr
        assert list(disk.iterdir()) == []
    finally:
        subprocess.run(["umount", disk], check=True)


def test_help_prints_the_usage_and_runs_nothing(tmp_path):
    result = study(2, tmp_path, "--help")
    assert result.returncode == 0 and result.stdout.startswith("usage: mpiexec -n P heat2d-study")
    assert list(tmp_path.iterdir()) == []
