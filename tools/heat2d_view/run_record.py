"""The record heat2d-study leaves beside its snapshot files, snapshots.json: the grid, dt and
starting field, and the steps and process rows of every run that wrote into the folder (the first
one and each restart), so that every label is read with the strips of the run that wrote it."""
import dataclasses
import json
import math
import os

from .quoting import quoted
from .run_folder import RunError, require_regular_file

NAME = "snapshots.json"
FORMAT = "heat2d-study snapshots"
VERSION = 1
SIZE_LIMIT = 1 << 20  # some ten thousand restarts
PROBLEM = {"rows": int, "cols": int, "dt": (int, float), "initial": str, "runs": list}
RUN_KEYS = ("first_step", "steps", "every", "process_rows")


@dataclasses.dataclass(frozen=True)
class Segment:
    """One run: it wrote the labels from first_step to steps - 1 that are multiples of every, with
    process_rows strips (the processes of a strip run, the process rows of a block run)."""
    first_step: int
    steps: int
    every: int
    process_rows: int

    def writes(self, label):
        return self.first_step <= label < self.steps and label % self.every == 0

    def __str__(self):
        return f"steps {self.first_step} to {self.steps} on {self.process_rows} process rows"


@dataclasses.dataclass(frozen=True)
class SnapshotRecord:
    path: object
    rows: int
    cols: int
    dt: float
    initial: str
    runs: tuple

    def counts(self, label):
        """The process-row counts of the runs that may have written `label`, the latest first: a
        restart rewrites the labels it reaches, and those of a killed one it did not reach remain
        the earlier run's."""
        counts = []
        for run in reversed(self.runs):
            if run.writes(label) and run.process_rows not in counts:
                counts.append(run.process_rows)
        return counts

    def first_count(self):
        """The process rows of the run that started from step 0 and wrote the initial field's
        copies, or None when the record does not go back that far."""
        return self.runs[0].process_rows if self.runs[0].first_step == 0 else None


def _whole(value, low):
    return isinstance(value, int) and not isinstance(value, bool) and value >= low


def _problem(record):
    """What makes `record` something other than a record of snapshot files, or None."""
    if not isinstance(record, dict):
        return "not a JSON object"
    if record.get("format") != FORMAT or record.get("version") != VERSION:
        return (f"format {record.get('format')!r} version {record.get('version')!r}, where "
                f"{FORMAT!r} version {VERSION} is read")
    for key, kind in PROBLEM.items():
        if key not in record:
            return f"no {key!r}"
        if not isinstance(record[key], kind) or isinstance(record[key], bool):
            return f"{key!r} is {record[key]!r}"
    if not (_whole(record["rows"], 1) and _whole(record["cols"], 1)):
        return f"a {record['rows']} x {record['cols']} grid"
    if not (math.isfinite(record["dt"]) and record["dt"] > 0):
        return f"dt {record['dt']!r}"
    if not record["runs"]:
        return "no runs"
    for number, run in enumerate(record["runs"], start=1):
        if not (isinstance(run, dict) and all(key in run for key in RUN_KEYS)
                and all(_whole(run[key], 0) for key in RUN_KEYS)
                and run["steps"] > run["first_step"] and run["every"] >= 1
                and run["process_rows"] >= 1):
            return f"run {number} is {run!r}"
    return None


def read_snapshot_record(folder):
    """The record in `folder`, or None where there is none (heat2d's runs, older ones)."""
    path = folder / NAME
    if not os.path.lexists(path):
        return None
    require_regular_file(path, "a record")
    size = path.stat().st_size
    if size > SIZE_LIMIT:
        raise RunError(f"{quoted(path)}: {size} bytes, more than a record of snapshot files takes "
                       f"({SIZE_LIMIT} at most)")
    try:
        record = json.loads(path.read_bytes())
    except OSError as error:
        raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None
    except (ValueError, RecursionError) as error:
        raise RunError(f"{quoted(path)}: not JSON ({error})") from None
    wrong = _problem(record)
    if wrong:
        raise RunError(f"{quoted(path)}: not a record of heat2d-study's snapshot files ({wrong})")
    runs = tuple(Segment(*(run[key] for key in RUN_KEYS)) for run in record["runs"])
    return SnapshotRecord(path, record["rows"], record["cols"], float(record["dt"]),
                          record["initial"], runs)
