#!/usr/bin/python3
"""Splits and exchanges: heat2d-study's time per step with strips and blocks, blocking and
overlapped exchanges, on one host and across two hosts joined by a rate-limited link; the
latency and bandwidth of both; the bytes each process sends; and the scaling model that these
constants predict, as a table and optionally a picture.

Usage: bench/decompositions.py BUILD_DIR [--rounds R] [--quick] [--picture FILE.png], with Open
MPI's environment from scripts/mpi_env.sh (bench/run.sh sets it). The two-host part needs root
(scripts/hosts.sh); without it that part is skipped with one line.
"""
import argparse
import math
import pathlib
import subprocess

from study_runs import alternating, machine, median, save_picture, study

ROOT = pathlib.Path(__file__).resolve().parent.parent
LINK = "1gbit"
TWO_HOSTS = ["bash", str(ROOT / "scripts" / "hosts.sh"), "--rate", LINK, "--"]

# Single steps throughout: the overlapped exchange takes no passes, and the model's constants are
# those of one step (the default, --fuse auto, would give the blocking runs passes of 32).
SINGLE = ["--fuse", 1]

ONE_HOST = [("strips", "blocking", None), ("strips", "overlap", None),
            ("blocks", "blocking", "1x2"), ("blocks", "overlap", "1x2"),
            ("blocks", "blocking", "2x1"), ("blocks", "overlap", "2x1")]


def options(split, exchange, procs):
    chosen = ["--split", split, "--exchange", exchange, *SINGLE]
    return chosen + (["--procs", procs] if procs else [])


