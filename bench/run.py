#!/usr/bin/python3
"""Benchmarks of heat2d and heat2d-study: whole runs against the floor program, instructions per
run, a time step against plain copies, two processes against one, peak memory, oversubscription.
Prints the figures as tables.

Usage: bench/run.py BUILD_DIR [--rounds R] [--quick], with Open MPI's environment from
scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import pathlib
import re
import shutil
import statistics
import subprocess
import tempfile
import time

from study_runs import machine, study

INITIAL = "rank-100_0.000000"


def run_in(folder, command):
    """Runs command in folder (created fresh) and returns its wall time in seconds."""
    folder.mkdir(parents=True)
    start = time.perf_counter()
    subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def write_manifests(run, n, folder):
    """Names and sizes of the files each process of `run` wrote, in the order it wrote them."""
    copy_size = (run / INITIAL).stat().st_size // n
    folder.mkdir(parents=True)
    for rank in range(n):
        lines = [f"{INITIAL} {copy_size}"]
        for label in range(0, 25000, 10):
            name = f"rank{rank}_{label}.000000"
            lines.append(f"{name} {(run / name).stat().st_size}")
        (folder / f"manifest.{rank}").write_text("\n".join(lines) + "\n")


def whole_runs(build, scratch, rounds, counts):
    """Median wall time of heat2d and of the floor for each process count, runs alternating."""
    heat2d, floor = str(build / "heat2d"), str(build / "bench" / "floor")
    medians = {}
    for n in counts:
        reference = scratch / f"reference-{n}"
        run_in(reference, ["mpiexec", "-n", str(n), heat2d])
        manifests = scratch / f"manifests-{n}"
        write_manifests(reference, n, manifests)
        times = {"heat2d": [], "floor": []}
        for r in range(rounds):
            for name, command in (("heat2d", [heat2d]), ("floor", [floor, str(manifests)])):
                folder = scratch / f"{name}-{n}-{r}"
                times[name].append(run_in(folder, ["mpiexec", "-n", str(n), *command]))
                shutil.rmtree(folder)
        medians[n] = {name: statistics.median(values) for name, values in times.items()}
    return medians


def instructions(build, scratch):
    """Instructions executed by the one process of a one-process run, counted by callgrind."""
    counts = {}
    manifests = scratch / "manifests-1"
    for name, command in (("heat2d", [str(build / "heat2d")]),
                          ("heat2d-study", [str(build / "heat2d-study")]),
                          ("floor", [str(build / "bench" / "floor"), str(manifests)])):
        folder = scratch / f"callgrind-{name}"
        folder.mkdir()
        result = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *command],
            cwd=folder, capture_output=True, text=True, check=True)
        counts[name] = int(re.search(r"Collected : (\d+)", result.stderr).group(1))
        shutil.rmtree(folder)
    return counts


def study_seconds(build, n, processes, steps, folder):
    """heat2d-study's own figures for its time loop (slowest process), no snapshots, single steps
    (their limit is the copies')."""
    return study(build, processes, "--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9,
                 "--fuse", 1, cwd=folder)


def copy_seconds(build, n, processes, steps, kind):
    result = subprocess.run(["mpiexec", "-n", str(processes), str(build / "bench" / "copy_floor"),
                             str(n), str(steps), kind], capture_output=True, text=True, check=True)
    return float(result.stdout)


def scaling(build, scratch, sizes, rounds):
    """Two processes against one: heat2d-study's speed-up, and the machine's limit measured as the
    throughput of two concurrent copies of an n x n field against one, with ordinary stores (a
    vectorised loop) and with streamed stores (as the update writes layers beyond the cache), all
    six in every round."""
    table = {}
    for n, steps in sizes:
        times = {name: [] for name in ("study 1", "study 2", "loop 1", "loop 2", "stream 1",
                                       "stream 2")}
        shares = []
        for _ in range(rounds):
            times["study 1"].append(study_seconds(build, n, 1, steps, scratch)["wall_seconds"])
            two = study_seconds(build, n, 2, steps, scratch)
            times["study 2"].append(two["wall_seconds"])
            shares.append(two["exchange_share"])
            for kind in ("loop", "stream"):
                for processes in (1, 2):
                    times[f"{kind} {processes}"].append(
                        copy_seconds(build, n, processes, steps, kind))
        m = {name: statistics.median(values) for name, values in times.items()}
        table[n] = (m["study 1"] / steps, m["study 2"] / steps, m["study 1"] / m["study 2"],
                    2 * m["loop 1"] / m["loop 2"], 2 * m["stream 1"] / m["stream 2"],
                    statistics.median(shares))
    return table


def peak_memory(build, scratch, n):
    """Peak resident memory (KiB) of each of two processes: heat2d-study on an n x n grid, and MPI
    alone (the smallest problem), from GNU time."""
    peaks = {}
    for name, grid in (("study", n), ("MPI alone", 4)):
        # Each process appends its own line to one file (buffered, so one write each).
        report = scratch / f"peaks-{grid}"
        subprocess.run(
            ["mpiexec", "-n", "2", "/usr/bin/time", "-a", "-o", str(report), "-f", "%M",
             str(build / "heat2d-study"), "--rows", str(grid), "--cols", str(grid), "--steps", "2",
             "--dt", "1e-12", "--every", "0"], cwd=scratch, capture_output=True, check=True)
        peaks[name] = max(int(line) for line in report.read_text().split())
    return peaks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--quick", action="store_true", help="one round each, to check it runs")
    options = parser.parse_args()
    rounds = 1 if options.quick else options.rounds
    counts = [1, 2, 5] if options.quick else [1, 2, 3, 4, 5]
    build = options.build.resolve()

    print(f"machine: {machine()}, run folders on /dev/shm (tmpfs)")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="heat2d-bench-", dir="/dev/shm"))
    try:
        medians = whole_runs(build, scratch, rounds, counts)
        print(f"\nWhole run of heat2d, wall time of mpiexec -n N, median of {rounds} alternating "
              "runs (target: ratio <= 1.05)")
        print(f"{'N':>3} {'heat2d s':>10} {'floor s':>10} {'ratio':>7}")
        for n, m in medians.items():
            print(f"{n:>3} {m['heat2d']:>10.3f} {m['floor']:>10.3f} "
                  f"{m['heat2d'] / m['floor']:>7.3f}")
        print("\nOversubscription on this machine (target: <= 2.5)")
        oversubscribed = medians[5]["heat2d"] / medians[2]["heat2d"]
        print(f"heat2d 5 processes / 2 processes: {oversubscribed:.2f}")

        counted = instructions(build, scratch)
        print("\nInstructions of one process in a one-process run, callgrind (targets: heat2d "
              "<= 150M, heat2d-study without options <= 1.02 x heat2d)")
        for name, count in counted.items():
            print(f"{name}: {count / 1e6:.1f}M")
        print(f"heat2d-study / heat2d: {counted['heat2d-study'] / counted['heat2d']:.3f}")

        sizes = [(256, 100)] if options.quick else [(1024, 400), (4096, 40)]
        scaling_rounds = 1 if options.quick else max(5, rounds // 3)
        table = scaling(build, scratch, sizes, scaling_rounds)
        print(f"\nTwo processes against one, heat2d-study without snapshots, median of "
              f"{scaling_rounds} alternating rounds; limit: throughput of two concurrent copies "
              "against one, with ordinary or streamed stores (target: speed-up >= 0.9 x limit)")
        print(f"{'cells':>11} {'1 proc ms/step':>15} {'2 procs ms/step':>16} {'exchange':>9} "
              f"{'speed-up':>9} {'limit':>6} {'ratio':>6} {'limit':>7} {'ratio':>6}")
        print(f"{'':>62} {'(ordinary)':>13} {'(streamed)':>14}")
        for n, (one, two, speedup, loop, stream, share) in table.items():
            print(f"{n:>5}x{n:<5} {one * 1e3:>15.3f} {two * 1e3:>16.3f} {share * 100:>8.1f}% "
                  f"{speedup:>9.2f} {loop:>6.2f} {speedup / loop:>6.2f} {stream:>7.2f} "
                  f"{speedup / stream:>6.2f}")

        n = 1024 if options.quick else 8192
        peaks = peak_memory(build, scratch, n)
        layers = 2 * (n // 2) * n * 8 / 1024
        expected = layers + peaks["MPI alone"]
        print(f"\nPeak memory per process, 2 processes on {n} x {n}, GNU time (target: within 10 % "
              "of two layers of the strip plus MPI alone)")
        print(f"two layers of the strip: {layers / 1024:.1f} MiB")
        print(f"MPI alone: {peaks['MPI alone'] / 1024:.1f} MiB")
        print(f"heat2d-study: {peaks['study'] / 1024:.1f} MiB "
              f"({peaks['study'] / expected:.3f} x layers plus MPI alone)")
    finally:
        shutil.rmtree(scratch)

    arguments = [str(build / "bench" / "kernel_bench"), str(3 if options.quick else rounds)]
    print()
    subprocess.run(arguments + (["256", "512"] if options.quick else []), check=True)


if __name__ == "__main__":
    main()
