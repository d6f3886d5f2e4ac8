"""A run folder as the solver leaves it: strips per rank and label, checked and put back into whole
fields one label at a time, so that memory does not grow with the length of the run."""
import pathlib
import re
import stat

import numpy as np

INITIAL_RANK = -100
INITIAL_NAME = f"rank{INITIAL_RANK}_0.000000"
NAME = re.compile(r"rank(-?\d+)_(\d+)\.000000")
# The solver writes every value as "%lf": an optional minus, digits, a point and six digits, each
# followed by a tab; a line ends with that tab and a newline. Nothing else is accepted.
LINE = re.compile(rb"(?:-?[0-9]+\.[0-9]{6}\t)+\n")
VALUE = re.compile(rb"-?[0-9]+\.[0-9]{6}")
# Longest first line read before the strip's width is known; after it, a line may hold at most
# 12 bytes per value ("-100.000000" and a tab) and its newline.
FIRST_LINE_LIMIT = 64 << 20
VALUE_BYTES = 12


class RunError(Exception):
    """Input that is not a sound run folder; the message names the file and the problem."""


def require_regular_file(path, what="a snapshot file"):
    """Only regular files are read: a FIFO or a device named like a snapshot would never end."""
    try:
        mode = path.stat().st_mode
    except OSError as error:
        raise RunError(f"{path}: cannot be read ({error.strerror})") from None
    if not stat.S_ISREG(mode):
        kind = "a folder" if stat.S_ISDIR(mode) else "a FIFO" if stat.S_ISFIFO(mode) else \
            "a device" if stat.S_ISCHR(mode) or stat.S_ISBLK(mode) else "not a regular file"
        raise RunError(f"{path}: {kind}, not {what}")


def bad_line(path, number, line):
    """The message for a line that is not as the solver writes it, naming its first bad value."""
    fields = line.split(b"\t")
    for position, field in enumerate(fields[:-1], start=1):
        if not VALUE.fullmatch(field):
            text = field.decode("utf-8", "backslashreplace")
            return RunError(f"{path}: line {number}, value {position}: {text!r} is not a number "
                            "as the solver writes it (digits, a point and six decimals)")
    return RunError(f"{path}: line {number} does not end with a tab and a newline (cut short, "
                    "or CRLF line ends?)")


def parse_block(path, size_limit=None, value_range=None):
    """The block a snapshot file holds, as rows x columns (a file line is a grid column). Files
    larger than size_limit are refused before they are read; see check_values for value_range."""
    require_regular_file(path)
    size = path.stat().st_size
    if size_limit is not None and size > size_limit:
        raise RunError(f"{path}: {size} bytes, more than a snapshot of this run can hold "
                       f"({size_limit} at most)")
    columns = []
    line_limit = FIRST_LINE_LIMIT
    try:
        with open(path, "rb") as file:
            while line := file.readline(line_limit + 1):
                number = len(columns) + 1
                if len(line) > line_limit:
                    raise RunError(f"{path}: line {number} is longer than {line_limit} bytes")
                if not LINE.fullmatch(line):
                    raise bad_line(path, number, line)
                values = np.array(line[:-2].split(b"\t"), dtype=np.float64)
                if columns and len(values) != len(columns[0]):
                    raise RunError(f"{path}: line {number} has {len(values)} values, line 1 has "
                                   f"{len(columns[0])} (ragged)")
                columns.append(values)
                line_limit = VALUE_BYTES * len(values) + 1
    except OSError as error:
        raise RunError(f"{path}: cannot be read ({error.strerror})") from None
    if not columns:
        raise RunError(f"{path}: empty")
    block = np.array(columns).T
    check_values(path, block, value_range)
    return block


def check_values(path, block, value_range=None):
    """Every value must be finite (the text form has no limit on its digits) and, when the run's
    initial field is known, within `value_range`, its lowest and highest value: at a stable time
    step each new value of the explicit scheme is a convex combination of old ones, and the held
    rows and insulated columns copy values, so no value ever leaves that range. The text's
    rounding to six decimals is allowed for."""
    bad = ~np.isfinite(block)
    if value_range is not None:
        low, high = value_range
        slack = 1e-6 + 1e-12 * max(abs(low), abs(high))
        bad |= (block < low - slack) | (block > high + slack)
    if not bad.any():
        return
    line, position = np.argwhere(bad.T)[0]  # the first in file order
    value = block[position, line]
    where = f"{path}: line {line + 1}, value {position + 1}"
    if not np.isfinite(value):
        raise RunError(f"{where}: too large for a double (reads as {value})")
    raise RunError(f"{where}: {value:f} is outside {low:f} to {high:f}, the range of the initial "
                   f"field ({INITIAL_NAME}), which the scheme never leaves")