def one_host(build, n, steps, rounds):
    problem = ["--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9]
    runs = {case: (lambda case=case: study(build, 2, *problem, *options(*case)))
            for case in ONE_HOST}
    results = alternating(rounds, runs)
    print(f"\nOne host, {n} x {n}, 2 processes: time per step, median of {rounds} alternating "
          "rounds (target: each <= 1.05 x strips, blocking)")
    print(f"{'split':<7} {'grid':>4} {'exchange':<9} {'ms/step':>8} {'exchange':>9} "
          f"{'bytes/step':>11} {'ratio':>6}")
    reference = median(f["seconds_per_step"] for f in results[ONE_HOST[0]])
    for case, figures in results.items():
        per_step = median(f["seconds_per_step"] for f in figures)
        share = median(f["exchange_share"] for f in figures)
        last = figures[-1]
        grid = "x".join(map(str, last["procs"]))
        print(f"{case[0]:<7} {grid:>4} {case[1]:<9} {per_step * 1e3:>8.3f} {share * 100:>8.1f}% "
              f"{last['bytes_per_step']:>11} {per_step / reference:>6.3f}")
    return reference


def latency_and_bandwidth(build, launcher, sizes, steps, rounds):
    """alpha (s) and beta (s per byte) of one message: two processes on a 4-row grid trade one row
    each way per step, one after the other, and update one row each; the time they spend trading
    is e(NY) = 2 (alpha + 8 NY beta)."""
    runs = {ny: (lambda ny=ny: study(build, 2, "--rows", 4, "--cols", ny, "--steps", steps[ny],
                                     "--dt", 1e-12, *SINGLE, launcher=launcher)) for ny in sizes}
    trading = {ny: median(f["seconds_per_step"] * f["exchange_share"] for f in figures)
               for ny, figures in alternating(rounds, runs).items()}
    small, large = sizes
    beta = (trading[large] - trading[small]) / (2 * 8 * (large - small))
    # The small message's whole time: a shaped link lets a small message through faster than
    # its rate, which would make the fitted intercept negative.
    alpha = trading[small] / 2
    return alpha, beta


def two_hosts(build, grid, steps, rounds):
    """Blocking against overlapped on two hosts, one process each: the update alone and the
    exchange alone from the blocking run's share, against the overlapped run's step."""
    nx, ny = grid
    problem = ["--rows", nx, "--cols", ny, "--steps", steps, "--dt", 1e-12, *SINGLE]
    runs = {exchange: (lambda exchange=exchange: study(build, 2, *problem, "--exchange", exchange,
                                                       launcher=TWO_HOSTS))
            for exchange in ("blocking", "overlap")}
    results = alternating(rounds, runs)
    blocking = median(f["seconds_per_step"] for f in results["blocking"])
    share = median(f["exchange_share"] for f in results["blocking"])
    overlap = median(f["seconds_per_step"] for f in results["overlap"])
    update, exchange = (1 - share) * blocking, share * blocking
    print(f"\nTwo hosts, one process each, link limited to {LINK}, {nx} x {ny} strips, median of "
          f"{rounds} alternating rounds (target: overlap <= 1.15 x max(update, exchange))")
    print(f"{'blocking ms':>12} {'update ms':>10} {'exchange ms':>12} {'overlap ms':>11} "
          f"{'overlap / max':>14} {'overlap / blocking':>19}")
    print(f"{blocking * 1e3:>12.3f} {update * 1e3:>10.3f} {exchange * 1e3:>12.3f} "
          f"{overlap * 1e3:>11.3f} {overlap / max(update, exchange):>14.3f} "
          f"{overlap / blocking:>19.3f}")


def cell_seconds(build, n, steps, rounds):
    """c: seconds per cell update of one process alone, and of each of two on one host."""
    problem = ["--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9, *SINGLE]
    runs = {1: lambda: study(build, 1, *problem), 2: lambda: study(build, 2, *problem)}
    results = alternating(rounds, runs)
    one = median(f["seconds_per_step"] for f in results[1]) / (n * n)
    two = median(f["seconds_per_step"] * (1 - f["exchange_share"]) for f in results[2]) * 2 / (n * n)
    return one, two


def predicted(c, alpha, beta, n, processes, split, fuse=1):
    """Time per step of the busiest process: its cells, then its blocking trades, one message
    each way per neighbour, in sequence. Passes of K steps trade once every K steps (alpha / K per
    step; the bytes stay the same) and compute the band of neighbours' cells their ghost zones
    determine, (K - 1) / 2 cells deep on average over a pass, along each side that faces one."""
    if processes == 1:
        return c * n * n
    if split == "strips":
        rows, cols = processes, 1
    else:
        rows = 2 ** math.ceil(math.log2(processes) / 2)  # as MPI_Dims_create splits a power of 2
        cols = processes // rows
    height, width = n / rows, n / cols
    band = (fuse - 1) / 2
    cells = (height + 2 * band * (rows > 1)) * (width + 2 * band * (cols > 1))
    trades = (rows > 1) * 2 * (alpha / fuse + 8 * width * beta) + \
        (cols > 1) * 2 * (alpha / fuse + 8 * height * beta)
    return c * cells + trades


def model(c, links, n, picture):
    counts = [2 ** k for k in range(13)]
    cases = [(name, split, fuse) for name in links for split in ("strips", "blocks")
             for fuse in (1, 8)]
    print(f"\nPredicted time per step at {n} x {n} (ms), blocking exchange, c = {c * 1e9:.2f} ns, "
          "passes of K steps")
    print(f"{'P':>6} " + " ".join(f"{f'{name} {split} K={fuse}':>26}" for name, split, fuse in cases))
    for p in counts:
        print(f"{p:>6} " + " ".join(f"{predicted(c, *links[name], n, p, split, fuse) * 1e3:>26.4f}"
                                    for name, split, fuse in cases))
    if picture:
        draw(c, links, n, counts, picture)


def draw(c, links, n, counts, picture):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(figsize=(6.4, 4.8), dpi=100)
    axes.loglog(counts, [c * n * n / p for p in counts], "k:", label="cells only, c N² / P")
    styles = {("strips", 1): "-", ("blocks", 1): "--", ("blocks", 8): "-."}
    for (name, (alpha, beta)), colour in zip(links.items(), ("tab:blue", "tab:red")):
        for (split, fuse), style in styles.items():
            axes.loglog(counts, [predicted(c, alpha, beta, n, p, split, fuse) for p in counts],
                        style, color=colour, label=f"{split}, K = {fuse}, {name}")
    axes.set_xlabel("processes P")
    axes.set_ylabel("time per step (s)")
    axes.set_title(f"Predicted time per step, {n} x {n}")
    save_picture(figure, axes, picture)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--quick", action="store_true", help="one round each on small grids")
    parser.add_argument("--picture", type=pathlib.Path, help="draw the scaling model here")
    options_ = parser.parse_args()
    build = options_.build.resolve()
    rounds = 1 if options_.quick else options_.rounds
    quick = options_.quick
    print(f"machine: {machine()}")
    one_host(build, 256 if quick else 4096, 10 if quick else 60, rounds)
    c, c_two = cell_seconds(build, 256 if quick else 4096, 10 if quick else 60, rounds)
    sizes = (1024, 131072)
    steps = {1024: 100 if quick else 2000, 131072: 10 if quick else 200}
    links = {"shared memory": latency_and_bandwidth(build, None, sizes, steps, rounds)}
    try:
        slow = {1024: 50 if quick else 500, 131072: 5 if quick else 40}
        links[f"{LINK} link"] = latency_and_bandwidth(build, TWO_HOSTS, sizes, slow, rounds)
        for grid in ((1024, 8192), (128, 32768)):
            two_hosts(build, grid, 10 if quick else 200, rounds)
    except subprocess.CalledProcessError as error:
        reason = (error.stderr or "").strip().splitlines()
        print(f"\nTwo hosts: skipped ({reason[-1] if reason else 'hosts.sh failed'})")
    print(f"\nConstants: c = {c * 1e9:.3f} ns per cell (one process), {c_two * 1e9:.3f} ns with "
          "two processes on the host")
    for name, (alpha, beta) in links.items():
        print(f"{name}: alpha = {alpha * 1e6:.2f} us, beta = {beta * 1e9:.3f} ns per byte "
              f"({1 / beta / 1e9:.2f} GB/s)")
    model(c_two, links, 16384, options_.picture)


if __name__ == "__main__":
    main()
