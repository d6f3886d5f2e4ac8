"""VTK ImageData files (.vti), one per label, and a .pvd collection with each one's time."""
import pathlib

from . import problem


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


def write_series(run, labels, folder):
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    entries = []
    for label, field in run.fields(labels):
        name = f"field_{label}.vti"
        (folder / name).write_text(vti_text(field))
        entries.append(f'    <DataSet timestep="{problem.time_after(label)!r}" file="{name}"/>\n')
    collection = folder / "field.pvd"
    collection.write_text(
        '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1">\n  <Collection>\n'
        + "".join(entries) + "  </Collection>\n</VTKFile>\n")
    return collection
