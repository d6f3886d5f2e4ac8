"""Fields saved by heat2d-study --save: a .npy file on its own, and a run's series FILE.S.npy, each
with the record beside it; a series is checked up front from its records and the arrays' headers,
and its values are read one field at a time."""
import json
import math
import os
import re

import numpy as np

from . import problem
from .run_folder import RunError, plural, require_regular_file

# A member of a series: FILE.S.npy, S the steps done since the run's start.
MEMBER = re.compile(r"(.+)\.([0-9]+)\.npy")
RECORD_FORMAT = "heat2d-study field"
RECORD_VERSION = 1
RECORD_TYPES = {"rows": int, "cols": int, "steps": int, "dt": (int, float), "initial": str}
HEAT2D_INITIAL = "heat2d"  # the record's "initial" when the run started from heat2d's own field
HEADER_READERS = {(1, 0): np.lib.format.read_array_header_1_0,
                  (2, 0): np.lib.format.read_array_header_2_0}


def _read_header(path, file):
    """The shape and order of the float64 field whose .npy header `file` starts with; the file must
    hold exactly that field's values after it."""
    try:
        version = np.lib.format.read_magic(file)
        if version not in HEADER_READERS:
            raise ValueError(f"format version {version[0]}.{version[1]}")
        shape, fortran_order, dtype = HEADER_READERS[version](file)
    except ValueError as error:
        raise RunError(f"{path}: not a NumPy .npy file ({error})") from None
    if len(shape) != 2 or dtype != np.float64 or min(shape) < 2:
        raise RunError(f"{path}: holds a {dtype} array of shape {shape}, not a field")
    size, needed = os.fstat(file.fileno()).st_size, file.tell() + 8 * shape[0] * shape[1]
    if size != needed:
        raise RunError(f"{path}: {size} bytes where a {shape[0]} x {shape[1]} field takes {needed} "
                       f"({'cut short' if size < needed else 'more than the field'})")
    return shape, fortran_order


def _open(path):
    require_regular_file(path, "a saved field")
    try:
        return open(path, "rb")
    except OSError as error:
        raise RunError(f"{path}: cannot be read ({error.strerror})") from None


def field_shape(path):
    """The grid of the field a .npy file holds, from its header, with the file's size checked."""
    with _open(path) as file:
        return _read_header(path, file)[0]


def data_layout(path):
    """Where the values of a field's .npy file begin, its header's length (which depends on the
    header's version and padding), and whether they are stored column by column."""
    with _open(path) as file:
        _, fortran_order = _read_header(path, file)
        return file.tell(), fortran_order


def load_field(path):
    """A field saved by heat2d-study: a two-dimensional float64 array of finite values."""
    with _open(path) as file:
        shape, fortran_order = _read_header(path, file)
        try:
            values = np.fromfile(file, dtype=np.float64, count=shape[0] * shape[1])
        except OSError as error:
            raise RunError(f"{path}: cannot be read ({error.strerror})") from None
        except MemoryError:
            raise RunError(f"not enough memory to read {path} ({path.stat().st_size} bytes)") \
                from None
    if values.size != shape[0] * shape[1]:
        raise RunError(f"{path}: cut short while it was read")
    field = values.reshape(shape, order="F" if fortran_order else "C")
    not_finite = ~np.isfinite(field)
    if not_finite.any():
        i, j = np.argwhere(not_finite)[0]
        raise RunError(f"{path}: {plural(int(not_finite.sum()), 'value')} not finite, the first "
                       f"{field[i, j]} at row {i}, column {j}")
    return field


def record_path(path):
    return path.with_name(path.name + ".json")


def _record_problem(record):
    """What makes `record` something other than the record of a saved field, or None."""
    if not isinstance(record, dict):
        return "not a JSON object"
    if record.get("format") != RECORD_FORMAT or record.get("version") != RECORD_VERSION:
        return (f"format {record.get('format')!r} version {record.get('version')!r}, where "
                f"{RECORD_FORMAT!r} version {RECORD_VERSION} is read")
    for key, kind in RECORD_TYPES.items():
        if key not in record:
            return f"no {key!r}"
        if not isinstance(record[key], kind) or isinstance(record[key], bool):
            return f"{key!r} is {record[key]!r}"
    if not (math.isfinite(record["dt"]) and record["dt"] > 0) or record["steps"] < 0:
        return f"dt {record['dt']!r} after {record['steps']} steps"
    return None


