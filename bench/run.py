#!/usr/bin/python3
"""Benchmarks of heat2d: whole runs against the floor program, instructions per run, the kernel
against a plain copy, and oversubscription. Prints the figures as tables.

Usage: bench/run.py BUILD_DIR [--rounds R] [--quick], with Open MPI's environment from
scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import json
import os
import pathlib
import platform
import re
import shutil
import statistics
import subprocess
import tempfile
import time

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
                          ("floor", [str(build / "bench" / "floor"), str(manifests)])):
        folder = scratch / f"callgrind-{name}"
        folder.mkdir()
        result = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *command],
            cwd=folder, capture_output=True, text=True, check=True)
        counts[name] = int(re.search(r"Collected : (\d+)", result.stderr).group(1))
        shutil.rmtree(folder)
    return counts


def kernel(build, quick):
    """Median times of compute() and of the plain copy, in microseconds, per grid size."""
    arguments = [str(build / "bench" / "kernel_bench"), "--benchmark_format=json"]
    arguments += (["--benchmark_min_time=0.01"] if quick else
                  ["--benchmark_repetitions=9", "--benchmark_report_aggregates_only=true"])
    report = json.loads(subprocess.run(arguments, capture_output=True, text=True,
                                       check=True).stdout)
    times = {}
    for entry in report["benchmarks"]:
        if quick or entry.get("aggregate_name") == "median":
            name, size = entry["run_name"].split("/")
            times[(name, int(size))] = entry["real_time"]
    return times


def machine():
    mpi = subprocess.run(["mpiexec", "--version"], capture_output=True, text=True).stdout
    return (f"{os.cpu_count()} cores ({platform.processor() or platform.machine()}), "
            f"{mpi.splitlines()[0]}, run folders on /dev/shm (tmpfs)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--quick", action="store_true", help="one round each, to check it runs")
    options = parser.parse_args()
    rounds = 1 if options.quick else options.rounds
    counts = [1, 2, 5] if options.quick else [1, 2, 3, 4, 5]
    build = options.build.resolve()

    print(f"machine: {machine()}")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="heat2d-bench-", dir="/dev/shm"))
    try:
        medians = whole_runs(build, scratch, rounds, counts)
        print(f"\nWhole run, wall time of mpiexec -n N, median of {rounds} alternating runs "
              "(target: ratio <= 1.05)")
        print(f"{'N':>3} {'heat2d s':>10} {'floor s':>10} {'ratio':>7}")
        for n, m in medians.items():
            print(f"{n:>3} {m['heat2d']:>10.3f} {m['floor']:>10.3f} "
                  f"{m['heat2d'] / m['floor']:>7.3f}")
        print("\nOversubscription on this machine (target: <= 2.5)")
        print(f"heat2d 5 processes / 2 processes: {medians[5]['heat2d'] / medians[2]['heat2d']:.2f}")

        counted = instructions(build, scratch)
        print("\nInstructions of one process in a one-process run, callgrind (target heat2d <= 150M)")
        for name, count in counted.items():
            print(f"{name}: {count / 1e6:.1f}M")
    finally:
        shutil.rmtree(scratch)

    times = kernel(build, options.quick)
    print("\nKernel: compute() on a middle strip against a plain copy of the same bytes, median "
          "(targets: ratio <= 2.0 at 1024, <= 1.3 at 4096)")
    print(f"{'cells':>11} {'compute us':>11} {'copy us':>9} {'ratio':>7}")
    for size in (1024, 4096):
        compute, copy = times[("BM_Compute", size)], times[("BM_Copy", size)]
        print(f"{size:>5}x{size:<5} {compute:>11.0f} {copy:>9.0f} {compute / copy:>7.2f}")


if __name__ == "__main__":
    main()
