"""What the commands read, named on the command line: a run folder's snapshot files, or a series of
fields saved by heat2d-study, given as a folder, a pattern or the files a shell expanded it into."""
import itertools
import os
import pathlib
import re

from . import problem
from .quoting import quoted
from .run_folder import INITIAL_NAME, NAME, RunError, RunFolder, plural
from .run_record import read_snapshot_record
from .saved import MEMBER, Series

TEXT_PATTERN = "rank*.000000"
SERIES_PATTERN = re.compile(r"(.+)\.\*\.npy")
GLOB_CHARACTERS = re.compile(r"[*?\[]")


class TextRun(RunFolder):
    """A run folder's snapshot files, keyed by label; the file labelled L holds the field after
    L + 1 steps of `dt`: the record's (heat2d-study's runs), the one given, or heat2d's."""

    unit = "label"

    def __init__(self, folder, dt=None):
        folder = pathlib.Path(folder)
        record = read_snapshot_record(folder) if folder.is_dir() else None
        super().__init__(folder, record)
        if record is not None and dt is not None and dt != record.dt:
            raise RunError(f"{quoted(folder)}: --dt {dt!r} where {quoted(record.path)} gives "
                           f"the run's, dt = {record.dt!r}")
        self.dt = record.dt if record is not None else problem.DT if dt is None else dt
        # Times are guessed only for a run without a record that is not heat2d's own.
        self.assumed_dt = record is None and dt is None and not (
            self.shape == problem.GRID and set(self.labels) <= set(problem.LABELS))
        self.name = str(self.folder)
        self.keys = self.labels
        self.steps = [label + 1 for label in self.labels]
        self.description = self.processes()

    def as_text(self, step):
        return self.field(step - 1)

    def time(self, label):
        return problem.time_after(label, self.dt)

    def title(self, label):
        return f"label {label}: t = {self.time(label)} (after {problem.steps(label + 1)})"

    def colour_scale(self):
        return 0.0, 100.0  # the held edges' temperatures, which bound heat2d's field

    def picture_name(self, label):
        return f"field_{label}.png"

    def vti_name(self, label):
        return f"field_{label}.vti"

    def summary(self):
        left_out = f"; left out: {plural(len(self.left_out), 'file')} of an earlier run at " \
            f"labels a restart wrote again, {self.left_out[0].name} to {self.left_out[-1].name}" \
            if self.left_out else ""
        return (f"{plural(len(self.labels), 'label')} of a {self.shape[0]} x {self.shape[1]} grid "
                f"from {self.processes()}{left_out}")


def _series_of_prefix(folder, prefix):
    """Every FILE.S.npy beside `prefix` (FILE), and FILE.npy itself when it is there."""
    if not folder.is_dir():
        raise RunError(f"{quoted(folder)}: no such folder")
    name = f"{folder / prefix}.*.npy"
    paths = [folder / entry for entry in os.listdir(folder)
             if (member := MEMBER.fullmatch(entry)) and member.group(1) == prefix]
    if not paths:
        raise RunError(f"{quoted(name)}: no such files (FILE.S.npy, S the steps done)")
    final = folder / f"{prefix}.npy"
    if os.path.lexists(final):
        paths.append(final)
    return Series(name, folder, paths)


def _open_folder(folder, dt):
    """The one run a folder holds: its snapshot files or a series; more than one is refused, naming
    the choices."""
    names = os.listdir(folder)
    prefixes = sorted({member.group(1) for entry in names if (member := MEMBER.fullmatch(entry))})
    text = any(NAME.fullmatch(entry) and entry != INITIAL_NAME for entry in names)
    if not prefixes and not text:
        raise RunError(f"{quoted(folder)}: no snapshot files (rank<R>_<step>.000000) and no "
                       "series of saved fields (FILE.S.npy)")
    if not prefixes:
        return TextRun(folder, dt)
    choices = [f"'{folder / prefix}.*.npy'" for prefix in prefixes]
    choices += [f"'{folder / TEXT_PATTERN}'"] if text else []
    if len(choices) > 1:
        raise RunError(f"{quoted(folder)}: holds {len(choices)} runs, give one: "
                       f"{', '.join(choices[:-1])} or {choices[-1]}")
    return _series_of_prefix(folder, prefixes[0])


def _open_pattern(path, dt):
    """FILE.*.npy, a series, or DIR/rank*.000000, a folder's snapshot files."""
    series = SERIES_PATTERN.fullmatch(path.name)
    if path.name == TEXT_PATTERN and not GLOB_CHARACTERS.search(str(path.parent)):
        return TextRun(path.parent, dt)
    if series and not GLOB_CHARACTERS.search(str(path.parent / series.group(1))):
        return _series_of_prefix(path.parent, series.group(1))
    raise RunError(f"{quoted(path)}: heat2d-view expands FILE.*.npy (a series of saved fields) and "
                   f"DIR/{TEXT_PATTERN} (a run's snapshot files), no other pattern")


def _kind(index, path):
    """Which run an argument belongs to: the files of one series, or of one folder's snapshots,
    go together; a folder or a pattern stands alone."""
    if GLOB_CHARACTERS.search(path.name) or path.is_dir():
        return "alone", index
    if NAME.fullmatch(path.name):
        return "text", path.parent
    if path.suffix == ".npy":
        member = MEMBER.fullmatch(path.name)
        return "series", path.parent, member.group(1) if member else path.name[:-len(".npy")]
    return "alone", index


def _group_name(kind, paths):
    return str(kind[1]) if kind[0] == "text" else \
        f"{kind[1] / kind[2]}.*.npy" if kind[0] == "series" else str(paths[0])


def _open_group(kind, paths, dt):
    if kind[0] == "text":
        return TextRun(kind[1], dt)
    if kind[0] == "series":
        return Series(_group_name(kind, paths), kind[1], paths)
    path = paths[0]
    return _open_pattern(path, dt) if GLOB_CHARACTERS.search(path.name) else \
        _open_folder(path, dt) if path.is_dir() else TextRun(path, dt)


def open_runs(arguments, count, dt=None):
    """The `count` runs the arguments name, in order. A shell's expansion of FILE.*.npy gives the
    files of one series, and of DIR/rank*.000000 that folder's snapshot files: consecutive
    arguments of one run are taken together. A series' dt is its records'; `dt` is only for
    snapshot files."""
    paths = [pathlib.Path(argument) for argument in arguments]
    groups = [(kind, [path for _, path in group])
              for kind, group in itertools.groupby(enumerate(paths), key=lambda item: _kind(*item))]
    if len(groups) != count:
        raise RunError(f"{', '.join(_group_name(*group) for group in groups)}: "
                       f"{plural(len(groups), 'run')} given, where this command reads {count}")
    runs = [_open_group(kind, group, dt) for kind, group in groups]
    for run in runs:
        if dt is not None and run.unit == "step":
            raise RunError(f"{quoted(run.name)}: --dt is for snapshot files; a series' records "
                           f"give its time step (here {run.dt!r})")
    return runs
