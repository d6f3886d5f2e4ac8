"""Helpers for the tests that launch the real program: runs in fresh folders, snapshot files."""
import contextlib
import os
import shutil
import stat
import subprocess
import tempfile

import pytest

HEAT2D = os.environ.get("HEAT2D", "build/heat2d")
MPIEXEC = os.environ.get("HEAT2D_MPIEXEC", "mpiexec")
LABELS = range(0, 25000, 10)
INITIAL = "rank-100_0.000000"
# A run that hangs is a failure, not a stalled suite.
RUN_TIMEOUT = 300


@contextlib.contextmanager
def mpi_job(env=None):
    """The environment of one Open MPI job whose shared-memory segments (vader_segment.*, 4 MiB
    each) go to a folder of its own, removed once the job is over however it ended: a job killed
    outright leaves them behind in /dev/shm."""
    folder = tempfile.mkdtemp(prefix="heat2d-mpi-",
                              dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        yield {**os.environ, **(env or {}), "OMPI_MCA_btl_vader_backing_directory": folder}
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def launch(n, folder, command=(), env=None, timeout=RUN_TIMEOUT):
    """Runs `command` (default: heat2d) with n processes in folder and returns the completed
    process."""
    folder.mkdir(parents=True, exist_ok=True)
    with mpi_job(env) as environment:
        return subprocess.run(
            [MPIEXEC, "-n", str(n), *map(str, command or [os.path.abspath(HEAT2D)])],
            cwd=folder, capture_output=True, text=True, timeout=timeout, env=environment)


def snapshot_name(rank, label):
    return f"rank{rank}_{label}.000000"


def joined_snapshot(folder, n, label):
    """The strips of one label joined line by line in rank order, as one process would write it."""
    strips = [(folder / snapshot_name(rank, label)).read_text().split("\n") for rank in range(n)]
    return "\n".join("".join(parts) for parts in zip(*strips))


def mismatched_labels(folder, n, reference, skip=()):
    """Labels whose joined strips differ from the one-process file of that label."""
    return [label for label in LABELS if label not in skip
            and joined_snapshot(folder, n, label) != (reference / snapshot_name(0, label)).read_text()]


@pytest.fixture(scope="session")
def reference(tmp_path_factory):
    """A one-process run: the gold files that every parallel run must reproduce."""
    folder = tmp_path_factory.mktemp("one_process")
    result = launch(1, folder)
    assert result.returncode == 0, result.stderr
    return folder


@pytest.fixture(scope="session")
def initial_copy(reference):
    """One copy of the initial field's text."""
    return (reference / INITIAL).read_text()



# Runs write large folders, and the suite's folders live in memory (tmpfs): a test that passes
# removes its folder; one that fails keeps it and the summary names it. The folders fixtures share
# go when the whole run passed; a failed run's are cleared when the suite runs next (pytest empties
# --basetemp at the start).
KEPT = []


def remove_folder(folder):
    """Removes folder whatever the modes a test left inside it (a folder made read-only)."""
    def writable_and_again(function, path, _):
        os.chmod(os.path.dirname(path), stat.S_IRWXU)
        function(path)
    shutil.rmtree(folder, onerror=writable_and_again)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item):
    report = (yield).get_result()
    folder = getattr(item, "funcargs", {}).get("tmp_path")
    if folder is None:
        return
    if report.failed and folder not in KEPT:
        KEPT.append(folder)
    elif report.when == "teardown" and folder not in KEPT and folder.exists():
        remove_folder(folder)


def pytest_terminal_summary(terminalreporter):
    for folder in KEPT:
        terminalreporter.write_line(f"kept for the failed test: {folder}")


def pytest_sessionfinish(session, exitstatus):
    basetemp = session.config.option.basetemp
    if exitstatus == 0 and basetemp and os.path.isdir(basetemp):
        remove_folder(basetemp)
