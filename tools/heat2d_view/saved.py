"""Fields saved by heat2d-study --save: a .npy file on its own, and a run's series FILE.S.npy, each
with the record beside it; a series is checked up front from its records and the arrays' headers,
and its values are read one field at a time.

What makes a field and a record valid is exactly what heat2d-study's --restart and --initial take
(checkpoint/npy_header.cpp, load_field.cpp, field_record.cpp): the checks below follow those, with
their messages, and the tests hold both programs to one table of fields and records."""
import collections
import json
import math
import os
import re
import sys
import zlib

import numpy as np

from . import problem
from .quoting import quoted
from .run_folder import RunError, plural, require_regular_file

# A member of a series: FILE.S.npy, S the steps done since the run's start.
MEMBER = re.compile(r"(.+)\.([0-9]+)\.npy")
RECORD_FORMAT = "heat2d-study field"
# The keys of each version of the record: version 2 adds the CRC-32 of the whole .npy file,
# version 3 the method that took the steps.
RECORD_KEYS = {1: ("format", "version", "rows", "cols", "steps", "dt", "initial"),
               2: ("format", "version", "rows", "cols", "steps", "dt", "initial", "crc32"),
               3: ("format", "version", "rows", "cols", "steps", "dt", "initial", "crc32",
                   "method")}
METHODS = ("explicit", "euler", "cn", "trbdf2")
LONGEST_RECORD = 64 * 1024
HEAT2D_INITIAL = "heat2d"  # the record's "initial" when the run started from heat2d's own field
INT_MAX = 2**31 - 1

# The .npy format: magic, version (1.0: two bytes of header length; 2.0 and 3.0: four), header.
NPY_MAGIC = b"\x93NUMPY"
NPY_LENGTH_BYTES = {1: 2, 2: 4, 3: 4}
LONGEST_HEADER = 64 * 1024
NATIVE_DESCR = b"<f8" if sys.byteorder == "little" else b">f8"
SPACE = b" \t\n\v\f\r"

Layout = collections.namedtuple("Layout", "shape data_offset header")


def shown(text, longest=60):
    """Text for a one-line message: control characters escaped, at most `longest` characters."""
    cut = "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in text[:longest])
    return cut + (f"... ({len(text.encode('utf-8', 'surrogatepass'))} bytes)"
                  if len(text) > longest else "")


class _Literal:
    """A reader over a .npy header's dictionary, such as
    {'descr': '<f8', 'fortran_order': False, 'shape': (4096, 4096), }: quoted strings without
    escapes, True or False, and a tuple of whole numbers, nothing else."""

    def __init__(self, text, at):
        self.text, self.at = text, at

    def take(self, char):
        self.skip_space()
        if self.text[self.at:self.at + 1] == char:
            self.at += 1
            return True
        return False

    def skip_space(self):
        while self.at < len(self.text) and self.text[self.at] in SPACE:
            self.at += 1

    def string(self):
        self.skip_space()
        quote = self.text[self.at:self.at + 1]
        end = self.text.find(quote, self.at + 1) if quote in (b"'", b'"') else -1
        if end < 0:
            return None
        value, self.at = self.text[self.at + 1:end], end + 1
        return value

    def word(self, word):
        self.skip_space()
        if self.text.startswith(word, self.at):
            self.at += len(word)
            return True
        return False

    def integer(self):
        self.skip_space()
        digits = re.match(rb"[0-9]+", self.text[self.at:])
        if not digits:
            return None
        self.at += digits.end()
        return int(digits.group())

    def shape(self):
        if not self.take(b"("):
            return None
        shape = []
        while (extent := self.integer()) is not None:
            shape.append(extent)
            if not self.take(b","):
                break
        return tuple(shape) if self.take(b")") else None


def _parse_header(header, preamble):
    """The descr, order and shape a complete .npy header gives, or RunError's text."""
    dictionary = _Literal(header, preamble)
    found = {}
    if not dictionary.take(b"{"):
        return "a .npy header that is not a dictionary"
    while (key := dictionary.string()) is not None:
        if not dictionary.take(b":"):
            return "a .npy header that cannot be read"
        if key == b"descr":
            found[key] = dictionary.string()
        elif key == b"fortran_order":
            found[key] = True if dictionary.word(b"True") else \
                False if dictionary.word(b"False") else None
        elif key == b"shape":
            found[key] = dictionary.shape()
        else:
            return f"a .npy header with an unknown key '{shown(key.decode('latin-1'))}'"
        if not dictionary.take(b","):
            break
    if not dictionary.take(b"}") or len(found) != 3 or None in found.values():
        return "a .npy header that cannot be read"
    dictionary.skip_space()
    if dictionary.at != len(header):
        return "a .npy header that cannot be read"
    return found[b"descr"], found[b"fortran_order"], found[b"shape"]


