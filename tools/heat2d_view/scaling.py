"""A scaling study from heat2d-study's --json lines: the runs grouped into strong and weak series,
their speed-up and efficiency, and the model t = c·cells/threads·crowding + α·messages + β·bytes of
the busiest process's time per step (crowding: threads per core on the most crowded host, where
above 1), fitted from the runs themselves or given."""
import dataclasses
import json
import math
import statistics
from fractions import Fraction

import numpy as np

from .quoting import quoted
from .run_folder import RunError, plural

# What a run must give, with its type; other keys are left alone.
REQUIRED = {"rows": int, "cols": int, "processes": int, "procs": list, "split": str,
            "exchange": str, "first_step": int, "steps": int, "dt": (int, float),
            "seconds_per_step": (int, float), "bytes_per_step": (int, float)}
# Keys that older runs lack (threads and steps per pass were 1, and the host's load unknown): type,
# default and least value.
OPTIONAL = {"threads": (int, 1, 1), "fuse": (int, 1, 1), "fields_saved": (int, 0, 0),
            "host_load": ((int, float), 0, 0)}
# A run's configuration: every option but the grid and the processes. Runs that differ in one of
# these are never in one series. The stores a run used are its outcome (a block that fits the
# cache at a larger P), not a choice, and are left out.
CONFIGURATION = ("split", "exchange", "threads", "fuse", "dt", "steps_run", "fields_saved")
CONSTANTS = ("c", "alpha", "beta")


@dataclasses.dataclass(frozen=True)
class Run:
    rows: int
    cols: int
    processes: int
    procs: tuple
    configuration: tuple
    seconds_per_step: float
    predictors: tuple  # cells of the busiest block per thread, messages and bytes per step


