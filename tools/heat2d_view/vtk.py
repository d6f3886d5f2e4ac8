"""VTK ImageData files (.vti), one per label or step, and a .pvd collection with each one's
time."""
import re

from . import problem
from .output import replacing_folder
from .progress import progress


def vti_text(field):
    """Point data on the node grid; VTK orders points with x fastest, then y."""
    nx, ny = field.shape
    dx, dy = problem.spacing(nx, ny)
    values = " ".join(repr(float(v)) for v in field.T.ravel())
    extent = f"0 {nx - 1} 0 {ny - 1} 0 0"
    return (
        '<?xml version="1.0"?>\n'
        '<VTKFile type="ImageData" version="0.1" byte_order="LittleEndian">\n'
        f'  <ImageData WholeExtent="{extent}" Origin="{problem.A!r} {problem.C!r} 0" '
        f'Spacing="{dx!r} {dy!r} 1">\n'
        f'    <Piece Extent="{extent}">\n'
        '      <PointData Scalars="temperature">\n'
        '        <DataArray type="Float64" Name="temperature" format="ascii">\n'
        f"          {values}\n"
        "        </DataArray>\n"
        "      </PointData>\n"
        "    </Piece>\n"
        "  </ImageData>\n"
        "</VTKFile>\n")


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
            (series / "field_initial.vti").write_text(vti_text(initial))
            entries.append(("0", "field_initial.vti"))
        for key, field in progress(run.fields(keys), len(keys), f"{run.unit}s"):
            name = run.vti_name(key)
            (series / name).write_text(vti_text(field))
            entries.append((run.time(key), name))
        (series / "field.pvd").write_text(
            '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1">\n  <Collection>\n'
            + "".join(f'    <DataSet timestep="{time}" file="{name}"/>\n' for time, name in entries)
            + "  </Collection>\n</VTKFile>\n")
    return folder / "field.pvd"
