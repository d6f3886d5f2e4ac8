"""VTK ImageData files (.vti), one per label, and a .pvd collection with each one's time."""
from . import problem
from .output import replacing
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


def _write(path, text):
    with replacing(path) as temporary:
        temporary.write_text(text)


def write_series(run, labels, folder, dt):
    """One .vti per label (and the initial field at t = 0, when the folder has it), then the
    collection, written last so that it never lists a file that is not there."""
    folder.mkdir(exist_ok=True)
    entries = []
    initial = run.initial_field()
    if initial is not None:
        _write(folder / "field_initial.vti", vti_text(initial))
        entries.append(("0", "field_initial.vti"))
    for label, field in progress(run.fields(labels), len(labels), "labels"):
        name = f"field_{label}.vti"
        _write(folder / name, vti_text(field))
        entries.append((str(problem.time_after(label, dt)), name))
    collection = folder / "field.pvd"
    _write(collection,
           '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1">\n  <Collection>\n'
           + "".join(f'    <DataSet timestep="{time}" file="{name}"/>\n' for time, name in entries)
           + "  </Collection>\n</VTKFile>\n")
    return collection
