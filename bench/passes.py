#!/usr/bin/python3
"""Passes of several steps, threads and deep halos: heat2d-study's time per step against the
fastest copy of a layer and against the update in the cache, for K = 1 to 32 (bench/kernel_bench);
threads against processes; and passes of K steps against single steps across two hosts joined by
a rate-limited link, on a grid whose messages are small (latency-bound) and on one whose rows are
long (bandwidth-bound). Prints tables, and optionally draws the time per step against K.

Usage: bench/passes.py BUILD_DIR [--rounds R] [--quick] [--picture FILE.png], with Open MPI's
environment from scripts/mpi_env.sh (bench/run.sh sets it). The two-host part needs root
(scripts/hosts.sh); without it that part is skipped with one line.
"""
import argparse
import pathlib
import re
import subprocess

from study_runs import alternating, machine, median, save_picture, study

ROOT = pathlib.Path(__file__).resolve().parent.parent
LINK = "1gbit"
TWO_HOSTS = ["bash", str(ROOT / "scripts" / "hosts.sh"), "--rate", LINK, "--"]
FUSES = (1, 2, 4, 8, 16, 32)


def kernel_sweep(build, sizes, rounds, threads=1):
    """kernel_bench's table: {size: {K: (ms per step, x copy, x in cache)}}, the copy's ms and the
    in-cache ns per cell (the median over the sizes' rounds), with its lines echoed."""
    command = [str(build / "bench" / "kernel_bench"), "--rounds", str(rounds), "--sizes",
               ",".join(map(str, sizes)), "--fuse", ",".join(map(str, FUSES)), "--threads",
               str(threads)]
    text = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    print(text, end="")
    steps, copies, in_cache, size = {}, {}, [], None
    for line in text.splitlines():
        found = re.match(r"\s*(\d+)x\d+\s+copy\s+([0-9.]+) ms, in the cache ([0-9.]+) ns/cell", line)
        if found:
            size = int(found.group(1))
            copies[size], steps[size] = float(found.group(2)), {}
            in_cache.append(float(found.group(3)))
        found = re.match(r"\s+K =\s+(\d+)\s+tile\s+\d+\s+([0-9.]+) ms\s+([0-9.]+) x copy.*"
                         r"\s([0-9.]+) x in cache", line)
        if found:
            steps[size][int(found.group(1))] = tuple(map(float, found.group(2, 3, 4)))
    return steps, copies, median(in_cache)


def unbound(processes):
    """mpiexec that leaves each process free to run its threads on every core (Open MPI binds a
    process to one core by default when there are no more processes than cores)."""
    return ["mpiexec", "--bind-to", "none", "-n", str(processes)]


def threads_against_processes(build, n, steps, rounds):
    problem = ["--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9]
    best = ["--fuse", "auto"]
    def run(processes, *options):
        return lambda: study(build, processes, *problem, *options, launcher=unbound(processes))
    runs = {"2 processes, K = 1": run(2),
            "1 process, 2 threads, K = 1": run(1, "--threads", 2),
            "1 process, 1 thread, auto K": run(1, *best),
            "1 process, 2 threads, auto K": run(1, *best, "--threads", 2)}
    results = alternating(rounds, runs)
    per_step = {name: median(f["seconds_per_step"] for f in figures)
                for name, figures in results.items()}
    print(f"\nThreads against processes, {n} x {n}, mpiexec --bind-to none, median of {rounds} "
          "alternating rounds (targets: 2 threads >= 0.95 x the speed of 2 processes at K = 1; "
          "with auto K, >= 1.8 x one thread)")
    for name, seconds in per_step.items():
        print(f"{name:<30} {seconds * 1e3:8.3f} ms/step   K = {results[name][-1]['fuse']}")
    names = list(per_step)
    print(f"speed of 2 threads / 2 processes, K = 1: {per_step[names[0]] / per_step[names[1]]:.3f}")
    print(f"2 threads / 1 thread, auto K: {per_step[names[2]] / per_step[names[3]]:.3f}")


def hosts_against_fuse(build, grid, split, steps, rounds, target):
    nx, ny = grid
    problem = ["--rows", nx, "--cols", ny, "--steps", steps, "--dt", 1e-12, *split]
    runs = {k: (lambda k=k: study(build, 2, *problem, "--fuse", k, launcher=TWO_HOSTS))
            for k in (1, 8)}
    results = alternating(rounds, runs)
    single, fused = (median(f["seconds_per_step"] for f in results[k]) for k in (1, 8))
    last = results[8][-1]
    print(f"{nx:>6} x {ny:<6} {'x'.join(map(str, last['procs'])):>5} {single * 1e3:>10.3f} "
          f"{fused * 1e3:>10.3f} {fused / single:>8.3f}   {target}")


def draw(steps, copies, in_cache, picture):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(figsize=(6.4, 4.8), dpi=100)
    for (size, by_fuse), colour in zip(steps.items(), ("tab:blue", "tab:orange", "tab:green")):
        cells = size * size
        axes.semilogx(list(by_fuse), [v[0] * 1e6 / cells for v in by_fuse.values()], "o-",
                      color=colour, base=2, label=f"{size} x {size}")
        axes.axhline(copies[size] * 1e6 / cells, color=colour, linestyle=":",
                     label=f"copy of a layer, {size} x {size}")
    axes.axhline(in_cache, color="k", linestyle="--", label="update in the cache, K = 1")
    axes.set_xticks(FUSES, [str(k) for k in FUSES])
    axes.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
    axes.set_xlabel("steps per pass K")
    axes.set_ylabel("time per step and cell (ns)")
    axes.set_ylim(bottom=0)
    axes.set_title("One process, one thread: passes of K steps")
    save_picture(figure, axes, picture)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--quick", action="store_true", help="one round each on small grids")
    parser.add_argument("--picture", type=pathlib.Path, help="draw time per step against K here")
    options = parser.parse_args()
    build = options.build.resolve()
    rounds = 1 if options.quick else options.rounds
    quick = options.quick
    print(f"machine: {machine()}")
    sizes = (256, 512) if quick else (1024, 2048, 4096)
    steps, copies, in_cache = kernel_sweep(build, sizes, rounds)
    if options.picture:
        draw(steps, copies, in_cache, options.picture)
    print("\nThe machine's own limit for two threads:")
    kernel_sweep(build, sizes[-1:], rounds, threads=2)
    threads_against_processes(build, 256 if quick else 4096, 32 if quick else 64, rounds)
    print(f"\nTwo hosts, one process each, link limited to {LINK}: passes of 8 steps against "
          f"single steps, median of {rounds} alternating rounds")
    print(f"{'grid':>15} {'procs':>5} {'K=1 ms':>10} {'K=8 ms':>10} {'ratio':>8}   target")
    try:
        hosts_against_fuse(build, (256, 256), ["--split", "blocks", "--procs", "1x2"],
                           80 if quick else 4000, rounds, "<= 0.6 (messages of 256 values)")
        hosts_against_fuse(build, (64, 8192), [], 16 if quick else 400, rounds,
                           "<= 1.02 (rows of 8192 values)")
        hosts_against_fuse(build, (128, 16384), [], 16 if quick else 200, rounds,
                           "<= 1.02 (rows of 16384 values)")
    except subprocess.CalledProcessError as error:
        reason = (error.stderr or "").strip().splitlines()
        print(f"skipped ({reason[-1] if reason else 'hosts.sh failed'})")


if __name__ == "__main__":
    main()