def _layout(path, file):
    """The layout of the field a .npy file holds: a float64 array in this machine's byte order,
    C-ordered, two-dimensional, at least 3 x 3, exactly as long as its shape needs."""
    start = file.read(12)
    length_bytes = NPY_LENGTH_BYTES.get(start[6]) if len(start) == 12 else None
    if not start.startswith(NPY_MAGIC) or start[7:8] != b"\0" or length_bytes is None:
        raise RunError(f"{quoted(path)} is not a NumPy .npy file")
    preamble = 8 + length_bytes
    length = preamble + int.from_bytes(start[8:preamble], "little")
    if length > LONGEST_HEADER:
        raise RunError(f"{quoted(path)} has a .npy header too long to be a field's")
    header = start + file.read(length - len(start))
    parsed = _parse_header(header, preamble) if len(header) == length else \
        "not a NumPy .npy file"
    if isinstance(parsed, str):
        raise RunError(f"{quoted(path)}: {parsed}")
    descr, fortran_order, shape = parsed
    if descr != NATIVE_DESCR:
        raise RunError(f"{quoted(path)}: holds '{shown(descr.decode('latin-1'))}' values, not "
                       f"float64 in this machine's byte order ('{NATIVE_DESCR.decode()}')")
    if len(shape) != 2:
        raise RunError(f"{quoted(path)}: holds an array of {plural(len(shape), 'dimension')}, "
                       "not a two-dimensional field")
    if fortran_order:
        raise RunError(f"{quoted(path)}: is stored in Fortran order, not C order")
    if max(shape) > INT_MAX:
        raise RunError(f"{quoted(path)} holds a {shape[0]} x {shape[1]} field, larger than "
                       "heat2d-study takes")
    if min(shape) < 3:
        raise RunError(f"{quoted(path)} holds a {shape[0]} x {shape[1]} field: a field has at "
                       "least 3 x 3 values (held first and last rows with a row between them, "
                       "insulated side columns with a column between them)")
    size, needed = os.fstat(file.fileno()).st_size, length + 8 * shape[0] * shape[1]
    if size != needed:
        raise RunError(f"{quoted(path)} is "
                       f"{'cut short' if size < needed else 'longer than its field'}: "
                       f"{size} bytes, where a {shape[0]} x {shape[1]} float64 field takes "
                       f"{needed}")
    return Layout(shape, length, header)


def _open(path):
    require_regular_file(path, "a saved field")
    try:
        return open(path, "rb")
    except OSError as error:
        raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None


def field_layout(path):
    """The grid of the field a .npy file holds and where its values begin, from its header, with
    the file's size checked."""
    with _open(path) as file:
        return _layout(path, file)


def field_shape(path):
    return field_layout(path).shape


def load_field(path, crc32=None):
    """A field saved by heat2d-study: a two-dimensional float64 array of finite values; with
    `crc32` (its record's), the file's bytes must have that CRC-32."""
    with _open(path) as file:
        layout = _layout(path, file)
        shape = layout.shape
        try:
            values = np.fromfile(file, dtype=np.float64, count=shape[0] * shape[1])
        except OSError as error:
            raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None
        except MemoryError:
            raise RunError(f"not enough memory to read {quoted(path)} ({path.stat().st_size} "
                           f"bytes)") \
                from None
    if values.size != shape[0] * shape[1]:
        raise RunError(f"{quoted(path)}: cut short while it was read")
    if crc32 is not None:
        actual = zlib.crc32(values, zlib.crc32(layout.header))
        if actual != crc32:
            raise RunError(f"{quoted(path)} is not the field its record "
                           f"{quoted(record_path(path).name)} "
                           f"describes: the file's CRC-32 is {actual}, the record's {crc32} (a "
                           "save cut short between the two renames, or another run's field or "
                           "record)")
    field = values.reshape(shape)
    not_finite = ~np.isfinite(field)
    if not_finite.any():
        i, j = np.argwhere(not_finite)[0]
        raise RunError(f"{quoted(path)}: {plural(int(not_finite.sum()), 'value')} not finite, "
                       f"the first {field[i, j]} at row {i}, column {j}")
    return field


def record_path(path):
    return path.with_name(path.name + ".json")


