"""An XDMF file for a series of saved fields: ParaView and VisIt read each field's values where
they are, in its .npy file past the header, so a series of any size opens without a copy."""
import os
from xml.sax.saxutils import escape, quoteattr

from . import problem
from .quoting import quoted
from .run_folder import RunError
from .saved import field_layout


def _item(run, step, folder):
    """One field of the temporal collection. The values are read in place, a grid row after
    another: the readers take the fastest index (a row's columns, y) as their X axis and the
    rows (x) as Y, so the origin and spacing are given in that order, slowest first."""
    path = run.members[step]
    offset = field_layout(path).data_offset
    nx, ny = run.shape
    dx, dy = problem.spacing(nx, ny)
    dimensions = f"1 {nx} {ny}"
    return (
        f'      <Grid Name="step {step}" GridType="Uniform">\n'
        f'        <Time Value="{run.time(step)}"/>\n'
        f'        <Topology TopologyType="3DCoRectMesh" Dimensions="{dimensions}"/>\n'
        '        <Geometry GeometryType="ORIGIN_DXDYDZ">\n'
        '          <DataItem Format="XML" Dimensions="3" NumberType="Float" Precision="8">'
        f"0 {problem.A!r} {problem.C!r}</DataItem>\n"
        '          <DataItem Format="XML" Dimensions="3" NumberType="Float" Precision="8">'
        f"1 {dx!r} {dy!r}</DataItem>\n"
        "        </Geometry>\n"
        '        <Attribute Name="temperature" AttributeType="Scalar" Center="Node">\n'
        '          <DataItem Format="Binary" Endian="Little" NumberType="Float" Precision="8" '
        f'Seek="{offset}" Dimensions="{dimensions}">'
        f"{escape(os.path.relpath(path, folder))}</DataItem>\n"
        "        </Attribute>\n"
        "      </Grid>\n")


def xdmf_text(run, steps, folder):
    """The collection of `steps` of the series `run`, for a file in `folder`: the fields are named
    relative to it."""
    return (
        '<?xml version="1.0"?>\n<Xdmf Version="3.0">\n  <Domain>\n'
        f'    <Grid Name={quoteattr(os.path.basename(run.name))} GridType="Collection" '
        'CollectionType="Temporal">\n'
        + "".join(_item(run, step, folder) for step in steps)
        + "    </Grid>\n  </Domain>\n</Xdmf>\n")


def write_xdmf(run, steps, path):
    """Writes the collection to `path` (a temporary file, see output.replacing)."""
    text = xdmf_text(run, steps, path.parent)
    try:
        data = text.encode("utf-8")
    except UnicodeEncodeError:
        raise RunError(f"{quoted(run.name)}: a name that is not UTF-8, which an XML file cannot "
                       "hold") from None
    path.write_bytes(data)
