"""A run folder as the solver leaves it: strips per rank and label, checked and put back into whole
fields one label at a time, so that memory does not grow with the length of the run. Each label is
read with the process count that wrote it: the folder's, or where heat2d-study's record lists runs
on different counts (a restart), that of the run that wrote the label."""
import pathlib
import re
import stat
import sys

import numpy as np

from .quoting import quoted

INITIAL_RANK = -100
INITIAL_NAME = f"rank{INITIAL_RANK}_0.000000"
NAME = re.compile(r"rank(-?\d+)_(\d+)\.000000")
# The solver writes every value as "%lf": an optional minus, digits, a point and six digits, each
# followed by a tab; a line ends with that tab and a newline. Nothing else is accepted.
LINE = re.compile(rb"(?:-?[0-9]+\.[0-9]{6}\t)+\n")
VALUE = re.compile(rb"-?[0-9]+\.[0-9]{6}")
# Longest first line read before the strip's width is known.
FIRST_LINE_LIMIT = 64 << 20
# The most bytes a value and its tab can take: "%lf" prints the largest double with 309 digits
# before the point. Where the run's initial field is known, its range bounds them more tightly.
WIDEST_VALUE = len(f"{-sys.float_info.max:f}") + 1


class RunError(Exception):
    """Input that is not a sound run folder; the message names the file and the problem."""


def require_regular_file(path, what="a snapshot file"):
    """Only regular files are read: a FIFO or a device named like a snapshot would never end."""
    try:
        mode = path.stat().st_mode
    except OSError as error:
        raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None
    if not stat.S_ISREG(mode):
        kind = "a folder" if stat.S_ISDIR(mode) else "a FIFO" if stat.S_ISFIFO(mode) else \
            "a device" if stat.S_ISCHR(mode) or stat.S_ISBLK(mode) else "not a regular file"
        raise RunError(f"{quoted(path)}: {kind}, not {what}")


def bad_line(path, number, line):
    """The message for a line that is not as the solver writes it, naming its first bad value."""
    fields = line.split(b"\t")
    for position, field in enumerate(fields[:-1], start=1):
        if not VALUE.fullmatch(field):
            text = field.decode("utf-8", "backslashreplace")
            return RunError(f"{quoted(path)}: line {number}, value {position}: {text!r} is not "
                            "a number as the solver writes it (digits, a point and six decimals)")
    return RunError(f"{quoted(path)}: line {number} does not end with a tab and a newline (cut "
                    "short, or CRLF line ends?)")


def slack(low, high):
    """How far the text's rounding to six decimals may put a value outside the range low to high."""
    return 1e-6 + 1e-12 * max(abs(low), abs(high))


def value_bytes(value_range):
    """The most bytes a value and its tab take in a run whose values lie within `value_range`
    (and its slack), or WIDEST_VALUE where the range is not known."""
    if value_range is None:
        return WIDEST_VALUE
    low, high = value_range
    margin = slack(low, high)
    return max(len(f"{low - margin:f}"), len(f"{high + margin:f}")) + 1


def parse_block(path, size_limit=None, value_range=None, widest=WIDEST_VALUE):
    """The block a snapshot file holds, as rows x columns (a file line is a grid column). Files
    larger than size_limit are refused before they are read, and lines longer than `widest` bytes
    a value; see check_values for value_range."""
    require_regular_file(path)
    size = path.stat().st_size
    if size_limit is not None and size > size_limit:
        raise RunError(f"{quoted(path)}: {size} bytes, more than a snapshot of this run can hold "
                       f"({size_limit} at most)")
    columns = []
    line_limit = FIRST_LINE_LIMIT
    try:
        with open(path, "rb") as file:
            while line := file.readline(line_limit + 1):
                number = len(columns) + 1
                if len(line) > line_limit:
                    raise RunError(f"{quoted(path)}: line {number} is longer than "
                                   f"{line_limit} bytes")
                if not LINE.fullmatch(line):
                    raise bad_line(path, number, line)
                values = np.array(line[:-2].split(b"\t"), dtype=np.float64)
                if columns and len(values) != len(columns[0]):
                    raise RunError(f"{quoted(path)}: line {number} has {len(values)} values, "
                                   f"line 1 has {len(columns[0])} (ragged)")
                columns.append(values)
                line_limit = widest * len(values) + 1
    except OSError as error:
        raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None
    if not columns:
        raise RunError(f"{quoted(path)}: empty")
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
        margin = slack(low, high)
        bad |= (block < low - margin) | (block > high + margin)
    if not bad.any():
        return
    line, position = np.argwhere(bad.T)[0]  # the first in file order
    value = block[position, line]
    where = f"{path}: line {line + 1}, value {position + 1}"
    if not np.isfinite(value):
        raise RunError(f"{quoted(where)}: too large for a double (reads as {value})")
    raise RunError(f"{quoted(where)}: {value:f} is outside {low:f} to {high:f}, the range of "
                   f"the initial field ({INITIAL_NAME}), which the scheme never leaves")


