"""Snapshot files: their stated content, concurrent appends, the TCP transport, a second run."""
import pytest

from conftest import INITIAL, LABELS, launch, mismatched_labels, snapshot_name


def test_one_process_files_hold_the_stated_lines(reference):
    assert (reference / INITIAL).read_text() == ("100.000000\t" + "0.000000\t" * 9 + "\n") * 10
    first = (reference / snapshot_name(0, 0)).read_text().split("\n")
    assert first[-1] == "" and len(first) == 11
    for column, line in enumerate(first[:-1]):
        values = line.split("\t")
        assert values[-1] == "" and len(values) == 11, line
        second = "0.000000" if column in (0, 9) else "0.100000"
        assert values[:3] == ["100.000000", second, "0.000000"] and values[9] == "0.000000"
    files = sorted(p.name for p in reference.iterdir())
    assert len(files) == len(LABELS) + 1


def test_concurrent_appends_of_the_initial_field_never_interleave(tmp_path, reference, initial_copy):
    for attempt in range(4):
        folder = tmp_path / str(attempt)
        result = launch(5, folder)
        assert result.returncode == 0, result.stderr
        assert (folder / INITIAL).read_text() == 5 * initial_copy
    assert mismatched_labels(folder, 5, reference) == []


def test_results_hold_over_the_tcp_transport(tmp_path, reference):
    result = launch(4, tmp_path, env={"OMPI_MCA_btl": "tcp,self"})
    assert result.returncode == 0, result.stderr
    assert mismatched_labels(tmp_path, 4, reference) == []


def test_a_second_run_in_the_same_folder_appends_a_second_copy(tmp_path):
    assert launch(2, tmp_path).returncode == 0
    first = {p.name: p.read_text() for p in tmp_path.iterdir()}
    assert launch(2, tmp_path).returncode == 0
    second = {p.name: p.read_text() for p in tmp_path.iterdir()}
    assert second.keys() == first.keys()
    assert all(second[name] == 2 * first[name] for name in first)