def stable(dt, rows, cols):
    """The scheme's stability condition, evaluated as heat2d-study evaluates it."""
    dx, dy = 1.0 / rows, 1.0 / cols
    return dt * (1.0 / (dx * dx) + 1.0 / (dy * dy)) <= 0.5


def _shown_value(value):
    return shown(json.dumps(value), 40)


def _whole(record, key, low, high):
    """What is wrong with record[key] as a whole number from `low` to `high`, or None."""
    value = record[key]
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return f"'{key}' is {_shown_value(value)}, not a number"
    if isinstance(value, float) and not value.is_integer():
        return f"'{key}' is {_shown_value(value)}, not a whole number"
    if not low <= value <= high:
        return f"'{key}' is {_shown_value(value)}, out of range ({low} to {high})"
    return None


def _strings(value):
    """Every string a parsed JSON value holds, keys included."""
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from _strings(item)
    elif isinstance(value, list):
        for item in value:
            yield from _strings(item)


def _refuse_constant(name):
    raise ValueError(f"{name} is not JSON")


def _finite_float(text):
    """A JSON number as a double; one beyond a double's range is refused, as heat2d-study does."""
    value = float(text)
    if math.isinf(value):
        raise ValueError("a number beyond a double's range")
    return value


def _parsed(raw):
    """The JSON value of a record's bytes: UTF-8 text (no byte-order mark, no lone surrogates),
    standard JSON only (no NaN or Infinity, no number beyond a double's range), or the text of a
    RunError."""
    try:
        value = json.loads(raw.decode("utf-8"), parse_constant=_refuse_constant,
                           parse_float=_finite_float)
        for text in _strings(value):
            text.encode("utf-8")
        return value, None
    except UnicodeError as error:
        return None, f"not JSON ({shown(str(error), 120)})"
    except (ValueError, RecursionError) as error:
        return None, f"not JSON ({shown(str(error), 120)})"


def _record_problem(record):
    """What makes `record` something other than the record of a saved field, or None."""
    if not isinstance(record, dict):
        return "not a JSON object"
    version = record.get("version")
    if record.get("format") != RECORD_FORMAT or isinstance(version, bool) or \
            not isinstance(version, (int, float)) or version not in RECORD_KEYS:
        return (f"not the record of a field saved by heat2d-study (format "
                f"{_shown_value(record.get('format'))}, version {_shown_value(version)})")
    keys = RECORD_KEYS[int(version)]
    unknown = [key for key in record if key not in keys]
    if unknown:
        return f"an unknown key '{shown(unknown[0])}'"
    missing = [key for key in keys if key not in record]
    if missing:
        return f"no '{missing[0]}'"
    for key, low, high in (("rows", 1, INT_MAX), ("cols", 1, INT_MAX), ("steps", 0, INT_MAX),
                           ("crc32", 0, 2**32 - 1)):
        wrong = _whole(record, key, low, high) if key in record else None
        if wrong:
            return wrong
    dt = record["dt"]
    if isinstance(dt, bool) or not isinstance(dt, (int, float)) or not math.isfinite(dt) or \
            not dt > 0:
        return f"'dt' is {_shown_value(dt)}, not a positive number"
    if not isinstance(record["initial"], str):
        return f"'initial' is {_shown_value(record['initial'])}, not a string"
    if not record["initial"]:
        return "'initial' is empty: no starting field"
    method = record.get("method", "explicit")
    if not isinstance(method, str) or method not in METHODS:
        return f"'method' is {_shown_value(method)}, not one of explicit, euler, cn or trbdf2"
    # The implicit methods take any time step; the explicit update saves no unstable run.
    if method == "explicit" and not stable(dt, record["rows"], record["cols"]):
        return (f"its dt = {dt!r} is unstable on its {int(record['rows'])} x "
                f"{int(record['cols'])} grid (the scheme needs dt*(1/dx^2 + 1/dy^2) <= 1/2), and "
                "heat2d-study saves no such run")
    return None


def read_record(path):
    """The record heat2d-study writes beside a field it saves: grid, steps done, dt, start and,
    from version 2, the CRC-32 of the field's file. Whole numbers come back as int."""
    where = record_path(path)
    if not os.path.lexists(where):
        raise RunError(f"{quoted(where)}: missing (heat2d-study writes it beside "
                       f"{quoted(path.name)})")
    require_regular_file(where, "a record")
    try:
        with open(where, "rb") as file:
            raw = file.read(LONGEST_RECORD + 1)
    except OSError as error:
        raise RunError(f"{quoted(where)}: cannot be read ({error.strerror})") from None
    if len(raw) > LONGEST_RECORD:
        raise RunError(f"{quoted(where)}: {os.stat(where).st_size} bytes, more than a record "
                       f"can be ({LONGEST_RECORD} at most)")
    record, wrong = _parsed(raw)
    wrong = wrong or _record_problem(record)
    if wrong:
        raise RunError(f"{quoted(where)}: {wrong}")
    for key in ("version", "rows", "cols", "steps", "crc32"):
        if key in record:
            record[key] = int(record[key])
    return record


