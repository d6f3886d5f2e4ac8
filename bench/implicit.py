#!/usr/bin/python3
"""The implicit methods and their multigrid: the residual's reduction per V-cycle on grids of
every shape and time steps from tiny to huge; a V-cycle's cost against one explicit step; the
time to reach t = 0.1 at a given error for every method against the explicit update at its best
pass length (a work-precision picture); two processes and two threads against one; a V-cycle
across two hosts; and the memory an implicit run holds. Prints tables, and draws the picture.

Usage: bench/implicit.py BUILD_DIR [--rounds R] [--quick] [--picture FILE.png], with Open MPI's
environment from scripts/mpi_env.sh (bench/run.sh sets it). The two-host part needs root
(scripts/hosts.sh); without it that part is skipped with one line.
"""
import argparse
import math
import os
import pathlib
import subprocess
import sys

from study_runs import alternating, machine, median, processor, save_picture, study

ROOT = pathlib.Path(__file__).resolve().parent.parent
TWO_HOSTS = ["bash", str(ROOT / "scripts" / "hosts.sh"), "--rate", "1gbit", "--"]
UNTIL = 0.1


def unbound(processes):
    return ["mpiexec", "--bind-to", "none", "-n", str(processes)]


def convergence(build, grids, steps_sizes):
    print("\nResidual reduction per V-cycle (geometric mean over every solve of 2 backward Euler "
          "steps, one process; target >= 10)")
    print(f"{'grid':>12} " + "".join(f"{f'dt = {dt:g}':>22}" for dt in steps_sizes))
    for rows, cols in grids:
        cells = []
        for dt in steps_sizes:
            run = study(build, 1, "--rows", rows, "--cols", cols, "--steps", 2, "--dt", dt,
                        "--method", "euler")["multigrid"]
            cells.append(f"{run['reduction_per_cycle']:8.1f} x ({run['cycles_per_solve']:.1f} cycles)")
        print(f"{f'{rows} x {cols}':>12} " + "".join(f"{cell:>22}" for cell in cells))


