"""A run folder as the solver leaves it: strips per rank and label, put back into whole fields."""
import pathlib
import re

import numpy as np

INITIAL_RANK = -100
NAME = re.compile(r"rank(-?\d+)_(\d+)\.000000")


class RunError(Exception):
    """Input that is not a sound run folder; the message names the file and the problem."""


def parse_block(path):
    """The block a snapshot file holds, as rows x columns (a file line is a grid column)."""
    try:
        text = path.read_text()
    except (OSError, UnicodeDecodeError) as error:
        raise RunError(f"{path}: cannot be read ({error})") from None
    if not text.endswith("\n"):
        raise RunError(f"{path}: empty or cut short (no line end at the end)")
    columns = []
    for number, line in enumerate(text[:-1].split("\n"), start=1):
        fields = line.split("\t")
        if fields[-1] != "" or len(fields) < 2:
            raise RunError(f"{path}: line {number} does not end with a tab")
        try:
            columns.append([float(field) for field in fields[:-1]])
        except ValueError as error:
            raise RunError(f"{path}: line {number}: {error}") from None
        if len(columns[-1]) != len(columns[0]):
            raise RunError(f"{path}: line {number} has {len(columns[-1])} values, "
                           f"line 1 has {len(columns[0])} (ragged)")
    return np.array(columns).T


def strip_rows(nx, rank, process_count):
    """Rows of each strip: nx // N each, the last process also taking the remainder."""
    per_process = nx // process_count
    return nx - per_process * rank if rank == process_count - 1 else per_process


class RunFolder:
    """A run's ranks, labels and whole fields, every file read and checked up front so that bad
    input is reported before any output is written."""

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        if not self.folder.is_dir():
            raise RunError(f"{self.folder}: no such folder")
        files = {}
        for path in self.folder.iterdir():
            match = NAME.fullmatch(path.name)
            if match:
                files[int(match.group(1)), int(match.group(2))] = path
        strips = {key: path for key, path in files.items() if key[0] != INITIAL_RANK}
        if not strips:
            raise RunError(f"{self.folder}: no snapshot files (rank<R>_<step>.000000)")
        self.ranks = sorted({rank for rank, _ in strips})
        self.labels = sorted({label for _, label in strips})
        self.process_count = len(self.ranks)
        for rank in range(self.process_count):
            for label in self.labels:
                if (rank, label) not in strips:
                    raise RunError(f"{self.path(rank, label)}: missing "
                                   f"(the run has ranks {self.ranks[0]} to {self.ranks[-1]})")
        self.initial = files.get((INITIAL_RANK, 0))
        self.shape = None
        self._fields = {}
        for label in self.labels:
            self._fields[label] = self._read(label)
            if self.shape is None:
                self.shape = self._fields[label].shape
                self._check_first_label(self._fields[label])

    def path(self, rank, label):
        return self.folder / f"rank{rank}_{label}.000000"

    def field(self, label):
        return self._fields[label]

    def _read(self, label):
        """The whole grid at `label`: strips stacked in rank order, checked against the rule."""
        blocks = [parse_block(self.path(rank, label)) for rank in range(self.process_count)]
        # A file with more lines than its neighbours has had a second copy appended.
        ny = self.shape[1] if self.shape is not None else min(b.shape[1] for b in blocks)
        for rank, block in enumerate(blocks):
            if block.shape[1] != ny:
                raise RunError(f"{self.path(rank, label)}: {block.shape[1]} lines where the run's "
                               f"other files have {ny}: two runs appended to it?")
        nx = sum(block.shape[0] for block in blocks)
        for rank, block in enumerate(blocks):
            expected = strip_rows(nx, rank, self.process_count)
            if block.shape[0] != expected:
                raise RunError(
                    f"{self.path(rank, label)}: a strip of {block.shape[0]} rows where "
                    f"{self.process_count} processes on {nx} rows give {expected}: files from "
                    "runs with different process counts mixed?")
        field = np.vstack(blocks)
        if self.shape is not None and field.shape != self.shape:
            raise RunError(f"{self.path(0, label)}: grid {field.shape[0]} x {field.shape[1]}, "
                           f"label {self.labels[0]} has {self.shape[0]} x {self.shape[1]}")
        return field

    def fields(self, labels=None):
        for label in self.labels if labels is None else labels:
            yield label, self._fields[label]

    def _check_first_label(self, first):
        # At the first label the insulated edge columns lag the inner ones, so a genuine file's
        # two halves differ; equal halves mean a second run appended its copy.
        ny = first.shape[1]
        if ny % 2 == 0 and ny >= 4 and np.array_equal(first[:, : ny // 2], first[:, ny // 2:]):
            raise RunError(f"{self.path(0, self.labels[0])}: holds the same block twice: a second "
                           "run appended to this folder")
        if self.initial is not None:
            copies = parse_block(self.initial)
            if copies.shape[0] != first.shape[0] or copies.shape[1] % first.shape[1] != 0:
                raise RunError(f"{self.initial}: does not hold whole {first.shape[0]} x "
                               f"{first.shape[1]} initial fields")
            count = copies.shape[1] // first.shape[1]
            if count != self.process_count:
                raise RunError(f"{self.initial}: holds {count} copies of the initial field, a "
                               f"run of {self.process_count} processes writes "
                               f"{self.process_count}: two runs in one folder?")
