#!/usr/bin/python3
"""Convergence of heat2d-study against the exact solution: NX = NY = 10, 20, 40, 80, 160 run to the
same final time under two time-step rules, with the largest error and the observed order for each
refinement. Prints the tables and draws them on a log-log picture.

Usage: bench/convergence.py BUILD_DIR [--picture FILE.png] [--quick], with Open MPI's environment
from scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import json
import math
import pathlib
import subprocess
import tempfile

# dt = factor * dx^2 with dx = 1 / n: near the stability limit (1/4 for a square grid), and the
# fixed problem's own ratio (1e-5 / 0.1^2).
RULES = {"dt = 0.2 dx^2": 0.2, "dt = 0.001 dx^2": 0.001}
FINAL_TIME = 0.01


def error(build, n, factor, processes, folder):
    dt = factor / n ** 2
    steps = round(FINAL_TIME / dt)
    result = subprocess.run(
        ["mpiexec", "-n", str(processes), str(build / "heat2d-study"), "--rows", str(n), "--cols",
         str(n), "--steps", str(steps), "--dt", repr(dt), "--every", "0", "--json"],
        cwd=folder, capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--picture", type=pathlib.Path)
    parser.add_argument("--quick", action="store_true", help="only the three coarsest grids")
    options = parser.parse_args()
    build = options.build.resolve()
    sizes = [10, 20, 40] if options.quick else [10, 20, 40, 80, 160]

    results = {}
    with tempfile.TemporaryDirectory() as folder:
        for rule, factor in RULES.items():
            print(f"\n{rule}, t = {FINAL_TIME}, largest difference from the exact solution")
            print(f"{'NX = NY':>8} {'steps':>8} {'error':>12} {'order':>6} {'run s':>7}")
            errors = []
            for n in sizes:
                figures = error(build, n, factor, 2, folder)
                errors.append(figures["max_error"])
                order = (f"{math.log2(errors[-2] / errors[-1]):6.2f}" if len(errors) > 1
                         else f"{'':>6}")
                print(f"{n:>8} {figures['steps']:>8} {figures['max_error']:>12.4e} {order} "
                      f"{figures['wall_seconds']:>7.2f}")
            results[rule] = errors

    if options.picture:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        figure, axes = plt.subplots(figsize=(6.4, 4.4), dpi=100)
        spacing = [1 / n for n in sizes]
        for rule, errors in results.items():
            axes.loglog(spacing, errors, "o-", label=rule)
        for order, style in ((1, ":"), (2, "--")):
            reference = [results["dt = 0.2 dx^2"][0] * (h / spacing[0]) ** order for h in spacing]
            axes.loglog(spacing, reference, style, color="grey", label=f"order {order}")
        axes.set_xlabel("dx = dy = 1 / NX")
        axes.set_ylabel(f"largest error at t = {FINAL_TIME}")
        axes.set_title("heat2d-study against the exact solution")
        axes.legend()
        figure.tight_layout()
        figure.savefig(options.picture)
        print(f"\npicture: {options.picture}")


if __name__ == "__main__":
    main()
