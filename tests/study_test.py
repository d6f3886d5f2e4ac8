"""heat2d-study: the same bits on any number of processes, split and exchange; restarts that go on
bit for bit; starting fields of the user's; the figures of the summary; and one clear refusal for
every bad input."""
import io
import json
import os
import shutil
import signal
import stat
import subprocess
import time

import numpy as np
import pytest

from conftest import launch

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))
EXCHANGES = ("blocking", "overlap")


def study(n, folder, *options, timeout=120, env=None):
    return launch(n, folder, command=[STUDY, *map(str, options)], timeout=timeout, env=env)


def figures(n, folder, *options, timeout=120):
    result = study(n, folder, *options, "--json", timeout=timeout)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def factorisations(n):
    return [(rows, n // rows) for rows in range(1, n + 1) if n % rows == 0]


def blocks(rows, cols, exchange="blocking"):
    return ["--split", "blocks", "--procs", f"{rows}x{cols}", "--exchange", exchange]


def most_bytes_sent(nx, ny, process_rows, process_cols):
    """Per step, by the block that sends the most: its width to each process row it borders, its
    height to each process column, eight bytes a value; the remainder goes to the last block."""
    def extents(n, parts):
        return [n // parts] * (parts - 1) + [n - n // parts * (parts - 1)]
    heights, widths = extents(nx, process_rows), extents(ny, process_cols)
    return max(8 * (widths[c] * ((r > 0) + (r < process_rows - 1))
                    + heights[r] * ((c > 0) + (c < process_cols - 1)))
               for r in range(process_rows) for c in range(process_cols))


ODD = ("--rows", 37, "--cols", 23, "--steps", 300, "--dt", 2e-4)
# Rows and columns of 700 doubles or more, beyond what Open MPI sends without waiting for the
# receiver: an exchange that sent before receiving in the wrong order would deadlock, and the
# timeout is short.
WIDE = ("--rows", 2048, "--cols", 2048, "--steps", 3, "--dt", 1e-8)
RUNS = {
    "odd": (ODD, [(n, []) for n in range(1, 9)]
            + [(6, blocks(r, c, e)) for r, c in factorisations(6) for e in EXCHANGES]
            + [(8, ["--exchange", "overlap"]), (7, ["--split", "blocks"])]),
    "wide": (WIDE, [(4, []), (4, blocks(2, 2)), (6, blocks(3, 2, "overlap") + ["--stores",
                                                                                "streamed"]),
                    (6, blocks(2, 3) + ["--stores", "streamed"]), (8, ["--exchange", "overlap"])]),
    "one inner column": (("--rows", 12, "--cols", 3, "--steps", 200, "--dt", 1e-3),
                         [(n, []) for n in range(2, 7)] + [(4, blocks(4, 1, "overlap"))]),
}


@pytest.mark.parametrize("name", RUNS)
def test_every_process_count_split_and_exchange_saves_the_same_bytes(tmp_path, name):
    problem, runs = RUNS[name]
    one = figures(1, tmp_path, *problem, "--every", 0, "--save", "1.npy")
    reference = (tmp_path / "1.npy").read_bytes()
    # The .npy is exactly what numpy.save writes for the same array (header, padding, layout).
    field = np.load(tmp_path / "1.npy")
    expected = io.BytesIO()
    np.save(expected, field)
    assert reference == expected.getvalue() and field.shape == (one["rows"], one["cols"])
    for n, options in runs:
        (tmp_path / "n.npy").unlink(missing_ok=True)
        result = figures(n, tmp_path, *problem, "--every", 0, "--save", "n.npy", *options,
                         timeout=30)
        # n real processes in one world (a mismatched launcher gives n worlds of 1).
        assert result["processes"] == n, (n, options)
        assert (tmp_path / "n.npy").read_bytes() == reference, (n, options)
        assert result["bytes_per_step"] == most_bytes_sent(result["rows"], result["cols"],
                                                           *result["procs"]), (n, options)


def test_restarts_continue_bit_for_bit_whatever_the_processes_split_and_exchange(tmp_path):
    # A time step with all of a double's digits: the record must give it back exactly.
    problem = ("--rows", 37, "--cols", 23, "--dt", 1.2345678901234567e-4, "--every", 0)
    study(2, tmp_path, *problem, "--steps", 300, "--save", "whole.npy")
    first = study(3, tmp_path, *problem, "--steps", 250, "--save", "part.npy", "--save-every",
                  100, *blocks(3, 1, "overlap"))
    assert first.returncode == 0, first.stderr
    assert sorted(p.name for p in tmp_path.glob("part.*.npy")) == ["part.100.npy", "part.200.npy"]
    for n, saved, options in [(4, "part.100.npy", blocks(2, 2)),
                              (1, "part.200.npy", []),
                              (6, "part.npy", blocks(2, 3, "overlap"))]:
        result = study(n, tmp_path, "--restart", saved, "--steps", 300, "--every", 0, "--save",
                       "again.npy", *options)
        assert result.returncode == 0, result.stderr
        assert (tmp_path / "again.npy").read_bytes() == (tmp_path / "whole.npy").read_bytes(), saved
    record = json.loads((tmp_path / "again.npy.json").read_text())
    assert (record["steps"], record["dt"], record["initial"]) == (300, 1.2345678901234567e-4,
                                                                  "heat2d")


def test_a_killed_run_restarts_from_its_newest_saved_field_bit_for_bit(tmp_path):
    problem = ("--rows", 256, "--cols", 256, "--dt", 1e-6, "--every", 0, "--steps", 40000)
    assert study(2, tmp_path / "whole", *problem, "--save", "f.npy").returncode == 0
    folder = tmp_path / "killed"
    folder.mkdir()
    run = subprocess.Popen([os.environ.get("HEAT2D_MPIEXEC", "mpiexec"), "-n", "2", STUDY,
                            *map(str, problem), "--save", "f.npy", "--save-every", "1000"],
                           cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while len(list(folder.glob("f.*.npy"))) < 3 and time.monotonic() < deadline:
        time.sleep(0.01)
    victim = subprocess.run(["pgrep", "-P", str(run.pid)], capture_output=True, text=True)
    os.kill(int(victim.stdout.split()[-1]), signal.SIGKILL)
    run.wait(timeout=60)
    assert run.returncode != 0 and not (folder / "f.npy").exists()
    # Every field under a final name is whole and has its record.
    saved = sorted(folder.glob("f.*.npy"), key=lambda p: int(p.name.split(".")[1]))
    for path in saved:
        assert np.load(path).shape == (256, 256)
        assert json.loads((folder / f"{path.name}.json").read_text())["steps"] == \
            int(path.name.split(".")[1])
    result = study(3, folder, "--restart", saved[-1].name, "--steps", 40000, "--every", 0,
                   "--save", "f.npy", *blocks(3, 1, "overlap"))
    assert result.returncode == 0, result.stderr
    assert (folder / "f.npy").read_bytes() == (tmp_path / "whole" / "f.npy").read_bytes()


def scheme_steps(field, steps, dt):
    """The scheme cell by cell on whole arrays, in its order of operations: held first and last
    rows, side columns copying their inner neighbour from the previous layer."""
    nx, ny = field.shape
    rx, ry = dt / ((1 / nx) * (1 / nx)), dt / ((1 / ny) * (1 / ny))
    for _ in range(steps):
        new = field.copy()
        c = field[1:-1, 1:-1]
        new[1:-1, 1:-1] = (rx * ((field[:-2, 1:-1] - 2.0 * c) + field[2:, 1:-1]) + c) + \
            ry * ((field[1:-1, :-2] - 2.0 * c) + field[1:-1, 2:])
        new[1:-1, 0], new[1:-1, -1] = field[1:-1, 1], field[1:-1, -2]
        field = new
    return field


def test_a_starting_field_of_the_users_follows_the_scheme_cell_by_cell(tmp_path):
    start = np.random.default_rng(3).uniform(-50, 150, (19, 31))
    np.save(tmp_path / "start.npy", start)
    problem = ("--initial", "start.npy", "--steps", 7, "--dt", 1e-4, "--every", 3)
    result = study(4, tmp_path, *problem, "--save", "end.npy", *blocks(2, 2, "overlap"), "--json")
    assert result.returncode == 0, result.stderr
    # The blocks of a process row write one strip file together: the files of two strips.
    strips = tmp_path / "strips"
    strips.mkdir()
    shutil.copy(tmp_path / "start.npy", strips)
    assert study(2, strips, *problem).returncode == 0
    assert sorted(p.name for p in strips.glob("rank*")) == sorted(p.name for p in
                                                                  tmp_path.glob("rank*"))
    assert all((strips / p.name).read_bytes() == p.read_bytes() for p in tmp_path.glob("rank*"))
    end = np.load(tmp_path / "end.npy")
    assert np.array_equal(end.view(np.uint64), scheme_steps(start, 7, 1e-4).view(np.uint64))
    assert json.loads(result.stdout)["max_error"] is None
    assert json.loads((tmp_path / "end.npy.json").read_text())["initial"] == \
        str(tmp_path / "start.npy")
    # Two strip files per label and the starting field in the initial-field file, twice.
    copies = (tmp_path / "rank-100_0.000000").read_text().splitlines()
    assert len(copies) == 2 * 31 and copies[0] == "".join(f"{v:f}\t" for v in start[:, 0])


def test_the_summary_gives_the_time_reached_the_error_and_the_exchange_share(tmp_path):
    default = figures(2, tmp_path, "--every", 0)
    assert default["final_time"] == 25000 * 1e-5 and default["steps"] == 25000
    assert default["max_error"] == pytest.approx(6.4e-2, abs=1e-3)
    assert (default["split"], default["procs"], default["exchange"]) == ("strips", [2, 1],
                                                                         "blocking")
    one = figures(1, tmp_path, "--steps", 1, "--every", 0)
    assert one["final_time"] == 1e-5 and one["bytes_per_step"] == 0
    text = study(1, tmp_path, "--every", 0, "--steps", 2500).stdout
    assert "2500 steps of dt = 1e-05 to t = 0.025" in text
    # Six processes on strips of four rows do almost nothing but trade edges.
    busy = figures(6, tmp_path, "--rows", 24, "--cols", 4000, "--steps", 200, "--dt", 1e-9,
                   "--every", 0)
    assert busy["exchange_share"] > 0.5
    # The same final time with dt / dx^2 fixed at the default problem's 0.001: the error falls.
    errors = [figures(1, tmp_path, "--rows", n, "--cols", n, "--steps", 1000 * (n // 10) ** 2,
                      "--dt", 0.001 / n ** 2, "--every", 0)["max_error"] for n in (10, 20, 40)]
    assert errors[0] > 2 * errors[1] > 4 * errors[2], errors


BAD_INPUT = [
    (1, ["--size", 3], "unknown option '--size'"),
    (1, ["--rows"], "option --rows needs a value"),
    (1, ["--rows", "ten"], "option --rows needs a whole number, not 'ten'"),
    (1, ["--steps", "1e3"], "option --steps needs a whole number, not '1e3'"),
    (1, ["--rows", 4294967306], "option --rows 4294967306 is out of range"),
    (1, ["--dt", "inf"], "option --dt needs a finite number, not 'inf'"),
    (1, ["--dt", "1e-400"], "option --dt 1e-400 is too small for a double"),
    (3, ["--rows", 5], "--rows 5 is too few for 3 processes: every strip needs two rows, so at "
                       "least 6 rows, or at most 2 processes"),
    (3, ["--rows", 3], "--rows 3 is too few for 3 processes: every strip needs two rows, so at "
                       "least 6 rows, or at most 1 process"),
    (1, ["--rows", 2], "--rows 2 is too few: at least 3"),
    (1, ["--cols", 2], "--cols 2 is too few: at least 3"),
    (1, ["--steps", 0], "--steps 0 is too few: at least 1"),
    (1, ["--dt", 0], "--dt 0 is not positive"),
    (1, ["--dt", 0.0026], "--dt 0.0026 is unstable on a 10 x 10 grid: the scheme needs "
                          "dt*(1/dx^2 + 1/dy^2) <= 1/2, so --dt 0.0025 at most"),
    (1, ["--every", -1], "--every -1 is negative"),
    (1, ["--save-every", 5], "--save-every needs --save FILE.npy"),
    (2, ["--split", "rows"], "option --split takes strips or blocks, not 'rows'"),
    (2, ["--exchange", "async"], "option --exchange takes blocking or overlap, not 'async'"),
    (2, ["--split", "blocks", "--procs", "2by1"], "option --procs needs a process grid such as "
                                                   "2x3"),
    (2, ["--split", "blocks", "--procs", "0x2"], "option --procs needs a process grid"),
    (4, ["--split", "blocks", "--procs", "3x1"], "--procs 3x1 is 3 processes, but 4 were started"),
    (2, ["--procs", "2x1"], "--procs chooses the process grid of --split blocks"),
    (4, ["--split", "blocks", "--procs", "1x4", "--cols", 7],
     "the 1x4 process grid does not fit a 10 x 7 grid: 4 process columns leave blocks of 1 "
     "column on 7 columns, and every block needs at least two rows and two columns; --procs 2x2 "
     "fits"),
    (2, ["--rows", 200000, "--cols", 200000, "--dt", 1e-12],
     "a 200000 x 200000 grid is too large for the memory"),
    (2, ["--save", "missing/field.npy"], "cannot write missing/field.npy: no such file or "
                                         "directory"),
]


@pytest.mark.parametrize("n, options, message", BAD_INPUT)
def test_bad_input_is_refused_in_one_line_before_anything_is_written(tmp_path, n, options,
                                                                     message):
    result = study(n, tmp_path, *options, timeout=60)
    assert result.returncode == 2
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert len(ours) == 1 and ours[0].startswith(f"heat2d-study: {message}"), result.stderr
    assert result.stdout == "" and list(tmp_path.iterdir()) == []


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    """A 12 x 9 field saved after 20 steps, with its record."""
    folder = tmp_path_factory.mktemp("saved")
    assert study(2, folder, "--rows", 12, "--cols", 9, "--steps", 20, "--dt", 1e-4, "--every", 0,
                 "--save", "f.npy").returncode == 0
    return folder


def npy(array):
    return lambda folder, saved: np.save(folder / "f.npy", array)


def damaged(change):
    """A copy of the saved field whose .npy bytes or record text `change` alters."""
    def make(folder, saved):
        shutil.copy(saved / "f.npy", folder)
        shutil.copy(saved / "f.npy.json", folder)
        change(folder)
    return make


def with_value(value, row, col):
    field = np.zeros((6, 5))
    field[row, col] = value
    return npy(field)


def record(edit):
    def change(folder):
        path = folder / "f.npy.json"
        path.write_text(edit(path.read_text()))
    return change


def cut_short(folder, saved):
    np.save(folder / "f.npy", np.zeros((5, 6)))
    path = folder / "f.npy"
    path.write_bytes(path.read_bytes()[:-8])


# Each row makes f.npy (and its record) in an empty folder, given the saved fixture, and gives the
# options and the one line expected.
BAD_FILES = [
    (lambda f, s: None, ["--initial", "f.npy"], "f.npy: no such file or directory"),
    (lambda f, s: (f / "f.npy").mkdir(), ["--initial", "f.npy"],
     "f.npy is a folder, not a .npy file"),
    (lambda f, s: os.mkfifo(f / "f.npy"), ["--restart", "f.npy"], "f.npy is a FIFO, not a regular file"),
    (lambda f, s: (f / "f.npy").write_text("0 1 2\n"), ["--initial", "f.npy"],
     "f.npy is not a NumPy .npy file"),
    (npy(np.zeros((5, 5), np.float32)), ["--initial", "f.npy"],
     "f.npy: holds '<f4' values, not float64 in this machine's byte order"),
    (npy(np.zeros((3, 4, 5))), ["--initial", "f.npy"], "f.npy: holds an array of 3 dimensions"),
    (npy(np.asfortranarray(np.zeros((5, 6)))), ["--initial", "f.npy"],
     "f.npy: is stored in Fortran order"),
    (cut_short, ["--initial", "f.npy"],
     "f.npy is cut short: 360 bytes, where a 5 x 6 float64 field takes 368"),
    (with_value(np.nan, 2, 3), ["--initial", "f.npy"],
     "f.npy holds a value that is not finite (NaN or infinity) at row 2, column 3"),
    (with_value(-np.inf, 5, 0), ["--initial", "f.npy", *blocks(2, 1, "overlap")],
     "f.npy holds a value that is not finite (NaN or infinity) at row 5, column 0"),
    (npy(np.zeros((5, 6))), ["--initial", "f.npy", "--cols", 7],
     "--cols 7 disagrees with f.npy, which holds a 5 x 6 field"),
    (npy(np.zeros((5, 6))), ["--restart", "f.npy", "--steps", 9],
     "the record f.npy.json cannot be read"),
    (damaged(record(lambda text: "{" + text)), ["--restart", "f.npy"],
     "the record f.npy.json is damaged: not a JSON object"),
    (damaged(record(lambda text: text.replace('"steps"', '"stops"'))), ["--restart", "f.npy"],
     "the record f.npy.json is damaged: an unknown key 'stops'"),
    (damaged(record(lambda text: text.replace('"rows": 12', '"rows": 13'))),
     ["--restart", "f.npy"], "the record f.npy.json describes a 13 x 9 field, but f.npy holds "
                             "12 x 9"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--dt", 1.0000000000000002e-4],
     "--dt 0.00010000000000000002 disagrees with f.npy.json, whose run took dt = 0.0001"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--steps", 20],
     "--steps 20 is not beyond the 20 steps f.npy holds"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--initial", "f.npy"],
     "--restart and --initial exclude each other"),
]


@pytest.mark.parametrize("make, options, message", BAD_FILES)
def test_a_bad_restart_or_starting_file_is_refused_in_one_line(tmp_path, saved, make, options,
                                                               message):
    make(tmp_path, saved)
    before = sorted(p.name for p in tmp_path.iterdir())
    result = study(2, tmp_path, *options, "--every", 0, "--save", "out.npy", timeout=60)
    assert result.returncode == 2
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert len(ours) == 1 and ours[0].startswith(f"heat2d-study: {message}"), result.stderr
    assert result.stdout == "" and sorted(p.name for p in tmp_path.iterdir()) == before


def link_to(target):
    return lambda folder: os.symlink(target, folder / "field.npy")


def link_to_a_file(folder):
    (folder / "target").write_text("keep")
    os.symlink("target", folder / "field.npy")


# What --save may not replace: each row makes field.npy something other than a regular file.
NOT_REGULAR = [
    (lambda f: (f / "field.npy").mkdir(), "it is a folder"),
    (lambda f: os.mkfifo(f / "field.npy"), "it is a FIFO"),
    (lambda f: os.mknod(f / "field.npy", stat.S_IFCHR | 0o666, os.makedev(1, 7)), "it is a device"),
    (link_to("/dev/full"), "it is a symbolic link"),
    (link_to_a_file, "it is a symbolic link"),
    (lambda f: (f / "field.npy.json").mkdir(), "its record field.npy.json is a folder"),
]


def listing(folder):
    return {p.name: (p.lstat().st_mode, p.lstat().st_ino, p.lstat().st_size,
                     p.lstat().st_mtime_ns) for p in folder.iterdir()}


@pytest.mark.parametrize("make, problem", NOT_REGULAR)
def test_save_replaces_only_a_regular_file(tmp_path, make, problem):
    make(tmp_path)
    before = listing(tmp_path)
    result = study(2, tmp_path, "--every", 0, "--steps", 10, "--save", "field.npy")
    assert result.returncode == 2 and result.stdout == ""
    assert f"heat2d-study: cannot write field.npy: {problem}" in result.stderr
    assert listing(tmp_path) == before


def test_save_overwrites_a_regular_file_and_leaves_other_files_alone(tmp_path):
    (tmp_path / "field.npy").write_text("an older field")
    (tmp_path / "field.npy.part").write_text("a file of the user's")
    result = study(2, tmp_path, "--every", 0, "--steps", 10, "--save", "field.npy")
    assert result.returncode == 0, result.stderr
    assert np.load(tmp_path / "field.npy").shape == (10, 10)
    assert (tmp_path / "field.npy.part").read_text() == "a file of the user's"
    assert stat.S_IMODE((tmp_path / "field.npy").stat().st_mode) == 0o666 & ~current_umask()


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


@pytest.fixture
def small_disk(tmp_path):
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=100k", "tmpfs", disk]).returncode:
        pytest.skip("cannot mount a small file system here")
    yield disk
    subprocess.run(["umount", disk], check=True)


def test_a_disk_that_fills_stops_the_run_and_keeps_the_saved_fields(tmp_path, small_disk):
    # Each field takes 32 KiB and its record a page: two fit in 100 KiB, the third does not.
    problem = ("--rows", 64, "--cols", 64, "--dt", 1e-5, "--every", 0)
    result = study(2, small_disk, *problem, "--steps", 500, "--save", "f.npy", "--save-every", 100)
    assert result.returncode == 1 and result.stdout == ""
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert ours == ["heat2d-study: f.300.npy not written: no space left on device; the run stops "
                    "after step 300"], result.stderr
    assert sorted(p.name for p in small_disk.iterdir()) == \
        ["f.100.npy", "f.100.npy.json", "f.200.npy", "f.200.npy.json"]
    assert study(2, tmp_path, *problem, "--steps", 500, "--save", "whole.npy").returncode == 0
    restarted = study(1, tmp_path, "--restart", small_disk / "f.200.npy", "--steps", 500,
                      "--every", 0, "--save", "again.npy")
    assert restarted.returncode == 0, restarted.stderr
    assert (tmp_path / "again.npy").read_bytes() == (tmp_path / "whole.npy").read_bytes()


def test_a_file_size_limit_fails_the_save_in_one_line(tmp_path):
    # The limit is set inside each process: set on the launcher it would stop Open MPI itself.
    limited = ("bash", "-c", f'ulimit -f 100; exec "{STUDY}" "$@"', "heat2d-study")
    result = launch(2, tmp_path, command=[*limited, "--rows", 200, "--cols", 200, "--steps", 3,
                                          "--dt", 1e-6, "--every", 0, "--save", "big.npy"])
    assert result.returncode == 1
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert ours == ["heat2d-study: big.npy not written: file too large"], result.stderr
    assert list(tmp_path.iterdir()) == []


def test_a_summary_that_cannot_be_written_fails_the_run(tmp_path):
    # Started alone: under mpiexec the launcher, not the process, writes to the final stdout.
    with open("/dev/full", "w") as full:
        result = subprocess.run([STUDY, "--every", "0", "--steps", "10", "--json"], cwd=tmp_path,
                                stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
    assert result.returncode == 1
    assert "heat2d-study: the summary could not be written to standard output: No space left on " \
           "device" in result.stderr


def test_help_prints_the_usage_and_runs_nothing(tmp_path):
    result = study(2, tmp_path, "--help")
    assert result.returncode == 0 and result.stdout.startswith("usage: mpiexec -n P heat2d-study")
    assert list(tmp_path.iterdir()) == []
