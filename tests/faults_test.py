"""Snapshots that cannot be written: each reason reported once, the run summed up in one line, a
non-zero status carried without cutting any process's lines, and every other snapshot whole."""
import contextlib
import os
import subprocess

import pytest

from conftest import HEAT2D, INITIAL, launch, mismatched_labels, snapshot_name


def directories_in_the_way(folder):
    # Process 1 loses an earlier label than process 0: the run's last loss is process 0's.
    (folder / snapshot_name(1, 100)).mkdir()
    (folder / snapshot_name(0, 200)).mkdir()
    return 2, (), "rank1_100.000000 not written: Is a directory", \
        "2 snapshots, first rank1_100.000000, last rank0_200.000000"


def link_to_a_full_device(folder):
    os.symlink("/dev/full", folder / snapshot_name(0, 50))
    return 2, (), "rank0_50.000000 not written: No space left on device", \
        "1 snapshot (rank0_50.000000)"


def file_size_limit(folder):
    # Set before the process starts, as a shell would: 1 KiB holds one copy of the initial field
    # (930 bytes) and any strip, so the two copies appended after the first are lost.
    wrapper = ("bash", "-c", f'ulimit -f 1; exec "{os.path.abspath(HEAT2D)}"')
    return 3, wrapper, f"{INITIAL} not written: File too large", \
        f"2 snapshots, first {INITIAL}, last {INITIAL}"


@contextlib.contextmanager
def read_only(folder):
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", folder],
                      capture_output=True).returncode != 0:
        pytest.skip("cannot mount a read-only file system here")
    try:
        yield
    finally:
        subprocess.run(["umount", folder], check=True)


def read_only_folder(folder):
    return 5, (), f"{INITIAL} not written: Read-only file system", \
        f"12505 snapshots, first {INITIAL}, last {snapshot_name(4, 24990)}"


@pytest.mark.parametrize("fault", [directories_in_the_way, link_to_a_full_device, file_size_limit,
                                   read_only_folder])
def test_lost_snapshots_are_summed_up_and_fail_the_run(tmp_path, reference, fault):
    n, wrapper, reason, lost = fault(tmp_path)
    guard = read_only(tmp_path) if fault is read_only_folder else contextlib.nullcontext()
    with guard:
        result = launch(n, tmp_path, command=wrapper)

    assert result.returncode != 0
    # Every process printed both its lines: the failure did not cut any of them short.
    stdout = result.stdout.splitlines()
    assert stdout.count("dx = 0.1") == n and len(stdout) == 2 * n, result.stdout
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d:")]
    assert f"heat2d: snapshot {reason} (later snapshots lost for this reason are only counted)" \
        in ours, result.stderr
    summary = [line for line in ours if "processes lost snapshots; the run lost" in line]
    assert len(summary) == 1 and summary[0].endswith(lost), result.stderr
    assert len(ours) <= 3 * n, result.stderr  # a handful per process, however many were lost
    if fault is not read_only_folder:
        skip = [label for label in (50, 100, 200) if f"_{label}." in lost]
        assert mismatched_labels(tmp_path, n, reference, skip=skip) == []
