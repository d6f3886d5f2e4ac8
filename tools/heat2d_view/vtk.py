"""VTK ImageData files (.vti), one per label or step, and a .pvd collection with each one's
time."""
import re

import numpy as np

from . import problem
from .output import replacing_folder
from .progress import progress

# Values per piece of the transposed copy the file is written from: a few MB at a time, so that a
# large field needs no second copy of itself.
CHUNK_VALUES = 1 << 20


def vti_head(shape):
    """The XML before the values: point data on the node grid, its values appended raw after the
    XML as a 64-bit byte count and little-endian doubles."""
    nx, ny = shape
    dx, dy = problem.spacing(nx, ny)
    extent = f"0 {nx - 1} 0 {ny - 1} 0 0"
    return (
        '<?xml version="1.0"?>\n'
        '<VTKFile type="ImageData" version="1.0" byte_order="LittleEndian" header_type="UInt64">\n'
        f'  <ImageData WholeExtent="{extent}" Origin="{problem.A!r} {problem.C!r} 0" '
        f'Spacing="{dx!r} {dy!r} 1">\n'
        f'    <Piece Extent="{extent}">\n'
        '      <PointData Scalars="temperature">\n'
        '        <DataArray type="Float64" Name="temperature" format="appended" offset="0"/>\n'
        "      </PointData>\n"
        "    </Piece>\n"
        "  </ImageData>\n"
        '  <AppendedData encoding="raw">\n'
        "   _")


def write_vti(path, field):
    """VTK orders points with x fastest, then y: the field's columns one after another, a few at a
    time."""
    nx, ny = field.shape
    columns = max(1, CHUNK_VALUES // nx)
    with open(path, "wb") as file:
        file.write(vti_head(field.shape).encode())
        file.write((8 * nx * ny).to_bytes(8, "little"))
        for start in range(0, ny, columns):
            file.write(np.ascontiguousarray(field[:, start:start + columns].T, dtype="<f8").data)
        file.write(b"\n  </AppendedData>\n</VTKFile>\n")


# The names write_series gives its files: a folder holding only such files is an earlier series.
SERIES_FILE = re.compile(r"field_(?:initial|[0-9]+|step_[0-9]+)\.vti|field\.pvd")


def write_series(run, keys, folder):
    """One .vti per label or step of `run` (and the initial field at t = 0, when the run folder has
    it) and the collection, written into a new folder that takes the place of `folder` only when
    all are there: stopped or failed, the series leaves nothing behind."""
    entries = []
    with replacing_folder(folder, SERIES_FILE) as series:
        initial = run.initial_field()
        if initial is not None:
            write_vti(series / "field_initial.vti", initial)
            entries.append(("0", "field_initial.vti"))
        for key, field in progress(run.fields(keys), len(keys), f"{run.unit}s"):
            name = run.vti_name(key)
            write_vti(series / name, field)
            entries.append((run.time(key), name))
        (series / "field.pvd").write_text(
            '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1">\n  <Collection>\n'
            + "".join(f'    <DataSet timestep="{time}" file="{name}"/>\n' for time, name in entries)
            + "  </Collection>\n</VTKFile>\n")
    return folder / "field.pvd"
