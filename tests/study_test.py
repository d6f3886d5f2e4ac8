"""heat2d-study: the same bits on any number of processes, split and exchange; restarts that go on
bit for bit; starting fields of the user's; the figures of the summary; and one clear refusal for
every bad input."""
import fcntl
import io
import json
import os
import pathlib
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import time
import zlib

import numpy as np
import pytest

from conftest import launch, mpi_job

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))
VIEW = pathlib.Path(__file__).resolve().parent.parent / "tools" / "heat2d-view"
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


def most_sent(nx, ny, process_rows, process_cols, steps, fuse):
    """Bytes and messages per step of the block that sends the most, over `steps` steps in passes
    of `fuse` (the last one shorter). A pass of k steps sends k rows of the block's width to each
    process row it borders and k columns of its height to each process column, eight bytes a
    value; from k = 2 the columns also carry the k ghost rows above and below them. The remainder
    of the split goes to the last block."""
    def extents(n, parts):
        return [n // parts] * (parts - 1) + [n - n // parts * (parts - 1)]
    heights, widths = extents(nx, process_rows), extents(ny, process_cols)
    passes = [fuse] * (steps // fuse) + ([steps % fuse] if steps % fuse else [])
    most = (0, 0)
    for r in range(process_rows):
        for c in range(process_cols):
            above_below, beside = (r > 0) + (r < process_rows - 1), (c > 0) + (c < process_cols - 1)
            height = [heights[r] + (k * above_below if k > 1 else 0) for k in passes]
            sent = sum(8 * k * (widths[c] * above_below + h * beside) for k, h in zip(passes, height))
            most = max(most, (int(sent / steps + 0.5), (above_below + beside) * len(passes) / steps))
    return most


ODD = ("--rows", 37, "--cols", 23, "--steps", 300, "--dt", 2e-4)
# Rows and columns of 700 doubles or more, beyond what Open MPI sends without waiting for the
# receiver: an exchange that sent before receiving in the wrong order would deadlock, and the
# timeout is short.
WIDE = ("--rows", 2048, "--cols", 2048, "--steps", 3, "--dt", 1e-8)
def fused(k, threads=1):
    return ["--fuse", k, "--threads", threads]


RUNS = {
    "odd": (ODD, [(n, []) for n in range(1, 9)]
            + [(6, blocks(r, c, e)) for r, c in factorisations(6) for e in EXCHANGES]
            + [(8, ["--exchange", "overlap"]), (7, ["--split", "blocks"])]),
    # Passes of every length from 2 to 9 and longer than the run, tiles narrower than the grid,
    # threads, and blocks exactly as deep as the ghost zones (37 rows on 4 process rows: 9 each).
    "passes": (ODD, [(1, fused(k) + ["--tile", 16]) for k in range(2, 10)] + [(1, fused(400))]
               + [(1, fused(2 ** 30) + ["--every", 2 ** 31 - 1, "--monitor", 2 ** 31 - 1])]
               + [(1, fused(5, t) + ["--tile", 16]) for t in (2, 3, 4)]
               + [(n, fused(2 + n % 4, 1 + n % 3)) for n in range(2, 9)]
               + [(4, blocks(4, 1) + fused(9, 2)), (4, blocks(2, 2) + fused(9)),
                  (6, blocks(3, 2) + fused(6, 2)), (3, ["--threads", 3]),
                  (4, blocks(2, 2, "overlap") + ["--threads", 2])]),
    "wide": (WIDE, [(4, []), (4, blocks(2, 2)), (6, blocks(3, 2, "overlap") + ["--stores",
                                                                                "streamed"]),
                    (6, blocks(2, 3) + ["--stores", "streamed"]), (8, ["--exchange", "overlap"]),
                    (4, blocks(2, 2) + ["--fuse", "auto", "--threads", 2])]),
    "one inner column": (("--rows", 12, "--cols", 3, "--steps", 200, "--dt", 1e-3),
                         [(n, []) for n in range(2, 7)] + [(4, blocks(4, 1, "overlap")),
                                                           (4, blocks(4, 1) + fused(3, 2))]),
    "three rows": (("--rows", 3, "--cols", 40, "--steps", 50, "--dt", 1e-4),
                   [(1, fused(7) + ["--tile", 16]), (2, blocks(1, 2) + fused(7))]),
}
# The implicit methods on every process count, both splits, every process grid of 6 and threads;
# on 8 processes the coarse levels are gathered onto one at once.
for method in ("euler", "cn", "trbdf2"):
    RUNS[method] = (("--rows", 37, "--cols", 23, "--steps", 5, "--dt", 1e-3, "--method", method),
                    [(n, []) for n in range(2, 9)] + [(6, blocks(r, c)) for r, c in factorisations(6)]
                    + [(1, ["--threads", 3]), (4, blocks(2, 2) + ["--threads", 2])])


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
        # Every process adds up its own rows: together, the CRC-32 of the whole file.
        assert json.loads((tmp_path / "n.npy.json").read_text())["crc32"] == zlib.crc32(reference)
        if result["method"] != "explicit":
            continue
        sent = most_sent(result["rows"], result["cols"], *result["procs"], result["steps"],
                         result["fuse"])
        assert (result["bytes_per_step"], result["messages_per_step"]) == \
            (sent[0], pytest.approx(sent[1], rel=1e-5)), (n, options)


def test_restarts_continue_bit_for_bit_whatever_the_processes_split_and_exchange(tmp_path):
    # A time step with all of a double's digits: the record must give it back exactly.
    problem = ("--rows", 37, "--cols", 23, "--dt", 1.2345678901234567e-4, "--every", 0)
    study(2, tmp_path, *problem, "--steps", 300, "--save", "whole.npy")
    # The longest name that fits: part.250.npy of 238 bytes, 17 short of the 255 a name may have.
    part = "p" * 230
    first = study(3, tmp_path, *problem, "--steps", 250, "--save", f"{part}.npy", "--save-every",
                  100, *blocks(3, 1, "overlap"))
    assert first.returncode == 0, first.stderr
    assert sorted(p.name for p in tmp_path.glob("p*.npy")) == [f"{part}.100.npy",
                                                                f"{part}.200.npy", f"{part}.npy"]
    for n, saved, options in [(4, f"{part}.100.npy", blocks(2, 2)),
                              (1, f"{part}.200.npy", []),
                              (6, f"{part}.npy", blocks(2, 3, "overlap"))]:
        result = study(n, tmp_path, "--restart", saved, "--steps", 300, "--every", 0, "--save",
                       "again.npy", *options)
        assert result.returncode == 0, result.stderr
        assert (tmp_path / "again.npy").read_bytes() == (tmp_path / "whole.npy").read_bytes(), saved
    record = json.loads((tmp_path / "again.npy.json").read_text())
    assert (record["steps"], record["dt"], record["initial"]) == (300, 1.2345678901234567e-4,
                                                                  "heat2d")


@pytest.mark.parametrize("method", ["cn", "trbdf2"])
def test_an_implicit_run_restarts_from_any_saved_step_bit_for_bit(tmp_path, method):
    # Crank-Nicolson from step 1 is still in its backward Euler start.
    problem = ("--rows", 37, "--cols", 23, "--dt", 2e-3, "--every", 0)
    assert study(1, tmp_path, *problem, "--steps", 6, "--method", method, "--save", "whole.npy",
                 "--save-every", 1).returncode == 0
    for n, saved, options in [(2, "whole.1.npy", []), (3, "whole.3.npy", blocks(3, 1)),
                              (4, "whole.5.npy", blocks(2, 2))]:
        result = study(n, tmp_path, "--restart", saved, "--steps", 6, "--save", "again.npy",
                       "--every", 0, *options)
        assert result.returncode == 0, result.stderr
        assert (tmp_path / "again.npy").read_bytes() == (tmp_path / "whole.npy").read_bytes(), saved
    # The record names the method, which a restart may repeat but not change.
    assert json.loads((tmp_path / "whole.3.npy.json").read_text())["method"] == method
    changed = study(1, tmp_path, "--restart", "whole.3.npy", "--steps", 6, "--method", "euler")
    assert changed.returncode == 2 and "--method euler disagrees with whole.3.npy.json" in \
        changed.stderr


def test_passes_end_on_every_written_step_and_restart_anywhere(tmp_path):
    # Snapshots every 7 steps and fields every 11 cut passes of 4 short at other steps than the
    # ones they would end on; the same files, byte for byte, as one step at a time (two strips
    # write the same snapshot files as two process rows of blocks).
    start = np.random.default_rng(5).uniform(-50, 150, (29, 34))
    np.save(tmp_path / "start.npy", start)
    problem = ("--initial", "../start.npy", "--steps", 60, "--dt", 1e-4, "--every", 7, "--save",
               "f.npy", "--save-every", 11)
    one, four = tmp_path / "one", tmp_path / "four"
    assert study(2, one, *problem).returncode == 0
    assert study(4, four, *problem, *blocks(2, 2), *fused(4, 2)).returncode == 0
    names = sorted(p.name for p in one.iterdir())
    assert names == sorted(p.name for p in four.iterdir()) and "f.55.npy" in names
    assert all((one / name).read_bytes() == (four / name).read_bytes() for name in names)
    # A restart from step 22, in the middle of a pass of the run that saved it, goes on in passes
    # of 5 to the same end.
    again = study(3, four, "--restart", "f.22.npy", "--steps", 60, "--every", 0, "--save",
                  "again.npy", *fused(5, 2))
    assert again.returncode == 0, again.stderr
    assert (four / "again.npy").read_bytes() == (one / "f.npy").read_bytes()


def test_a_killed_run_restarts_from_its_newest_saved_field_bit_for_bit(tmp_path):
    problem = ("--rows", 256, "--cols", 256, "--dt", 1e-6, "--every", 0, "--steps", 40000)
    assert study(2, tmp_path / "whole", *problem, "--save", "f.npy").returncode == 0
    folder = tmp_path / "killed"
    folder.mkdir()
    with mpi_job() as environment:
        run = subprocess.Popen([os.environ.get("HEAT2D_MPIEXEC", "mpiexec"), "-n", "2", STUDY,
                                *map(str, problem), "--save", "f.npy", "--save-every", "1000"],
                               cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               env=environment)
        deadline = time.monotonic() + 120
        while len(list(folder.glob("f.*.npy"))) < 3 and time.monotonic() < deadline:
            time.sleep(0.01)
        victim = subprocess.run(["pgrep", "-P", str(run.pid)], capture_output=True, text=True)
        os.kill(int(victim.stdout.split()[-1]), signal.SIGKILL)
        run.wait(timeout=60)
    # Nothing but fields, records, temporary files and the lock; no lock-test or data files of
    # MPI-IO's beside the fields, nor its semaphore named after a temporary file in /dev/shm.
    left = [p.name for p in folder.iterdir()]
    assert not [name for name in left if not re.fullmatch(
        r"f(\.\d+)?\.npy(\.json)?(\.part-\w{6})?|f\.npy\.lock", name)], left
    assert not [name for name in left if os.path.exists(f"/dev/shm/sem.OMPIO_{name}")]
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


def implicit_steps(field, method, dt, steps):
    """An implicit method by dense linear algebra on the unknowns: the held rows keep their values
    and an insulated column equals its inner neighbour at the new time."""
    nx, ny = field.shape
    ux, uy = nx - 2, ny - 2
    ax, ay = nx * nx, ny * ny  # 1 / dx^2, 1 / dy^2
    second_x = np.diag(np.full(ux, -2.0)) + np.diag(np.ones(ux - 1), 1) + np.diag(np.ones(ux - 1), -1)
    second_y = np.diag(np.full(uy, -2.0)) + np.diag(np.ones(uy - 1), 1) + np.diag(np.ones(uy - 1), -1)
    second_y[0, 0] += 1.0
    second_y[-1, -1] += 1.0
    L = ax * np.kron(second_x, np.eye(uy)) + ay * np.kron(np.eye(ux), second_y)
    held = np.zeros((ux, uy))
    held[0] += ax * field[0, 1:-1]
    held[-1] += ax * field[-1, 1:-1]
    held = held.reshape(-1)

    def solve(k, rhs):
        return np.linalg.solve(np.eye(ux * uy) - k * L, rhs + k * held)

    def explicit_part(k, u):
        return u + k * (L @ u + held)

    g = 2 - np.sqrt(2)
    u = field[1:-1, 1:-1].reshape(-1)
    for step in range(steps):
        if method == "euler":
            u = solve(dt, u)
        elif method == "cn" and step < 2:
            u = solve(dt / 2, solve(dt / 2, u))
        elif method == "cn":
            u = solve(dt / 2, explicit_part(dt / 2, u))
        else:
            star = solve(g * dt / 2, explicit_part(g * dt / 2, u))
            u = solve(g * dt / 2, (star - (1 - g) ** 2 * u) / (g * (2 - g)))
    field = field.copy()
    field[1:-1, 1:-1] = u.reshape(ux, uy)
    field[1:-1, 0], field[1:-1, -1] = field[1:-1, 1], field[1:-1, -2]
    return field


@pytest.mark.parametrize("method", ["euler", "cn", "trbdf2"])
def test_every_implicit_method_solves_its_system_to_round_off(tmp_path, method):
    # Grids solved by the coarsest level's LU alone, and by V-cycles down to it; a random start,
    # held rows included, and time steps far past the explicit update's limit.
    rng = np.random.default_rng(5)
    for shape, steps, dt, tolerance, split in [((5, 4), 3, 0.02, 1e-12, blocks(2, 1)),
                                               ((7, 9), 3, 1.0, 1e-12, blocks(1, 2)),
                                               ((3, 40), 3, 1e-3, 1e-12, blocks(1, 2)),
                                               ((37, 23), 4, 0.01, 1e-9, blocks(2, 1))]:
        start = rng.uniform(-50, 150, shape)
        np.save(tmp_path / "start.npy", start)
        result = study(2, tmp_path, "--initial", "start.npy", "--steps", steps, "--dt", dt,
                       "--every", 0, "--method", method, "--tolerance", 1e-13, "--save",
                       "end.npy", *split)
        assert result.returncode == 0, result.stderr
        expected = implicit_steps(start, method, dt, steps)
        assert np.abs(np.load(tmp_path / "end.npy") - expected).max() < tolerance * 150, shape


def test_the_implicit_methods_converge_at_their_order_in_time(tmp_path):
    # At a fixed time on one grid, against the same method with a far smaller step, so that the
    # grid's own error cancels: halving dt halves backward Euler's error and quarters the others'.
    def final(method, dt):
        study(1, tmp_path, "--rows", 65, "--cols", 5, "--until", 0.1, "--dt", dt, "--every", 0,
              "--method", method, "--tolerance", 1e-13, "--save", "f.npy")
        return np.load(tmp_path / "f.npy")
    for method, order in [("euler", 1), ("cn", 2), ("trbdf2", 2)]:
        exact = final(method, 1.25e-4 if order == 2 else 1e-5)
        errors = [np.abs(final(method, dt) - exact).max() for dt in (0.01, 0.005, 0.0025)]
        for coarse, fine in zip(errors, errors[1:]):
            assert 0.75 * 2 ** order < coarse / fine < 1.4 * 2 ** order, (method, errors)


def test_the_multigrid_reduces_the_residual_and_stops_a_run_it_cannot_finish(tmp_path):
    for grid in [(129, 129), (37, 23), (3, 200), (100, 301)]:
        solved = figures(2, tmp_path, "--rows", grid[0], "--cols", grid[1], "--steps", 2,
                         "--dt", 1.0, "--every", 0, "--method", "euler", *blocks(1, 2))
        multigrid = solved["multigrid"]
        assert multigrid["reduction_per_cycle"] >= 5, (grid, multigrid)
        assert len(multigrid["level_grids"]) >= 2, (grid, multigrid)
    # Too few cycles allowed for the tolerance: the run says which step failed, and stops there.
    failed = study(2, tmp_path, "--rows", 33, "--cols", 33, "--steps", 5, "--dt", 1.0, "--every",
                   0, "--method", "trbdf2", "--most-cycles", 2, "--save", "f.npy")
    assert failed.returncode == 1 and failed.stdout == ""
    assert failed.stderr.startswith("heat2d-study: the linear solve of step 1 did not converge"), \
        failed.stderr
    assert not (tmp_path / "f.npy").exists()


def test_a_starting_field_of_the_users_follows_the_scheme_cell_by_cell(tmp_path):
    start = np.random.default_rng(3).uniform(-50, 150, (19, 31))
    # A name the record (JSON) must escape: quotes, a backslash, a newline, a letter beyond ASCII.
    name = 'start "\u00fc"\\\n.npy'
    np.save(tmp_path / name, start)
    problem = ("--initial", name, "--steps", 7, "--dt", 1e-4, "--every", 3)
    result = study(4, tmp_path, *problem, "--save", "end.npy", *blocks(2, 2, "overlap"), "--json")
    assert result.returncode == 0, result.stderr
    # The blocks of a process row write one strip file together: the files of two strips.
    strips = tmp_path / "strips"
    strips.mkdir()
    shutil.copy(tmp_path / name, strips)
    assert study(2, strips, *problem).returncode == 0
    assert sorted(p.name for p in strips.glob("rank*")) == sorted(p.name for p in
                                                                  tmp_path.glob("rank*"))
    assert all((strips / p.name).read_bytes() == p.read_bytes() for p in tmp_path.glob("rank*"))
    end = np.load(tmp_path / "end.npy")
    assert np.array_equal(end.view(np.uint64), scheme_steps(start, 7, 1e-4).view(np.uint64))
    assert json.loads(result.stdout)["max_error"] is None
    assert json.loads((tmp_path / "end.npy.json").read_text())["initial"] == str(tmp_path / name)
    # Two strip files per label and the starting field in the initial-field file, twice.
    copies = (tmp_path / "rank-100_0.000000").read_text().splitlines()
    assert len(copies) == 2 * 31 and copies[0] == "".join(f"{v:f}\t" for v in start[:, 0])


def test_a_field_that_overflows_stops_the_run_before_it_is_written(tmp_path):
    start = np.zeros((19, 31))
    start[5, 5] = 1.7e308
    np.save(tmp_path / "start.npy", start)
    result = study(2, tmp_path, "--initial", "start.npy", "--steps", 20, "--dt", 1e-4, "--every",
                   0, "--save", "f.npy", "--save-every", 5)
    assert result.returncode == 1
    assert result.stderr.startswith("heat2d-study: the field is no longer finite after step 5 "), \
        result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["start.npy"]


def test_the_summary_gives_the_time_reached_the_error_and_the_exchange_share(tmp_path):
    default = figures(2, tmp_path, "--every", 0)
    assert default["final_time"] == 25000 * 1e-5 and default["steps"] == 25000
    assert default["max_error"] == pytest.approx(6.4e-2, abs=1e-3)
    assert (default["split"], default["procs"], default["exchange"]) == ("strips", [2, 1],
                                                                         "blocking")
    one = figures(1, tmp_path, "--steps", 1, "--every", 0)
    assert one["final_time"] == 1e-5 and one["bytes_per_step"] == 0 and one["threads"] == 1
    # The threads really ran: as many as asked for (or as OMP_NUM_THREADS gives), each with its
    # share of the tiles' cells or of the rows.
    for options, env, threads in [(["--threads", 3, "--fuse", 4], {}, 3),
                                  ([], {"OMP_NUM_THREADS": "2"}, 2)]:
        result = study(1, tmp_path, "--rows", 64, "--cols", 600, "--steps", 8, "--dt", 1e-7,
                       "--every", 0, "--json", *options, env=env)
        shares = json.loads(result.stdout)["thread_shares"]
        assert len(shares) == threads and min(shares) > 0.5 / threads, (options, shares)
    # A pass gives every thread whole tiles; a block narrower than one tile is swept whole.
    tiled = json.loads(study(1, tmp_path, "--rows", 64, "--cols", 600, "--steps", 8, "--dt", 1e-7,
                             "--every", 0, "--json", "--threads", 3, "--fuse", 4,
                             "--tile", 64).stdout)
    assert tiled["tiles"] % 3 == 0 and tiled["tiles"] * tiled["tile"] >= 600, tiled
    narrow = study(1, tmp_path, "--rows", 106, "--cols", 106, "--steps", 40, "--fuse", 8,
                   "--every", 0).stdout
    assert "8 steps a pass over the whole block, ghost zones 8 deep" in narrow, narrow
    # Threads that would take turns with another process's on the cores: fewer, and said so.
    crowded = study(3, tmp_path, "--rows", 64, "--cols", 600, "--steps", 8, "--dt", 1e-7,
                    "--every", 0, "--json", "--threads", 2)
    fitting = 2 if 3 * 2 <= os.cpu_count() else max(1, os.cpu_count() // 3)
    ran = json.loads(crowded.stdout)
    assert (ran["threads"], ran["threads_asked"]) == (fitting, 2), crowded.stdout
    assert ("per process asked for" in crowded.stderr) == (fitting < 2), crowded.stderr
    text = study(1, tmp_path, "--every", 0, "--steps", 2500).stdout
    assert "2500 steps of dt = 1e-05 to t = 0.025" in text
    # Per process, as a profiler gives it: the last of four strips has twice the rows of the
    # others, and progress goes to standard error, leaving the one JSON line on standard output.
    uneven = study(4, tmp_path, "--rows", 10, "--cols", 100000, "--steps", 60, "--dt", 1e-12,
                   "--every", 0, "--monitor", 20, "--json")
    spread = json.loads(uneven.stdout)["per_process"]
    assert spread["busiest"] == 3, spread
    for figure in ("update_seconds", "exchange_seconds", "save_seconds"):
        s = spread[figure]
        assert s["min"] <= s["mean"] <= s["max"], (figure, s)
    assert spread["update_seconds"]["imbalance"] > 1.2, spread
    assert [line.split(" (")[0] for line in uneven.stderr.splitlines()] == \
        [f"heat2d-study: step {k} of 60" for k in (20, 40, 60)], uneven.stderr
    # Six processes on strips of four rows do almost nothing but trade edges.
    busy = figures(6, tmp_path, "--rows", 24, "--cols", 4000, "--steps", 200, "--dt", 1e-9,
                   "--every", 0)
    assert busy["exchange_share"] > 0.5
    # The same final time with dt / dx^2 fixed at the default problem's 0.001: the error falls.
    errors = [figures(1, tmp_path, "--rows", n, "--cols", n, "--steps", 1000 * (n // 10) ** 2,
                      "--dt", 0.001 / n ** 2, "--every", 0)["max_error"] for n in (10, 20, 40)]
    assert errors[0] > 2 * errors[1] > 4 * errors[2], errors


# The parser's and the checks' own cases are unit tests (seams_test.cpp); these are the ones that
# need the processes, the environment or the file system. The optional fourth item is the
# environment the run gets.
BAD_INPUT = [
    (1, ["--size", 3], "unknown option '--size'"),
    (4, ["--split", "blocks", "--procs", "3x1"], "--procs 3x1 is 3 processes, but 4 were started"),
    (2, [], "OMP_NUM_THREADS='abc' is not a number of threads", {"OMP_NUM_THREADS": "abc"}),
    (2, [], "OMP_NUM_THREADS='' is not a number of threads", {"OMP_NUM_THREADS": ""}),
    (1, [], "OMP_NUM_THREADS='0' is not a number of threads", {"OMP_NUM_THREADS": "0"}),
    (1, [], "OMP_NUM_THREADS=99999 is too many for a host of", {"OMP_NUM_THREADS": "99999"}),
    (2, ["--rows", 200000, "--cols", 200000, "--dt", 1e-12],
     "a 200000 x 200000 grid is too large for the memory"),
    (2, ["--save", "missing/field.npy"], "cannot write missing/field.npy: no such file or "
                                         "directory"),
    # File names of 255 bytes, less the 17 that the record's temporary name adds.
    (2, ["--save", "a" * 235 + ".npy", "--steps", 10], "--save " + "a" * 60 + "... (239 bytes): "
     "the name is too long: it takes 239 bytes, and the names heat2d-study builds from it 17 "
     "more, beyond the 255 a file name may have here: at most 238 bytes fit"),
    (2, ["--save", "a" * 234 + ".npy", "--steps", 10, "--save-every", 5],
     "--save " + "a" * 60 + "... (238 bytes): the name is too long: with the series' step "
     "(.10.npy) it takes 241 bytes"),
    (1, ["--initial", "a" * 252 + ".npy"], "--initial " + "a" * 60 + "... (256 bytes): the name "
     "is too long: it takes 256 bytes, beyond the 255 a file name may have here: at most 255 "
     "bytes fit"),
    (1, ["--restart", "a" * 300], "--restart " + "a" * 60 + "... (300 bytes): the name is too "
                                  "long"),
    (1, ["--save", "x/" * 2040 + "f.npy"], "--save " + "x/" * 30 + "... (4085 bytes): the path "
                                           "is too long: it takes 4085 bytes"),
]


@pytest.mark.parametrize("n, options, message, env", [(*row, None)[:4] for row in BAD_INPUT])
def test_bad_input_is_refused_in_one_line_before_anything_is_written(tmp_path, n, options,
                                                                     message, env):
    result = study(n, tmp_path, *options, timeout=60, env=env)
    assert result.returncode == 2
    ours = [line for line in result.stderr.splitlines() if line.startswith("heat2d-study:")]
    assert len(ours) == 1 and ours[0].startswith(f"heat2d-study: {message}"), result.stderr
    assert "libgomp" not in result.stderr, result.stderr
    assert result.stdout == "" and list(tmp_path.iterdir()) == []


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    """A 12 x 9 field saved after 20 steps, f.npy with its record, and the same run's f.10.npy."""
    folder = tmp_path_factory.mktemp("saved")
    assert study(2, folder, "--rows", 12, "--cols", 9, "--steps", 20, "--dt", 1e-4, "--every", 0,
                 "--save", "f.npy", "--save-every", 10).returncode == 0
    return folder


def npy(array, name="f.npy"):
    return lambda folder, saved: np.save(folder / name, array)


def damaged(change):
    """A copy of the saved field whose .npy bytes or record text `change` alters."""
    def make(folder, saved):
        shutil.copy(saved / "f.npy", folder)
        shutil.copy(saved / "f.npy.json", folder)
        change(folder)
    return make


# Each row makes f.npy (and its record) in an empty folder, given the saved fixture, and gives the
# options and the one line expected.
BAD_FILES = [
    (lambda f, s: None, ["--initial", "f.npy"], "f.npy: no such file or directory"),
    (lambda f, s: (f / "f.npy").mkdir(), ["--initial", "f.npy"],
     "f.npy is a folder, not a .npy file"),
    (npy(np.zeros((1, 8))), ["--initial", "f.npy"], "f.npy holds a 1 x 8 field: a field has at "
                                                    "least 3 x 3 values"),
    (npy(np.zeros((5, 6)), os.fsdecode(b"\xff.npy")), ["--initial", os.fsdecode(b"\xff.npy")],
     "--initial: the path of the starting field is not valid UTF-8"),
    (npy(np.where(np.arange(30).reshape(6, 5) == 25, -np.inf, 0)),
     ["--initial", "f.npy", *blocks(2, 1, "overlap")],
     "f.npy holds a value that is not finite (NaN or infinity) at row 5, column 0"),
    (npy(np.zeros((5, 6))), ["--initial", "f.npy", "--cols", 7],
     "--cols 7 disagrees with f.npy, which holds a 5 x 6 field"),
    (npy(np.zeros((5, 6))), ["--restart", "f.npy", "--steps", 9],
     "the record f.npy.json cannot be read"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--dt", 1.0000000000000002e-4],
     "--dt 0.00010000000000000002 disagrees with f.npy.json, whose run took dt = 0.0001"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--steps", 20],
     "--steps 20 is not beyond the 20 steps f.npy holds"),
    (damaged(lambda f: None), ["--restart", "f.npy", "--initial", "f.npy"],
     "--restart and --initial exclude each other"),
    (damaged(lambda f: [(f / n).rename(f / n.replace("f.", "f.7.")) for n in ("f.npy",
                                                                             "f.npy.json")]),
     ["--restart", "f.7.npy", "--steps", 30], "f.7.npy.json: 20 steps done, but the name f.7.npy "
                                              "says 7"),
    (damaged(lambda f: os.link(f / "f.npy", f / "out.npy")), ["--restart", "f.npy", "--steps", 30],
     "--save out.npy is the field this run restarts from (--restart f.npy)"),
    (damaged(lambda f: (f / "f.npy").rename(f / "a\nb.npy")), ["--restart", "a\nb.npy"],
     "the record $'a\\nb.npy.json' cannot be read"),
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


def edited(edit, field="f.npy"):
    """The saved record, its text changed by `edit`, beside the saved `field`."""
    def make(folder, saved):
        shutil.copy(saved / field, folder / "f.npy")
        (folder / "f.npy.json").write_bytes(edit((saved / "f.npy.json").read_bytes()))
    return make


def rewritten(write, **changes):
    """f.npy as `write(file, field)` writes the saved field, and the saved record for it: its CRC-32
    and `changes`."""
    def make(folder, saved):
        with open(folder / "f.npy", "wb") as file:
            write(file, np.load(saved / "f.npy"))
        record = json.loads((saved / "f.npy.json").read_text())
        record.update({"crc32": zlib.crc32((folder / "f.npy").read_bytes()), **changes})
        (folder / "f.npy.json").write_text(json.dumps(record))
    return make


def array(change=lambda a: a, version=None, extra=b""):
    def write(file, field):
        np.lib.format.write_array(file, change(field), version=version)
        file.write(extra)
    return write


def header(length, version=2, minor=0, keys=""):
    """A float64 .npy header of `length` bytes, of any version, with `keys` in its dictionary."""
    def write(file, field):
        preamble = 8 + (2 if version == 1 else 4)
        dictionary = f"{{'descr': '<f8', 'fortran_order': False, 'shape': {field.shape}, {keys}}}"
        dictionary = dictionary.ljust(length - preamble - 1).encode() + b"\n"
        file.write(b"\x93NUMPY" + bytes([version, minor]) +
                   len(dictionary).to_bytes(preamble - 8, "little") + dictionary + field.tobytes())
    return write


def record_in_place(make_record):
    def make(folder, saved):
        shutil.copy(saved / "f.npy", folder)
        make_record(folder / "f.npy.json")
    return make


def keys_reversed_and_escaped(text):
    record = json.loads(text)
    record["initial"] = "/tmp/\u00fcber.npy"
    return json.dumps(dict(reversed(record.items())), indent=1, ensure_ascii=True).encode()


def with_nan(field):
    field[2, 3] = np.nan
    return field


# One definition of a valid saved field and record, for heat2d-study --restart and heat2d-view
# check alike: each row makes f.npy and f.npy.json from the saved fixture and gives what both must
# say of them (None: both take them).
FIELDS_AND_RECORDS = [
    ("as saved", edited(lambda t: t), None),
    ("version 1, before records named their field's CRC-32",
     edited(lambda t: re.sub(rb', "crc32": \d+', b"", t.replace(b', "method": "explicit"', b""))
            .replace(b'"version": 3', b'"version": 1')), None),
    ("version 2, before records named their method",
     edited(lambda t: t.replace(b', "method": "explicit"', b"").replace(b'"version": 3',
                                                                         b'"version": 2')), None),
    ("an implicit run's dt, past the explicit update's limit",
     edited(lambda t: t.replace(b'"dt": 0.0001', b'"dt": 0.5').replace(b'"explicit"', b'"euler"')),
     None),
    ("keys in another order, a \\u00fc escape", edited(keys_reversed_and_escaped), None),
    ("rows 12.0", edited(lambda t: t.replace(b'"rows": 12', b'"rows": 12.0')), None),
    (".npy version 3.0", rewritten(array(version=(3, 0))), None),
    ("a header of 60 KB", rewritten(header(60000)), None),
    ("dt 4e-320, as heat2d-study writes it",
     lambda f, s: study(1, f, "--rows", 12, "--cols", 9, "--dt", 4e-320, "--steps", 5, "--every",
                        0, "--save", "f.npy"), None),
    ("not JSON", edited(lambda t: b"{" + t), "not JSON"),
    ("not an object", edited(lambda t: b"[" + t.strip() + b"]"), "not a JSON object"),
    ("byte-order mark", edited(lambda t: b"\xef\xbb\xbf" + t), "not JSON"),
    ("not UTF-8", edited(lambda t: t.replace(b'"heat2d"', b'"/tmp/\xff.npy"')), "not JSON"),
    ("lone surrogate", edited(lambda t: t.replace(b'"heat2d"', b'"/tmp/\\udcff.npy"')),
     "not JSON"),
    ("NaN", edited(lambda t: t.replace(b'"dt": 0.0001', b'"dt": NaN')), "not JSON"),
    ("dt 1e400", edited(lambda t: t.replace(b'"dt": 0.0001', b'"dt": 1e400')),
     "a number beyond a double's range"),
    ("unknown key", edited(lambda t: t.replace(b'"steps"', b'"stops"')),
     "an unknown key 'stops'"),
    ("60 KB unknown key", edited(lambda t: t.replace(b'"steps"', b'"' + b"k" * 60000 +
                                                     b'": 1, "steps"')), "(60000 bytes)'"),
    ("version 4", edited(lambda t: t.replace(b'"version": 3', b'"version": 4')),
     "not the record of a field saved by heat2d-study"),
    ("version [3]", edited(lambda t: t.replace(b'"version": 3', b'"version": [3]')),
     "not the record of a field saved by heat2d-study (format \"heat2d-study field\", version "
     "[3])"),
    ("version 1 with a CRC-32", edited(lambda t: t.replace(b'"version": 3', b'"version": 1')),
     "an unknown key 'crc32'"),
    ("method rk4", edited(lambda t: t.replace(b'"explicit"', b'"rk4"')),
     "'method' is \"rk4\", not one of explicit, euler, cn or trbdf2"),
    ("no CRC-32", edited(lambda t: re.sub(rb', "crc32": \d+', b"", t)), "no 'crc32'"),
    ("no initial", edited(lambda t: t.replace(b', "initial": "heat2d"', b"")), "no 'initial'"),
    ("rows 1e300", edited(lambda t: t.replace(b'"rows": 12', b'"rows": 1e300')),
     "'rows' is 1e+300, out of range (1 to 2147483647)"),
    ("rows 12.5", edited(lambda t: t.replace(b'"rows": 12', b'"rows": 12.5')),
     "'rows' is 12.5, not a whole number"),
    ("steps -1", edited(lambda t: t.replace(b'"steps": 20', b'"steps": -1')),
     "'steps' is -1, out of range"),
    ("CRC-32 of 2^32", edited(lambda t: re.sub(rb'"crc32": \d+', b'"crc32": 4294967296', t)),
     "'crc32' is 4294967296, out of range"),
    ("dt 0", edited(lambda t: t.replace(b'"dt": 0.0001', b'"dt": 0')),
     "'dt' is 0, not a positive number"),
    ("dt unstable", edited(lambda t: t.replace(b'"dt": 0.0001', b'"dt": 0.01')),
     "dt = 0.01 is unstable on its 12 x 9 grid"),
    ("initial empty", edited(lambda t: t.replace(b'"heat2d"', b'""')), "'initial' is empty"),
    ("initial a number", edited(lambda t: t.replace(b'"heat2d"', b"7")), "'initial' is 7, not a "
                                                                         "string"),
    ("another grid", edited(lambda t: t.replace(b'"rows": 12', b'"rows": 13')),
     "but f.npy holds 12 x 9"),
    ("killed between the renames: the old field with the new record",
     edited(lambda t: t, field="f.10.npy"), "f.npy is not the field its record f.npy.json "
                                            "describes"),
    ("a field changed", rewritten(array(with_nan), crc32=1), "is not the field its record"),
    ("record a FIFO", record_in_place(os.mkfifo), "a FIFO"),
    ("record a link to /dev/zero", record_in_place(lambda p: p.symlink_to("/dev/zero")),
     "a device"),
    ("record of 70 KB", edited(lambda t: t.strip() + b" " * 70000),
     "more than a record can be (65536 at most)"),
    ("field a FIFO", lambda f, s: os.mkfifo(f / "f.npy") or shutil.copy(s / "f.npy.json", f),
     "a FIFO"),
    ("field text", rewritten(lambda file, field: file.write(b"0 1 2\n")),
     "f.npy is not a NumPy .npy file"),
    (".npy version 4.0", rewritten(header(128, version=4)), "f.npy is not a NumPy .npy file"),
    (".npy version 1.1", rewritten(header(128, version=1, minor=1)),
     "f.npy is not a NumPy .npy file"),
    ("a header of 70 KB", rewritten(header(70000)), "has a .npy header too long to be a field's"),
    ("a header with another key", rewritten(header(128, keys="'extra': 1, ")),
     "a .npy header with an unknown key 'extra'"),
    ("float32", rewritten(array(lambda a: a.astype(np.float32))),
     "holds '<f4' values, not float64 in this machine's byte order"),
    ("three dimensions", rewritten(array(lambda a: a.reshape(12, 9, 1))),
     "holds an array of 3 dimensions"),
    ("Fortran order", rewritten(array(np.asfortranarray)), "is stored in Fortran order"),
    ("1 x 8", rewritten(array(lambda a: a[:1, :8]), rows=1, cols=8), "holds a 1 x 8 field"),
    ("cut short", rewritten(lambda file, field: array()(file, field) or file.truncate(920)),
     "f.npy is cut short: 920 bytes, where a 12 x 9 float64 field takes 992"),
    ("longer", rewritten(array(extra=b"\0" * 8)), "f.npy is longer than its field"),
    ("not finite", rewritten(array(with_nan)), "not finite"),
]


@pytest.mark.parametrize("make, verdict", [row[1:] for row in FIELDS_AND_RECORDS],
                         ids=[row[0] for row in FIELDS_AND_RECORDS])
def test_the_study_and_the_viewer_agree_on_every_field_and_record(tmp_path, saved, make, verdict):
    make(tmp_path, saved)
    before = sorted(p.name for p in tmp_path.iterdir())
    restart = study(1, tmp_path, "--restart", "f.npy", "--steps", 30, "--every", 0, timeout=60)
    checked = subprocess.run([sys.executable, VIEW, "check", tmp_path / "f.npy"], timeout=60,
                             capture_output=True, text=True, errors="backslashreplace")
    # Both warn of a record that cannot vouch for its field, or neither does.
    assert ("warning" in restart.stderr) == ("warning" in checked.stderr), checked.stderr
    if verdict is None:
        assert (restart.returncode, checked.returncode) == (0, 0), restart.stderr + checked.stderr
        return
    for result, program in ((restart, "heat2d-study"), (checked, "heat2d-view")):
        ours = [line for line in result.stderr.splitlines() if line.startswith(f"{program}:")]
        assert result.returncode == 2 and len(ours) == 1 and verdict in ours[0], result.stderr
        assert len(ours[0]) < 400  # whatever the files hold, the line stays short
    assert sorted(p.name for p in tmp_path.iterdir()) == before


# What a run that lives saves, what a second run asks, and the one line that refuses it: the
# same path, a field of the first run's series, a series one of whose fields the first saves.
SECOND_RUNS = [
    (["--save", "f.npy", "--save-every", 10000], ["--save", "f.npy"],
     "cannot write f.npy: another run is saving to it (it holds f.npy.lock)"),
    (["--save", "f.npy", "--save-every", 10000], ["--save", "f.20000.npy"],
     "cannot write f.20000.npy: another run is saving the series f.S.npy, of which it is the field "
     "after 20000 steps (it holds f.npy.lock)"),
    (["--save", "f.30.npy"], ["--save", "f.npy", "--save-every", 10, "--steps", 50],
     "cannot write f.npy: another run is saving f.30.npy, a field of this run's series (it holds "
     "f.30.npy.lock)"),
]


def held(lock):
    """Whether another process holds the first byte of the lock file (struct flock of Linux)."""
    try:
        descriptor = os.open(lock, os.O_RDONLY)
    except OSError:
        return False
    try:
        asked = struct.pack("hhqqi4x", fcntl.F_WRLCK, os.SEEK_SET, 0, 1, 0)
        return struct.unpack("hhqqi4x", fcntl.fcntl(descriptor, fcntl.F_GETLK, asked))[0] != \
            fcntl.F_UNLCK
    finally:
        os.close(descriptor)


@pytest.mark.parametrize("first_saves, second_saves, message", SECOND_RUNS)
def test_a_second_run_saving_to_the_same_path_is_refused_while_the_first_lives(
        tmp_path, first_saves, second_saves, message):
    lock = tmp_path / f"{first_saves[1]}.lock"
    with mpi_job() as environment:
        first = subprocess.Popen([os.environ.get("HEAT2D_MPIEXEC", "mpiexec"), "-n", "2", STUDY,
                                  "--rows", "32", "--cols", "32", "--dt", "1e-6", "--every", "0",
                                  "--steps", str(10**9), *map(str, first_saves)],
                                 cwd=tmp_path, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=environment)
        try:
            deadline = time.monotonic() + 60
            while not held(lock) and time.monotonic() < deadline:
                time.sleep(0.01)
            second = study(2, tmp_path, "--every", 0, "--steps", 10, *second_saves)
            assert second.returncode == 2 and first.poll() is None
            assert f"heat2d-study: {message}" in second.stderr.splitlines(), second.stderr
        finally:
            # Killed outright, the first run leaves its lock file behind but holds no lock.
            processes = subprocess.run(["pgrep", "-P", str(first.pid)], capture_output=True,
                                       text=True)
            for pid in processes.stdout.split():
                os.kill(int(pid), signal.SIGKILL)
            first.wait(timeout=60)
    assert lock.exists()
    third = study(2, tmp_path, "--every", 0, "--steps", 10, *second_saves)
    assert third.returncode == 0, third.stderr
    assert not (tmp_path / f"{second_saves[1]}.lock").exists()
    assert np.load(tmp_path / second_saves[1]).shape == (10, 10)


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
    (lambda f: (f / "field.npy.lock").mkdir(), "its lock file field.npy.lock is a folder, not the "
                                               "empty file heat2d-study locks"),
    (lambda f: os.symlink("elsewhere", f / "field.npy.lock"),
     "its lock file field.npy.lock is a symbolic link"),
    (lambda f: (f / "field.npy.lock").write_text("a note"),
     "its lock file field.npy.lock is not the empty file heat2d-study locks"),
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


@pytest.mark.parametrize("options, what", [(["--every", "0", "--steps", "10", "--json"], "summary"),
                                           (["--help"], "help text")])
def test_a_summary_or_help_that_cannot_be_written_fails_the_run(tmp_path, options, what):
    # Started alone: under mpiexec the launcher, not the process, writes to the final stdout.
    with open("/dev/full", "w") as full:
        result = subprocess.run([STUDY, *options], cwd=tmp_path, stdout=full,
                                stderr=subprocess.PIPE, text=True, timeout=60)
    assert result.returncode == 1
    assert f"heat2d-study: the {what} could not be written to standard output: No space left on " \
           "device" in result.stderr


def test_help_prints_the_usage_and_runs_nothing(tmp_path):
    result = study(2, tmp_path, "--help")
    assert result.returncode == 0 and result.stdout.startswith("usage: mpiexec -n P heat2d-study")
    assert list(tmp_path.iterdir()) == []
