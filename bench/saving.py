#!/usr/bin/python3
"""Saving fields: heat2d-study's save of an N x N field from 2 processes against one process
writing the same bytes with a plain write loop into the same folder (the floor; target: the save
at most 1.15 times it), a run that saves every K steps against the same run without saves plus
the floor's writes, and what the CRC-32 each record carries costs (bench/checksum_cost: the save,
which adds it up as it writes, against the checksum alone over the same blocks). Runs alternate.

Usage: bench/saving.py BUILD_DIR [--rounds R] [--quick] [--folder DIR ...], with Open MPI's
environment from scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import pathlib
import shutil
import subprocess
import tempfile

from study_runs import machine, median, study

HEADER_BYTES = 128


def field_bytes(n):
    return HEADER_BYTES + 8 * n * n


def save_seconds(build, n, folder):
    figures = study(build, 2, "--rows", n, "--cols", n, "--steps", 1, "--dt", 1e-9, "--save",
                    folder / "field.npy", cwd=folder)
    return figures["save_seconds"]


def floor_seconds(build, n, folder):
    result = subprocess.run([str(build / "bench" / "write_floor"), str(folder / "floor.npy"),
                             str(field_bytes(n))], capture_output=True, text=True, check=True)
    return float(result.stdout)


def checksum_cost(build, n, folder, rounds):
    """Medians of a save with its checksum, of the checksum alone, of the save without it (their
    difference), and the checksum's share of the save in per cent."""
    result = subprocess.run(["mpiexec", "-n", "2", str(build / "bench" / "checksum_cost"), str(n),
                             str(rounds), str(folder)], capture_output=True, text=True, check=True)
    return [float(value) for value in result.stdout.split()]


def crc_implementation(build):
    """Which CRC-32 the build computes records with: ISA-L's where CMake found it, else zlib's."""
    try:
        cache = (build / "CMakeCache.txt").read_text()
    except OSError:
        return "unknown (no CMakeCache.txt)"
    found = any(line.startswith("ISAL_LIBRARY:") and not line.endswith("NOTFOUND")
                for line in cache.splitlines())
    return "ISA-L's crc32_gzip_refl" if found else "zlib's crc32"


def clean(folder):
    for path in folder.iterdir():
        path.unlink()


def one_save(build, n, folder, rounds):
    saves, floors = [], []
    for _ in range(rounds):
        saves.append(save_seconds(build, n, folder))
        clean(folder)
        floors.append(floor_seconds(build, n, folder))
        clean(folder)
    return median(saves), median(floors)


def loop_figures(build, n, steps, folder, every):
    saving = ["--save", folder / "field.npy", "--save-every", every] if every else []
    return study(build, 2, "--rows", n, "--cols", n, "--steps", steps, "--dt", 1e-9, *saving,
                 cwd=folder)


def saving_run(build, n, steps, every, folder, rounds):
    """Medians of the time loop with saves every `every` steps, of the saves made inside it (all
    but the final one, which comes after the loop), of the loop without saves and of one floor
    write; and how many fields the loop itself saved."""
    times = {"with": [], "saves": [], "without": [], "floor": []}
    inside = 0
    for _ in range(rounds):
        figures = loop_figures(build, n, steps, folder, every)
        inside = figures["fields_saved"] - 1
        times["with"].append(figures["wall_seconds"])
        times["saves"].append(figures["save_seconds"] * inside / figures["fields_saved"])
        clean(folder)
        times["without"].append(loop_figures(build, n, steps, folder, 0)["wall_seconds"])
        times["floor"].append(floor_seconds(build, n, folder))
        clean(folder)
    return {name: median(values) for name, values in times.items()}, inside


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--quick", action="store_true", help="one round on a small field")
    parser.add_argument("--folder", type=pathlib.Path, action="append",
                        help="where to write (default: /dev/shm and /var/tmp)")
    options = parser.parse_args()
    build = options.build.resolve()
    rounds = 1 if options.quick else options.rounds
    n = 512 if options.quick else 4096
    parents = options.folder or [pathlib.Path("/dev/shm"), pathlib.Path("/var/tmp")]

    print(f"machine: {machine()}")
    print(f"CRC-32: {crc_implementation(build)}")
    print(f"\nSaving a {n} x {n} field ({field_bytes(n) / 2**20:.0f} MiB) from 2 processes "
          f"against one plain write loop into the same folder, median of {rounds} alternating "
          "rounds (target: ratio <= 1.15)")
    print(f"{'folder':<12} {'save s':>8} {'floor s':>8} {'ratio':>6}")
    runs, checksums = {}, {}
    for parent in parents:
        folder = pathlib.Path(tempfile.mkdtemp(prefix="heat2d-saving-", dir=parent))
        try:
            save, floor = one_save(build, n, folder, rounds)
            print(f"{str(parent):<12} {save:>8.4f} {floor:>8.4f} {save / floor:>6.2f}")
            runs[parent] = saving_run(build, n, 8 if options.quick else 40,
                                      2 if options.quick else 10, folder, rounds)
            checksums[parent] = checksum_cost(build, n, folder, 3 if options.quick else
                                              options.rounds)
        finally:
            shutil.rmtree(folder)

    print(f"\nThe time loop with --save-every against the same loop without saves plus its own "
          f"saves, and plus as many floor writes, median of {rounds} alternating rounds (target: "
          "ratio <= 1)")
    print(f"{'folder':<12} {'saves':>5} {'with s':>8} {'without s':>10} {'+ saves s':>10} "
          f"{'ratio':>6} {'+ floor s':>10} {'ratio':>6}")
    for parent, (times, inside) in runs.items():
        own = times["without"] + times["saves"]
        floor = times["without"] + inside * times["floor"]
        print(f"{str(parent):<12} {inside:>5} {times['with']:>8.4f} {times['without']:>10.4f} "
              f"{own:>10.4f} {times['with'] / own:>6.2f} {floor:>10.4f} "
              f"{times['with'] / floor:>6.2f}")

    print(f"\nThe CRC-32 each record carries: a save of the {n} x {n} field from 2 processes, "
          "which adds it up as it writes, the checksum alone over the same blocks, and their "
          "difference, medians of alternating rounds")
    print(f"{'folder':<12} {'with s':>8} {'CRC s':>8} {'without s':>10} {'share %':>8}")
    for parent, (with_crc, crc, without, share) in checksums.items():
        print(f"{str(parent):<12} {with_crc:>8.4f} {crc:>8.4f} {without:>10.4f} {share:>8.1f}")


if __name__ == "__main__":
    main()
