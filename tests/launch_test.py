"""The launched program: what each process prints, its exit status, and the process limit."""
import re

import pytest

from conftest import INITIAL, launch, snapshot_name


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5])
def test_every_process_reports_and_takes_part(tmp_path, initial_copy, n):
    result = launch(n, tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines.count("dx = 0.1") == n
    times = [re.fullmatch(r"Working time = (\S+)", line) for line in lines]
    times = [float(m.group(1)) for m in times if m]
    assert len(times) == n and len(lines) == 2 * n, result.stdout
    assert all(0.0 < t < 120.0 for t in times), times
    # A launcher that does not match the MPI library starts n one-process jobs, which would all
    # write rank 0's files; n real processes write one strip each and n copies of the grid.
    assert (tmp_path / INITIAL).read_text() == n * initial_copy
    written = {p.name for p in tmp_path.glob("rank*_0.000000")} - {INITIAL}
    assert written == {snapshot_name(rank, 0) for rank in range(n)}


def test_more_processes_than_the_grid_allows_stop_together(tmp_path):
    result = launch(6, tmp_path)
    assert result.returncode != 0
    message = [line for line in result.stderr.splitlines() if line.startswith("heat2d:")]
    assert message == ["heat2d: started with 6 processes, but the 10-row grid allows at most 5 "
                       "(every strip needs two rows)"]
    assert "dx =" not in result.stdout
    assert list(tmp_path.iterdir()) == []