def read_record(path):
    """The record heat2d-study writes beside a field it saves: grid, steps done, dt, start."""
    where = record_path(path)
    if not os.path.lexists(where):
        raise RunError(f"{where}: missing (heat2d-study writes it beside {path.name})")
    require_regular_file(where, "a record")
    try:
        record = json.loads(where.read_bytes())
    except OSError as error:
        raise RunError(f"{where}: cannot be read ({error.strerror})") from None
    except (ValueError, RecursionError) as error:
        raise RunError(f"{where}: not JSON ({error})") from None
    wrong = _record_problem(record)
    if wrong:
        raise RunError(f"{where}: not the record of a field saved by heat2d-study ({wrong})")
    return record


def _named_step(path):
    """S of FILE.S.npy, or None for FILE.npy."""
    member = MEMBER.fullmatch(path.name)
    return int(member.group(2)) if member else None


# What the members of one series share, as said in a message about a member that does not.
SHARED = (lambda r: f"a {r['rows']} x {r['cols']} grid", lambda r: f"dt = {r['dt']!r}",
          lambda r: f"starting field {r['initial']}")


class Series:
    """The fields one run saved as FILE.S.npy, ordered by S, and its final FILE.npy at the step its
    record gives. Every member's header and record are checked when the series is opened: its
    grid against the array, its steps against the S in its name, and grid, dt and starting field
    against the first member's. The values are read, and checked, when a field is asked for."""

    unit = "step"

    def __init__(self, name, folder, paths):
        self.name = name  # as a message names the whole series: DIR/FILE.*.npy
        self.folder = folder
        self.members = {}
        self._first = None
        # Read in the order of the steps in the names, FILE.npy last: the others are checked
        # against the first member, and FILE.npy, when its step is also a member's (the run ended
        # on a saving step), is that member's copy and is left out.
        for path in sorted(paths, key=lambda path: (_named_step(path) is None,
                                                    _named_step(path) or 0)):
            step, named = self._read(path)
            if named and step in self.members:
                raise RunError(f"{path}: step {step} again, as in {self.members[step].name}")
            self.members.setdefault(step, path)
        self.keys = self.steps = sorted(self.members)
        self.shape = (self._first["rows"], self._first["cols"])
        self.dt = self._first["dt"]
        self.initial = self._first["initial"]
        self.description = name

    def _read(self, path):
        """The steps one file holds and whether its name says so, checked."""
        shape = field_shape(path)
        record = read_record(path)
        where = record_path(path)
        if (record["rows"], record["cols"]) != shape:
            raise RunError(f"{where}: a {record['rows']} x {record['cols']} grid, but "
                           f"{path.name} holds {shape[0]} x {shape[1]} values")
        named = _named_step(path)
        if named is not None and named != record["steps"]:
            raise RunError(f"{where}: {record['steps']} steps done, but the name {path.name} "
                           f"says {named}")
        if self._first is None:
            self._first, self._first_path = record, where
        for shared in SHARED:
            if shared(record) != shared(self._first):
                raise RunError(f"{where}: {shared(record)} where {self._first_path} has "
                               f"{shared(self._first)}: not the fields of one run")
        return record["steps"], named is not None

    def field(self, step):
        return load_field(self.members[step])

    def fields(self, steps=None):
        for step in self.steps if steps is None else steps:
            yield step, self.field(step)

    def as_text(self, step):
        """The field as the solver's snapshot files would hold it: every value printed as %f,
        six decimals, and read back."""
        return np.char.mod("%f", self.field(step)).astype(np.float64)

    def time(self, step):
        return problem.time_at(step, self.dt)

    def title(self, step):
        return f"{self.members[step].name}: step {step}, t = {self.time(step)}"

    def colour_scale(self):
        """heat2d's field lies between its held edges, 0 and 100. A starting field of the user's is
        bounded by the first member's range, which no later step leaves: with a stable dt every
        new value is a convex combination of old ones, and the held rows keep theirs."""
        if self.initial == HEAT2D_INITIAL:
            return 0.0, 100.0
        first = self.field(self.steps[0])
        return first.min(), first.max()

    def initial_field(self):
        return None  # the starting field is not a member

    def picture_name(self, step):
        return f"{self.members[step].name[:-len('.npy')]}.png"

    def vti_name(self, step):
        return f"field_step_{step}.vti"

    def summary(self):
        start = "heat2d's starting field" if self.initial == HEAT2D_INITIAL else self.initial
        return (f"{plural(len(self.steps), 'saved field')} of a {self.shape[0]} x "
                f"{self.shape[1]} grid, steps {self.steps[0]} to {self.steps[-1]} of "
                f"dt = {self.dt!r}, from {start}")