def cycle_cost(build, n, rounds):
    """A V-cycle (--cycles 4, backward Euler) against one explicit single step, in turn."""
    def explicit():
        return study(build, 1, "--rows", n, "--cols", n, "--steps", 20, "--dt", 1e-9, "--fuse", 1)
    def cycle():
        return study(build, 1, "--rows", n, "--cols", n, "--steps", 1, "--dt", 1e-3, "--method",
                     "euler", "--cycles", 4)
    results = alternating(rounds, {"explicit": explicit, "cycle": cycle})
    step = median([r["seconds_per_step"] for r in results["explicit"]])
    per_cycle = median([r["multigrid"]["seconds_per_cycle"] for r in results["cycle"]])
    shares = results["cycle"][len(results["cycle"]) // 2]["multigrid"]
    print(f"\nA V-cycle against one explicit single step ({n}^2, one process, medians of {rounds} "
          f"alternating rounds; target <= 5)")
    print(f"  explicit step {step * 1e3:.2f} ms ({results['explicit'][0]['stores']}, "
          f"{results['explicit'][0]['kernel']}), V-cycle {per_cycle * 1e3:.1f} ms: "
          f"{per_cycle / step:.2f} x")
    print("  share of each level: " + ", ".join(
        f"{grid} {share:.0%}" for grid, share in zip(shares["level_grids"], shares["level_shares"])))


def tolerance_for(dt):
    """A solve's tolerance that keeps its error below the method's in time: loose for long steps,
    tight for short ones (whose many solves add up)."""
    return 1e-6 if dt >= 2e-3 else 1e-10


def explicit_error(build, n, quick):
    """The explicit update's error at t = UNTIL on n^2: measured where the run is short enough,
    else taken on from two coarser grids at the order they show (its side columns' lag of a step
    makes it first order)."""
    def measured(size):
        dt = explicit_dt(size)
        steps = math.ceil(UNTIL / dt * (1 - 1e-9))
        return study(build, 1, "--rows", size, "--cols", size, "--steps", steps, "--dt", dt,
                     "--fuse", "auto")["max_error"]
    if quick or n <= 1024:
        return measured(n), "measured"
    coarse, fine = measured(n // 4), measured(n // 2)
    return fine * fine / coarse, f"from {n // 4}^2 and {n // 2}^2 ({coarse:.3g}, {fine:.3g})"


def work_precision(build, n, methods, explicit_steps, quick):
    """(seconds, max error) at t = UNTIL for each method and dt, and the explicit update's: its
    time per step at its best pass length, times the steps it needs."""
    points = {}
    for method, steps in methods.items():
        points[method] = []
        for dt in steps:
            run = study(build, 1, "--rows", n, "--cols", n, "--until", UNTIL, "--dt", dt,
                        "--method", method, "--tolerance", tolerance_for(dt))
            points[method].append((run["wall_seconds"], run["max_error"], dt,
                                   run["multigrid"]["cycles_per_solve"]))
    dt = explicit_dt(n)
    steps = math.ceil(UNTIL / dt * (1 - 1e-9))
    sample = study(build, 1, "--rows", n, "--cols", n, "--steps", explicit_steps, "--dt", dt,
                   "--fuse", "auto")
    seconds = sample["seconds_per_step"] * steps
    error, how = explicit_error(build, n, quick)
    points["explicit"] = [(seconds, error, dt, sample["fuse"])]
    print(f"\nTime to t = {UNTIL} and the largest difference from the exact solution, {n}^2, one "
          "process (tolerance 1e-6 for dt >= 2e-3, else 1e-10)")
    print(f"  explicit, K = {sample['fuse']}: {steps} steps of dt = {dt:.4g} at "
          f"{sample['seconds_per_step'] * 1e3:.3f} ms: {seconds:.1f} s, error {error:.3g} ({how})")
    for method in methods:
        for seconds_taken, error_reached, step, cycles in points[method]:
            print(f"  {method:7} dt = {step:<8g} {seconds_taken:9.2f} s  error {error_reached:9.3g}"
                  f"  {cycles:.1f} cycles per solve  {seconds / seconds_taken:8.0f} x faster")
    for target in (1e-2, 1e-5):
        fastest = min((t for method in methods for t, e, _, _ in points[method] if e <= target),
                      default=None)
        if fastest is None:
            print(f"  no implicit run reached an error of {target:g}")
        else:
            print(f"  error <= {target:g}: fastest implicit run {fastest:.2f} s, "
                  f"{seconds / fastest:.0f} x faster than the explicit update takes to t = {UNTIL}"
                  + ("" if error <= target else f" (whose own error, {error:.2g}, is larger)"))
    return points


def explicit_dt(n):
    """Nine tenths of the explicit update's largest stable step: at the limit itself the
    checkerboard mode of the hot edge's jump never decays, and the error stays near the edge."""
    h = 1.0 / n
    return 0.9 * 0.5 / (2.0 / (h * h))


def parallel(build, n, rounds):
    problem = ["--rows", n, "--cols", n, "--steps", 2, "--dt", 1e-3, "--method", "trbdf2"]
    runs = {"1 process": lambda: study(build, 1, *problem, launcher=unbound(1)),
            "2 processes": lambda: study(build, 2, *problem, launcher=unbound(2)),
            "1 process, 2 threads": lambda: study(build, 1, *problem, "--threads", 2,
                                                  launcher=unbound(1))}
    results = alternating(rounds, runs)
    one = median([r["wall_seconds"] for r in results["1 process"]])
    print(f"\nTR-BDF2 at {n}^2, two steps: speed against one process, one thread (medians of "
          f"{rounds} alternating rounds; target >= 1.6)")
    for name, figures in results.items():
        wall = median([r["wall_seconds"] for r in figures])
        print(f"  {name:22} {wall:8.3f} s  {one / wall:5.2f} x")


def two_hosts(build, n):
    if os.geteuid() != 0:
        print("\nTwo hosts: skipped (scripts/hosts.sh needs root)")
        return
    run = study(build, 2, "--rows", n, "--cols", n, "--steps", 2, "--dt", 1e-3, "--method",
                "trbdf2", launcher=TWO_HOSTS)
    m = run["multigrid"]
    print(f"\nTwo hosts joined at 1 Gbit/s, {n}^2 as strips, TR-BDF2: a V-cycle takes "
          f"{m['seconds_per_cycle'] * 1e3:.1f} ms, {m['messages_per_cycle']:.3g} messages "
          f"(exchange {run['exchange_share']:.0%} of the time)")
    print("  messages per cycle by level: " + ", ".join(
        f"{grid} {count:g}" for grid, count in zip(m["level_grids"], m["level_messages_per_cycle"])))


def memory(build, n):
    layer = n * n * 8
    for method in ("euler", "trbdf2"):
        run = study(build, 2, "--rows", n, "--cols", n, "--steps", 1, "--dt", 1e-3, "--method",
                    method, "--cycles", 1)
        explicit = study(build, 2, "--rows", n, "--cols", n, "--steps", 1, "--dt", 1e-12)
        print(f"\nMemory at {n}^2 on 2 processes ({method}): {run['peak_resident_bytes'] / 2**20:.0f} "
              f"MiB at most in a process, {2 * run['peak_resident_bytes'] / layer:.2f} layers of "
              f"the grid for both (target <= 5); the explicit update "
              f"{2 * explicit['peak_resident_bytes'] / layer:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--quick", action="store_true", help="tiny sizes, one round")
    parser.add_argument("--picture", type=pathlib.Path)
    args = parser.parse_args()
    # Absolute: the two-host launcher starts the program from another folder.
    args.build = args.build.resolve()
    print(f"Machine: {machine()}")
    if args.quick:
        convergence(args.build, [(37, 23), (65, 129)], (1e-6, 1.0))
        cycle_cost(args.build, 128, 1)
        work_precision(args.build, 64, {"trbdf2": (1e-2,)}, 8, True)
        parallel(args.build, 128, 1)
        return
    convergence(args.build, [(4096, 4096), (4097, 4097), (1000, 3001), (37, 23)], (1e-6, 1e-3, 1.0))
    cycle_cost(args.build, 4096, args.rounds)
    methods = {"euler": (1e-2, 3e-3, 1e-3, 3e-4),
               "cn": (1e-2, 5e-3, 2e-3, 1e-3, 5e-4, 2e-4, 1e-4),
               "trbdf2": (1e-2, 5e-3, 2e-3, 1e-3, 5e-4, 2e-4, 1e-4)}
    curves = {n: work_precision(args.build, n, methods, 320, False) for n in (1024, 2048)}
    parallel(args.build, 4096, max(3, args.rounds // 2))
    two_hosts(args.build, 4096)
    memory(args.build, 8192)
    if args.picture:
        draw(curves, args.picture)


def draw(curves, picture):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(figsize=(7, 5))
    styles = {"euler": "o-", "cn": "s-", "trbdf2": "^-", "explicit": "*"}
    for n, points in curves.items():
        for method, runs in points.items():
            seconds = [t for t, _, _, _ in runs]
            errors = [e for _, e, _, _ in runs]
            axes.loglog(seconds, errors, styles[method], markersize=9 if method == "explicit" else 5,
                        label=f"{method}, {n}^2")
    axes.set_xlabel("seconds to t = 0.1 (one process)")
    axes.set_ylabel("largest difference from the exact solution")
    axes.set_title(f"Work against precision ({processor()})", fontsize="small")
    save_picture(figure, axes, picture)


if __name__ == "__main__":
    sys.exit(main())
