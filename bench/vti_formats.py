#!/usr/bin/python3
"""heat2d-view vtk: a ParaView series of an N x N run's saved fields written with the values
appended as raw binary (today's writer) against every value as ASCII text (the former writer, kept
here as the baseline): the seconds to write the series and its size. Writers alternate, medians.

Usage: bench/vti_formats.py BUILD_DIR [--rounds R] [--quick] [--folder DIR], with Open MPI's
environment from scripts/mpi_env.sh (bench/run.sh sets it).
"""
import argparse
import pathlib
import shutil
import sys
import tempfile
import time

import numpy as np

from study_runs import machine, median, study

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tools"))
from heat2d_view import vtk  # noqa: E402
from heat2d_view.sources import open_runs  # noqa: E402


def ascii_vti(path, field):
    """The former writer: every value as repr() text in one DataArray."""
    nx, ny = field.shape
    head = vtk.vti_head(field.shape).split('        <DataArray')[0]
    values = " ".join(repr(float(v)) for v in field.T.ravel())
    path.write_text(
        head.replace('version="1.0"', 'version="0.1"').replace(' header_type="UInt64"', "")
        + '        <DataArray type="Float64" Name="temperature" format="ascii">\n'
        f"          {values}\n        </DataArray>\n      </PointData>\n    </Piece>\n"
        "  </ImageData>\n</VTKFile>\n")


WRITERS = {"binary": vtk.write_vti, "ascii": ascii_vti}


def write_once(run, writer, folder):
    """Seconds to write the whole series with `writer`, and its size in bytes."""
    target = folder / "vtk"
    vtk.write_vti, saved = WRITERS[writer], vtk.write_vti
    try:
        start = time.perf_counter()
        vtk.write_series(run, run.keys, target)
        seconds = time.perf_counter() - start
    finally:
        vtk.write_vti = saved
    size = sum(path.stat().st_size for path in target.iterdir())
    shutil.rmtree(target)
    return seconds, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="one round on a small series")
    parser.add_argument("--folder", type=pathlib.Path, default=pathlib.Path("/var/tmp"),
                        help="where to write (default: %(default)s)")
    options = parser.parse_args()
    build = options.build.resolve()
    rounds = 1 if options.quick else options.rounds
    n, count = (64, 2) if options.quick else (1024, 5)

    folder = pathlib.Path(tempfile.mkdtemp(prefix="heat2d-vti-", dir=options.folder))
    try:
        # A smooth start whose values, like those of a field that has spread, take every digit:
        # heat2d's own start would give a series of mostly zeros, short as text.
        x = np.linspace(0.0, 1.0, n)
        np.save(folder / "start.npy", 100.0 * np.outer(1.0 - x, 0.5 + 0.5 * np.cos(3.0 * x)))
        study(build, 2, "--initial", folder / "start.npy", "--steps", count, "--dt", 1e-9,
              "--save", folder / "f.npy", "--save-every", 1, cwd=folder)
        run = open_runs([f"{folder}/f.*.npy"], 1)[0]
        figures = {writer: ([], 0) for writer in WRITERS}
        for _ in range(rounds):
            for writer in WRITERS:
                seconds, size = write_once(run, writer, folder)
                figures[writer] = (figures[writer][0] + [seconds], size)
    finally:
        shutil.rmtree(folder)

    print(f"machine: {machine()}")
    print(f"\nheat2d-view vtk on a series of {count} saved {n} x {n} fields, into "
          f"{options.folder}, median of {rounds} alternating rounds")
    print(f"{'values':<8} {'seconds':>8} {'MB':>9} {'MB/field':>9}")
    for writer, (seconds, size) in figures.items():
        print(f"{writer:<8} {median(seconds):>8.3f} {size / 1e6:>9.2f} {size / 1e6 / count:>9.2f}")
    binary, text = (figures[w] for w in WRITERS)
    print(f"binary against ascii: {median(binary[0]) / median(text[0]):.3f} of the time, "
          f"{binary[1] / text[1]:.3f} of the size")


if __name__ == "__main__":
    main()