def strip_rows(nx, rank, process_count):
    """Rows of each strip: nx // N each, the last process also taking the remainder."""
    per_process = nx // process_count
    return nx - per_process * rank if rank == process_count - 1 else per_process


def plural(count, word):
    return f"{count} {word}" if count == 1 else f"{count} {word}es" if word.endswith("s") else \
        f"{count} {word}s"


def first_line_width(path):
    """The values on a snapshot file's first line, its strip's rows; None where it has none."""
    try:
        with open(path, "rb") as file:
            line = file.readline(FIRST_LINE_LIMIT + 1)
    except OSError:
        return None
    return line.count(b"\t") if LINE.fullmatch(line) else None


class RunFolder:
    """A run's labels, the process count of each, and its grid, checked up front from the first
    label and the sizes of all files; every other label is read and checked when asked for.
    `record` is heat2d-study's record of the folder (see run_record), or None."""

    def __init__(self, folder, record=None):
        self.folder = pathlib.Path(folder)
        if not self.folder.is_dir():
            raise RunError(f"{quoted(self.folder)}: no such folder")
        self.record = record
        files = {}
        for path in self.folder.iterdir():
            match = NAME.fullmatch(path.name)
            if match:
                files[int(match.group(1)), int(match.group(2))] = path
        ranks = {}
        for rank, label in files:
            if rank != INITIAL_RANK:
                ranks.setdefault(label, set()).add(rank)
        if not ranks:
            raise RunError(f"{quoted(self.folder)}: no snapshot files (rank<R>_<step>.000000)")
        for path in files.values():
            require_regular_file(path)
        self.labels = sorted(ranks)
        self.initial = files.get((INITIAL_RANK, 0))
        self._initial = None
        self._range = None

        # The record gives the grid, which says which of its runs wrote a label; without one, the
        # first label's files give it.
        self.shape = None if record is None else (record.rows, record.cols)
        self.counts = self._counts(ranks)
        self.left_out = sorted(self.path(rank, label) for label in self.labels
                               for rank in ranks[label] if rank >= self.counts[label])
        first = self.labels[0]
        blocks = [parse_block(self.path(rank, first)) for rank in range(self.counts[first])]
        shape = (sum(block.shape[0] for block in blocks), blocks[0].shape[1])
        if record is not None and shape != self.shape:
            raise RunError(f"{quoted(record.path)}: a {record.rows} x {record.cols} grid, but "
                           f"the snapshot files of label {first} hold {shape[0]} x {shape[1]}")
        self.shape = self.shape or shape
        self._check_blocks(blocks, first)
        self._first = np.vstack(blocks)
        self._check_first_label(self._first)
        self._widest = value_bytes(self._range)
        for label in self.labels:
            for rank in range(self.counts[label]):
                path = self.path(rank, label)
                rows, limit = self._strip(label, rank)
                if path.stat().st_size > limit:
                    raise RunError(f"{quoted(path)}: {path.stat().st_size} bytes, more than a "
                                   f"strip of {rows} x {self.shape[1]} values can hold ({limit} "
                                   "at most)")
        for rank, block in enumerate(blocks):
            check_values(self.path(rank, first), block, self._range)

    def path(self, rank, label):
        return self.folder / f"rank{rank}_{label}.000000"

    def _counts(self, ranks):
        """The process count of every label; every rank below it must be there."""
        if self.record is None:
            every = sorted(set().union(*ranks.values()))
            counts = dict.fromkeys(self.labels, len(every))
        else:
            counts = {label: self._recorded_count(label, ranks[label]) for label in self.labels}
        for label in self.labels:
            for rank in range(counts[label]):
                if rank not in ranks[label]:
                    where = f"the run has ranks {every[0]} to {every[-1]}" if self.record is None \
                        else (f"label {label} was written on {counts[label]} process rows, ranks "
                              f"0 to {counts[label] - 1}")
                    raise RunError(f"{quoted(self.path(rank, label))}: missing ({quoted(where)})")
        return counts

    def _recorded_count(self, label, label_ranks):
        """The count of the latest recorded run that wrote `label`; where runs on several counts
        did, of the latest whose strips the files have (a restart on another count that was killed
        rewrote only the labels it reached)."""
        counts = self.record.counts(label)
        if not counts:
            runs = "; ".join(map(str, self.record.runs))
            raise RunError(f"{quoted(self.path(min(label_ranks), label))}: label {label} is "
                           f"written by none of the runs {quoted(self.record.path)} lists "
                           f"({runs}): left by another run?")
        for count in counts if len(counts) > 1 else []:
            if all(rank in label_ranks and first_line_width(self.path(rank, label)) ==
                   strip_rows(self.shape[0], rank, count) for rank in range(count)):
                return count
        return counts[0]

    def _strip(self, label, rank):
        """The rows of a strip and the most bytes its file can take."""
        rows = strip_rows(self.shape[0], rank, self.counts[label])
        return rows, self.shape[1] * (self._widest * rows + 1)

    def _check_blocks(self, blocks, label):
        nx, ny = self.shape
        count = self.counts[label]
        for rank, block in enumerate(blocks):
            if block.shape[1] != ny:
                raise RunError(f"{quoted(self.path(rank, label))}: {block.shape[1]} lines where "
                               f"the run's other files have {ny}: two runs appended to it?")
            expected = strip_rows(nx, rank, count)
            if block.shape[0] != expected:
                raise RunError(
                    f"{self.path(rank, label)}: a strip of {block.shape[0]} rows where "
                    f"{plural(count, 'process')} on {nx} rows give {expected}: "
                    "files from runs with different process counts mixed?")

    def field(self, label):
        """The whole grid at `label`: strips stacked in rank order, checked against the rule."""
        if label == self.labels[0]:
            return self._first
        blocks = [parse_block(self.path(rank, label), self._strip(label, rank)[1], self._range,
                              self._widest)
                  for rank in range(self.counts[label])]
        self._check_blocks(blocks, label)
        return np.vstack(blocks)

    def fields(self, labels=None):
        for label in self.labels if labels is None else labels:
            yield label, self.field(label)

    def initial_field(self):
        """The initial field: the first of the copies in rank-100_0.000000, or None."""
        return self._initial

    def processes(self):
        """The process counts that wrote the labels: "4 processes", or after a restart on another
        count "4 processes (labels 0 to 290), 2 processes (labels 300 to 990)"."""
        spans = []
        for label in self.labels:
            if not spans or spans[-1][0] != self.counts[label]:
                spans.append([self.counts[label], label, label])
            spans[-1][2] = label
        if len(spans) == 1:
            return plural(spans[0][0], "process")
        return ", ".join(f"{plural(count, 'process')} (labels {first} to {last})"
                         for count, first, last in spans)

    def _check_first_label(self, first):
        # At the first label the insulated edge columns lag the inner ones, so a genuine file's
        # two halves differ; equal halves mean a second run appended its copy.
        ny = first.shape[1]
        if ny % 2 == 0 and ny >= 4 and np.array_equal(first[:, : ny // 2], first[:, ny // 2:]):
            raise RunError(f"{quoted(self.path(0, self.labels[0]))}: holds the same block "
                           "twice: a second run appended to this folder")
        if self.initial is not None:
            # One copy per strip of the run that started the folder.
            expected = self.counts[self.labels[0]] if self.record is None else \
                self.record.first_count()
            nx = first.shape[0]
            most = expected or max(self.counts.values())
            copies = parse_block(self.initial, 2 * most * ny * (WIDEST_VALUE * nx + 1))
            if copies.shape[0] != nx or copies.shape[1] % ny != 0:
                raise RunError(f"{quoted(self.initial)}: does not hold whole {nx} x {ny} "
                               f"initial fields")
            count = copies.shape[1] // ny
            if expected is not None and count != expected:
                raise RunError(f"{quoted(self.initial)}: holds {count} copies of the initial "
                               f"field, a run of {plural(expected, 'process')} writes "
                               f"{expected}: two runs in one folder?")
            self._initial = copies[:, :ny]
            self._range = (self._initial.min(), self._initial.max())
