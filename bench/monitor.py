#!/usr/bin/python3
"""What --monitor costs: a 4096 x 4096 run of heat2d-study with and without a progress line every
few steps, alternating, medians of the time per step.

Usage: bench/monitor.py BUILD_DIR [--rounds R] [--quick], with Open MPI's environment from
scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import pathlib

from study_runs import machine, median, study


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--quick", action="store_true", help="one round on a small grid")
    options = parser.parse_args()
    build = options.build.resolve()
    rounds = 1 if options.quick else options.rounds
    n, steps = (256, 40) if options.quick else (4096, 200)
    problem = ["--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9]
    runs = {"without": [], "with": []}
    for _ in range(rounds):
        runs["without"].append(study(build, 1, *problem)["seconds_per_step"])
        runs["with"].append(study(build, 1, *problem, "--monitor", 10)["seconds_per_step"])
    without, with_ = median(runs["without"]), median(runs["with"])
    print(f"machine: {machine()}")
    print(f"--monitor 10 on {n} x {n}, one process, {steps} steps, median of {rounds} alternating "
          "rounds (target: ratio <= 1.01)")
    print(f"without {without * 1e3:.3f} ms/step, with {with_ * 1e3:.3f} ms/step, "
          f"ratio {with_ / without:.3f}")


if __name__ == "__main__":
    main()