def strip_rows(nx, rank, process_count):
    """Rows of each strip: nx // N each, the last process also taking the remainder."""
    per_process = nx // process_count
    return nx - per_process * rank if rank == process_count - 1 else per_process


def plural(count, word):
    return f"{count} {word}" if count == 1 else f"{count} {word}es" if word.endswith("s") else \
        f"{count} {word}s"


class RunFolder:
    """A run's ranks, labels and grid, checked up front from the first label and the sizes of all
    files; every other label is read and checked when asked for."""

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        if not self.folder.is_dir():
            raise RunError(f"{self.folder}: no such folder")
        files = {}
        for path in self.folder.iterdir():
            match = NAME.fullmatch(path.name)
            if match:
                files[int(match.group(1)), int(match.group(2))] = path
        strips = {key for key in files if key[0] != INITIAL_RANK}
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
        for path in files.values():
            require_regular_file(path)
        self.initial = files.get((INITIAL_RANK, 0))
        self._initial = None
        self._range = None

        blocks = [parse_block(self.path(rank, self.labels[0])) for rank in self.ranks]
        self.shape = (sum(block.shape[0] for block in blocks), blocks[0].shape[1])
        self._check_blocks(blocks, self.labels[0])
        self._size_limits = [self.shape[1] * (VALUE_BYTES * block.shape[0] + 1) for block in blocks]
        for rank in self.ranks:
            for label in self.labels:
                path = self.path(rank, label)
                if path.stat().st_size > self._size_limits[rank]:
                    raise RunError(f"{path}: {path.stat().st_size} bytes, more than a strip of "
                                   f"{blocks[rank].shape[0]} x {self.shape[1]} values can hold "
                                   f"({self._size_limits[rank]} at most)")
        self._first = np.vstack(blocks)
        self._check_first_label(self._first)
        for rank, block in zip(self.ranks, blocks):
            check_values(self.path(rank, self.labels[0]), block, self._range)

    def path(self, rank, label):
        return self.folder / f"rank{rank}_{label}.000000"

    def _check_blocks(self, blocks, label):
        nx, ny = self.shape
        for rank, block in enumerate(blocks):
            if block.shape[1] != ny:
                raise RunError(f"{self.path(rank, label)}: {block.shape[1]} lines where the run's "
                               f"other files have {ny}: two runs appended to it?")
            expected = strip_rows(nx, rank, self.process_count)
            if block.shape[0] != expected:
                raise RunError(
                    f"{self.path(rank, label)}: a strip of {block.shape[0]} rows where "
                    f"{plural(self.process_count, 'process')} on {nx} rows give {expected}: "
                    "files from runs with different process counts mixed?")

    def field(self, label):
        """The whole grid at `label`: strips stacked in rank order, checked against the rule."""
        if label == self.labels[0]:
            return self._first
        blocks = [parse_block(self.path(rank, label), self._size_limits[rank], self._range)
                  for rank in self.ranks]
        self._check_blocks(blocks, label)
        return np.vstack(blocks)

    def fields(self, labels=None):
        for label in self.labels if labels is None else labels:
            yield label, self.field(label)

    def initial_field(self):
        """The initial field: the first of the copies in rank-100_0.000000, or None."""
        return self._initial

    def _check_first_label(self, first):
        # At the first label the insulated edge columns lag the inner ones, so a genuine file's
        # two halves differ; equal halves mean a second run appended its copy.
        ny = first.shape[1]
        if ny % 2 == 0 and ny >= 4 and np.array_equal(first[:, : ny // 2], first[:, ny // 2:]):
            raise RunError(f"{self.path(0, self.labels[0])}: holds the same block twice: a second "
                           "run appended to this folder")
        if self.initial is not None:
            nx = first.shape[0]
            copies = parse_block(self.initial, 2 * self.process_count * ny * (VALUE_BYTES * nx + 1))
            if copies.shape[0] != nx or copies.shape[1] % ny != 0:
                raise RunError(f"{self.initial}: does not hold whole {nx} x {ny} initial fields")
            count = copies.shape[1] // ny
            if count != self.process_count:
                raise RunError(f"{self.initial}: holds {count} copies of the initial field, a "
                               f"run of {plural(self.process_count, 'process')} writes "
                               f"{self.process_count}: two runs in one folder?")
            self._initial = copies[:, :ny]
            self._range = (self._initial.min(), self._initial.max())