def _named_step(path):
    """S of FILE.S.npy, or None for FILE.npy."""
    member = MEMBER.fullmatch(path.name)
    return int(member.group(2)) if member else None


# What the members of one series share, as said in a message about a member that does not.
SHARED = (lambda r: f"a {r['rows']} x {r['cols']} grid", lambda r: f"dt = {r['dt']!r}",
          lambda r: f"starting field {r['initial']}",
          lambda r: f"method {r.get('method', 'explicit')}")


class Series:
    """The fields one run saved as FILE.S.npy, ordered by S, and its final FILE.npy at the step its
    record gives. Every member's header and record are checked when the series is opened: its
    grid against the array, its steps against the S in its name, and grid, dt, starting field and
    method against the first member's. The values are read, and checked, when a field is asked for."""

    unit = "step"

    def __init__(self, name, folder, paths):
        self.name = name  # as a message names the whole series: DIR/FILE.*.npy
        self.folder = folder
        self.members = {}
        self.records = {}
        self._first = None
        # Read in the order of the steps in the names, FILE.npy last: the others are checked
        # against the first member, and FILE.npy, when its step is also a member's (the run ended
        # on a saving step), is that member's copy and is left out.
        for path in sorted(paths, key=lambda path: (_named_step(path) is None,
                                                    _named_step(path) or 0)):
            step, named = self._read(path)
            if named and step in self.members:
                raise RunError(f"{quoted(path)}: step {step} again, as in "
                               f"{quoted(self.members[step].name)}")
            self.members.setdefault(step, path)
            self.records.setdefault(step, self._record)
        self.keys = self.steps = sorted(self.members)
        self._find_holes(paths)
        unchecked = sum("crc32" not in record for record in self.records.values())
        if unchecked:
            print(f"heat2d-view: warning: {plural(unchecked, 'record')} of {name} "
                  f"{'is' if unchecked == 1 else 'are'} of version 1, which does not identify the "
                  "field beside it: read unchecked", file=sys.stderr)
        self.shape = (self._first["rows"], self._first["cols"])
        self.dt = self._first["dt"]
        self.initial = self._first["initial"]
        self.description = name

    def _find_holes(self, paths):
        """A record whose field is missing, at a step within the series: the field is gone, or a
        save was killed between renaming the record and the field into place."""
        prefixes = {member.group(1) if (member := MEMBER.fullmatch(path.name)) else
                    path.name[:-len(".npy")] for path in paths}
        for entry in sorted(os.listdir(self.folder)):
            member = MEMBER.fullmatch(entry[:-len(".json")]) if entry.endswith(".json") else None
            if member and member.group(1) in prefixes and \
                    self.steps[0] < int(member.group(2)) < self.steps[-1] and \
                    not os.path.lexists(self.folder / member.group()):
                raise RunError(f"{quoted(self.folder / member.group())}: missing, though its "
                               f"record {entry} is there: a hole in the series at step "
                               f"{int(member.group(2))} (a save killed between its two "
                               "renames, or a field removed)")

    def _read(self, path):
        """The steps one file holds and whether its name says so, checked."""
        shape = field_shape(path)
        record = self._record = read_record(path)
        where = record_path(path)
        if (record["rows"], record["cols"]) != shape:
            raise RunError(f"{quoted(where)}: a {record['rows']} x {record['cols']} grid, but "
                           f"{quoted(path.name)} holds {shape[0]} x {shape[1]} values")
        named = _named_step(path)
        if named is not None and named != record["steps"]:
            raise RunError(f"{quoted(where)}: {record['steps']} steps done, but the name "
                           f"{quoted(path.name)} "
                           f"says {named}")
        if self._first is None:
            self._first, self._first_path = record, where
        for shared in SHARED:
            if shared(record) != shared(self._first):
                raise RunError(f"{quoted(where)}: {shared(record)} where "
                               f"{quoted(self._first_path)} has "
                               f"{shared(self._first)}: not the fields of one run")
        return record["steps"], named is not None

    def field(self, step):
        return load_field(self.members[step], self.records[step].get("crc32"))

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