def busiest_cells(rows, cols, procs):
    """The busiest block is the last: NX // PX rows each, the remainder on the last process row,
    and columns the same way."""
    px, py = procs
    return (rows - (px - 1) * (rows // px)) * (cols - (py - 1) * (cols // py))


def messages_per_step(procs):
    """For a run that does not say: what an inner process sends each step, one message to each
    neighbour (a process row of two has one neighbour, of more an inner one has two)."""
    return sum(min(count - 1, 2) for count in procs)


def _check(record):
    """What makes `record` something other than a run of heat2d-study --json, or None."""
    if not isinstance(record, dict):
        return "not a JSON object"
    for key, kind in REQUIRED.items():
        if key not in record:
            return f"no {key!r}"
        if not isinstance(record[key], kind) or isinstance(record[key], bool):
            return f"{key!r} is {record[key]!r}"
    for key, (kind, _, least) in OPTIONAL.items():
        if key in record and (not isinstance(record[key], kind) or isinstance(record[key], bool)
                              or record[key] < least):
            return f"{key!r} is {record[key]!r}"
    procs = record["procs"]
    if not (len(procs) == 2 and all(isinstance(p, int) and p >= 1 for p in procs)
            and procs[0] * procs[1] == record["processes"]):
        return f"'procs' {procs!r} is not a process grid of {record['processes']}"
    if min(record["rows"], record["cols"]) < 1 or not record["seconds_per_step"] > 0 \
            or not math.isfinite(record["seconds_per_step"]):
        return f"a {record['rows']} x {record['cols']} grid at {record['seconds_per_step']!r} s " \
               "per step"
    messages = record.get("messages_per_step", 0)
    if not isinstance(messages, (int, float)) or isinstance(messages, bool) or messages < 0:
        return f"'messages_per_step' is {messages!r}"
    return None


def _run(record):
    values = {**{key: default for key, (_, default, _) in OPTIONAL.items()}, **record,
              "steps_run": record["steps"] - record["first_step"]}
    procs = tuple(record["procs"])
    messages = record.get("messages_per_step", messages_per_step(procs))
    # Processes and threads beyond a host's cores take turns on them: each cell takes that much
    # longer (older runs do not say, and count as uncrowded).
    crowding = max(1.0, values["host_load"])
    cells = busiest_cells(record["rows"], record["cols"], procs) / values["threads"] * crowding
    return Run(record["rows"], record["cols"], record["processes"], procs,
               tuple(values[key] for key in CONFIGURATION), float(record["seconds_per_step"]),
               (cells, float(messages), float(record["bytes_per_step"])))


def read_runs(path):
    """Every run in a file of heat2d-study --json lines; blank lines are skipped, and anything
    else that is not such a run is refused, naming its line."""
    try:
        lines = path.read_bytes().split(b"\n")
    except OSError as error:
        raise RunError(f"{quoted(path)}: cannot be read ({error.strerror})") from None
    runs = []
    for number, line in enumerate(lines, start=1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except (ValueError, RecursionError) as error:
            raise RunError(f"{quoted(path)}: line {number}: not JSON ({error})") from None
        wrong = _check(record)
        if wrong:
            raise RunError(f"{quoted(path)}: line {number}: not a run of heat2d-study --json "
                           f"({wrong})")
        runs.append(_run(record))
    if not runs:
        raise RunError(f"{quoted(path)}: no runs")
    return runs


@dataclasses.dataclass
class Series:
    """Runs of one configuration: strong scaling (one grid, P grows) or weak (the grid grows with
    P, the cells per process stay)."""
    kind: str
    configuration: tuple
    label: str
    runs: list

    def points(self):
        """The runs at each P, in the order of P."""
        by_p = {}
        for run in self.runs:
            by_p.setdefault(run.processes, []).append(run)
        return {p: by_p[p] for p in sorted(by_p)}


def _weak_runs(runs, alone):
    """Of a configuration's runs that share their cells per process, one grid at each P: the grid
    run at that P only (a weak sweep's own) where there is one, else the one grid there is."""
    by_p = {}
    for run in runs:
        by_p.setdefault(run.processes, []).append(run)
    chosen = []
    for at_p in by_p.values():
        own = [run for run in at_p if (run.rows, run.cols) in alone] or at_p
        if len({(run.rows, run.cols) for run in own}) == 1:
            chosen += own
    return chosen


def group(runs):
    """The series of a file. A configuration's runs on one grid are a strong series. Its runs that
    share their cells per process on two or more grids, at least one of them run at that P only
    (the grid grows with P), are a weak series, one grid at each P; its grids run at one P only
    are not shown again as strong series of one P. A file mixing grids thus gives a series per
    grid, never an average across them."""
    series = []
    configurations = {}
    for run in runs:
        configurations.setdefault(run.configuration, []).append(run)
    for configuration, members in configurations.items():
        grids, per_process = {}, {}
        for run in members:
            grids.setdefault((run.rows, run.cols), []).append(run)
            per_process.setdefault(Fraction(run.rows * run.cols, run.processes), []).append(run)
        alone = {grid for grid, on in grids.items() if len({run.processes for run in on}) == 1}
        weak_grids = set()
        for cells, shared in per_process.items():
            weak = _weak_runs(shared, alone)
            own = {(run.rows, run.cols) for run in weak}
            if len(own) > 1 and own & alone:
                series.append(Series("weak", configuration, f"{float(cells):g} cells per process",
                                     weak))
                weak_grids |= own & alone
        series += [Series("strong", configuration, f"{grid[0]} x {grid[1]}", strong)
                   for grid, strong in grids.items() if grid not in weak_grids]
    return series


def describe(configuration):
    values = dict(zip(CONFIGURATION, configuration))
    return (f"{values['split']}, {values['exchange']}, {plural(values['threads'], 'thread')}, "
            f"fuse {values['fuse']}, {values['steps_run']} steps of dt = {values['dt']:g}"
            + (f", {values['fields_saved']} fields saved" if values["fields_saved"] else ""))


class FitError(Exception):
    """The runs cannot give the constants asked for."""


def update(run):
    """How a run updates its cells, which sets the time a cell takes: the steps of a pass decide
    whether the cells come from memory or from the cache."""
    return dict(zip(CONFIGURATION, run.configuration))["fuse"]


def nonnegative_least_squares(matrix, target):
    """The x >= 0 that minimises |matrix·x - target| (Lawson and Hanson's active set method: the
    constants enter one at a time where the residual pulls them above 0, and any that a step
    would take below 0 leave again). The columns are scaled to unit length first, so that cells
    (millions), messages (a few) and bytes (thousands) weigh alike."""
    scale = np.linalg.norm(matrix, axis=0)
    scale[scale == 0] = 1.0
    a = matrix / scale
    count = a.shape[1]
    x = np.zeros(count)
    free = np.zeros(count, dtype=bool)
    tolerance = 1e-10 * max(1.0, float(np.linalg.norm(target)))
    for _ in range(3 * count + 3):
        gradient = a.T @ (target - a @ x)
        entering = ~free & (gradient > tolerance)
        if not entering.any():
            break
        free[np.argmax(np.where(entering, gradient, -np.inf))] = True
        while True:
            z = np.zeros(count)
            z[free] = np.linalg.lstsq(a[:, free], target, rcond=None)[0]
            if (z[free] > 0).all():
                x = z
                break
            leaving = free & (z <= 0)
            step = np.min(x[leaving] / (x[leaving] - z[leaving]))
            x = x + step * (z - x)
            free &= x > 0
            x[~free] = 0.0
    return x / scale


def constant_name(name, kinds):
    """"c", "c (fuse 32)" where the runs need one c per pass length, "alpha", "beta"."""
    if isinstance(name, str):
        return name
    return "c" if len(kinds) == 1 else f"c (fuse {name[1]})"


def undetermined(matrix, names):
    """The constants the runs cannot tell apart from the others (a column that is zero, or a
    combination of the others: removing it leaves the design's rank as it was), by name, with the
    reason."""
    if not names:
        return {}
    rank = np.linalg.matrix_rank(matrix)
    found = {}
    for index, name in enumerate(names):
        if not matrix[:, index].any():
            found[name] = "no run has any"
        elif np.linalg.matrix_rank(np.delete(matrix, index, axis=1)) == rank:
            found[name] = "dependent"
    return found


def fit(runs, given):
    """c (one for each pass length the runs use), alpha and beta: those in `given` as they are,
    the others by non-negative least squares of every run's seconds per step against its busiest
    block's cells per thread, messages and bytes per step. Returns the constants, the names of
    those fitted, and those the runs do not determine with why ("no run has any" of what it
    multiplies, or "at 0": the fit would have it negative, and the bound holds it at 0); a
    constant not determined counts 0 in the model. Raises FitError where constants are
    combinations of one another (one grid on strips trades bytes in proportion to its messages),
    so that no model is drawn."""
    kinds = sorted({update(run) for run in runs})
    names = [("c", kind) for kind in kinds] + ["alpha", "beta"]
    predictors = np.array([[run.predictors[0] if update(run) == kind else 0.0 for kind in kinds]
                           + list(run.predictors[1:]) for run in runs])
    times = np.array([run.seconds_per_step for run in runs])
    known = [given.get(name if isinstance(name, str) else name[0]) for name in names]
    unknown = [index for index, value in enumerate(known) if value is None]
    values = np.array([value or 0.0 for value in known])
    matrix = predictors[:, unknown]
    unknown_names = [constant_name(names[index], kinds) for index in unknown]
    missing = undetermined(matrix, unknown_names)
    dependent = [name for name, why in missing.items() if why == "dependent"]
    if dependent:
        raise FitError(f"{plural_names(dependent)} not determined: these runs cannot tell them "
                       "apart (a grid on one kind of split trades bytes in proportion to its "
                       "messages; runs on one process trade none): add runs of other grids or "
                       "splits, or give them with --c, --alpha, --beta")
    if unknown:
        values[unknown] = nonnegative_least_squares(matrix, times - predictors @ values)
        for index, name in zip(unknown, unknown_names):
            if values[index] == 0 and name not in missing:
                missing[name] = "at 0"
    constants = {"c": {kind: values[index] for index, kind in enumerate(kinds)},
                 "alpha": values[-2], "beta": values[-1]}
    fitted = [name for name in CONSTANTS if given.get(name) is None]
    return constants, fitted, missing


def plural_names(names):
    """"beta", "alpha and beta", "c, alpha and beta"."""
    return names[0] if len(names) == 1 else f"{', '.join(names[:-1])} and {names[-1]}"


def model_time(constants, run):
    cells, messages, sent = run.predictors
    return float(constants["c"][update(run)] * cells + constants["alpha"] * messages +
                 constants["beta"] * sent)


def curves(one, constants=None):
    """Per P of a series: its median measured time per step and, with the model's constants, the
    predicted one; for strong scaling the speed-up t(P0) / t(P) and the efficiency, speed-up ·
    P0 / P, for weak scaling the efficiency t(P0) / t(P), each against the series' smallest P."""
    rows = []
    for p, runs in one.points().items():
        rows.append({
            "P": p, "runs": len(runs), "time": statistics.median(r.seconds_per_step for r in runs),
            "grids": sorted({(r.rows, r.cols) for r in runs}),
            "procs": sorted({r.procs for r in runs}),
            "model": None if constants is None else
            statistics.median(model_time(constants, r) for r in runs)})
    for column in ("time", "model"):
        if rows[0][column] is None:
            continue
        p0, base = rows[0]["P"], rows[0][column]
        for row in rows:
            ratio = base / row[column]
            row[f"{column} speed-up"] = ratio
            row[f"{column} efficiency"] = ratio * p0 / row["P"] if one.kind == "strong" else ratio
    return rows


def _columns(kind, model):
    """The table's columns: heading, width, and how a row gives its text."""
    columns = [("P", 5, lambda r: f"{r['P']}"),
               ("grid" if kind == "weak" else "procs", 11, lambda r: ",".join(
                   f"{a}x{b}" for a, b in (r["grids"] if kind == "weak" else r["procs"]))),
               ("runs", 4, lambda r: f"{r['runs']}")]
    for column, heading in (("time", "s/step"), ("model", "model s/step"))[:1 + model]:
        columns.append((heading, 12, lambda r, c=column: f"{r[c]:.4g}"))
        if kind == "strong":
            columns.append(("speed-up", 9, lambda r, c=column: f"{r[c + ' speed-up']:.3f}"))
        columns.append(("efficiency", 10, lambda r, c=column: f"{r[c + ' efficiency']:.3f}"))
    return columns


REASONS = {("alpha", "no run has any"): "no run sends a message",
           ("beta", "no run has any"): "no run sends a byte"}


def constant_text(name, value, unit, missing):
    return "not determined" if name in missing else f"{value:.4g}{unit}"


def cell_times(c, missing):
    """"4e-10 s per cell", or one for each pass length: "5.6e-10 s per cell (fuse 1), 2.1e-10
    (fuse 32)"; "not determined" for those the runs do not give."""
    if len(c) == 1:
        return constant_text("c", next(iter(c.values())), " s per cell", missing)
    return ", ".join(constant_text(f"c (fuse {fuse})", value,
                                   " s per cell" if index == 0 else "", missing) + f" (fuse {fuse})"
                     for index, (fuse, value) in enumerate(c.items()))


def why_not_determined(missing):
    """"; beta not determined: ..." for each constant the runs do not give."""
    return "".join(
        f"; {name} not determined: " + REASONS.get(
            (name, why), "the runs would have it negative, and it is held at 0")
        for name, why in missing.items())


def table(series, constants, fitted, missing, problem):
    """The text of the study: the model's constants, then a table per series."""
    if constants is None:
        lines = [f"model: not drawn: {problem}"]
    else:
        how = ("fitted from the runs" if len(fitted) == 3 else
               f"{' and '.join(fitted)} fitted from the runs, the others given" if fitted else
               "given")
        lines = ["model: t = c·cells/threads·crowding + alpha·messages + beta·bytes per step of the "
                 f"busiest process; c = {cell_times(constants['c'], missing)}, alpha = "
                 f"{constant_text('alpha', constants['alpha'], ' s', missing)}, beta = "
                 f"{constant_text('beta', constants['beta'], ' s per byte', missing)} "
                 f"({how}{why_not_determined(missing)})"]
    for one in series:
        columns = _columns(one.kind, constants is not None)
        lines += ["", f"{one.kind} scaling, {one.label}: {describe(one.configuration)}",
                  " ".join(f"{heading:>{width}}" for heading, width, _ in columns)]
        lines += [" ".join(f"{text(row):>{width}}" for _, width, text in columns)
                  for row in curves(one, constants)]
    return "\n".join(lines) + "\n"


def legend(one, series):
    """A series' name in a picture: its grid or cells per process, and what sets its
    configuration apart from the others'."""
    varying = [index for index, _ in enumerate(CONFIGURATION)
               if len({other.configuration[index] for other in series}) > 1]
    return one.label + "".join(f", {CONFIGURATION[index].replace('_', ' ')} "
                               f"{one.configuration[index]}" for index in varying)
