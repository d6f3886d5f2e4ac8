"""Two runs compared field by field: identical, or where they first part, and what only one has."""
import numpy as np

from . import problem
from .progress import progress
from .quoting import quoted
from .run_folder import RunError, plural


def compare(run_a, run_b):
    """Returns (verdict, identical). Runs of one kind are compared at every label or step both
    have, bit for bit, and then those only one has are named; a series and snapshot files at the
    steps both have, as the snapshot text."""
    if run_a.unit != run_b.unit:
        return _as_text(run_a, run_b)
    unit = run_a.unit
    shared = sorted(set(run_a.keys) & set(run_b.keys))
    only = [(sorted(set(run.keys) - set(other.keys)), run)
            for run, other in ((run_a, run_b), (run_b, run_a))]
    extra = [f"{plural(len(keys), unit)} only in {run.name} (first {keys[0]})"
             for keys, run in only if keys]
    differs = _first_difference(run_a, run_b, shared, unit, run_a.field, run_b.field) \
        if shared else None
    if differs or not shared:
        verdict = differs or f"no {unit} in common"
    elif extra:
        verdict = f"identical at the {plural(len(shared), unit)} both have ({_span(shared)})"
    else:
        verdict = (f"identical: {plural(len(shared), unit)}, {run_a.description} against "
                   f"{run_b.description}")
    return "; ".join([verdict, *extra]), not differs and not extra


def _as_text(run_a, run_b):
    """A series against snapshot files: the text holds six decimals, so they agree where every
    value of the series, printed as %f, reads back as the text's value."""
    common = sorted(set(run_a.steps) & set(run_b.steps))
    if not common:
        raise RunError(f"{quoted(run_a.name)} and {quoted(run_b.name)}: no step in common (steps "
                       f"{_span(run_a.steps)} against {_span(run_b.steps)})")
    differs = _first_difference(run_a, run_b, common, "step", run_a.as_text, run_b.as_text)
    series = run_a if run_a.unit == "step" else run_b
    return differs or (f"identical at the {plural(len(common), 'step')} both have "
                       f"({_span(common)}): every value of {series.name} printed as %f is the "
                       "snapshot text's"), not differs


def _span(keys):
    return f"{keys[0]} to {keys[-1]}" if len(keys) > 1 else f"{keys[0]}"


def _first_difference(run_a, run_b, keys, unit, field_a, field_b):
    """Where the fields first differ (a zero's sign too: -0.000000 is not 0.000000), or None."""
    if run_a.shape != run_b.shape:
        return (f"grids differ: {run_a.shape[0]} x {run_a.shape[1]} in {run_a.name}, "
                f"{run_b.shape[0]} x {run_b.shape[1]} in {run_b.name}")
    for key in progress(keys, len(keys), f"{unit}s"):
        a, b = field_a(key), field_b(key)
        differs = (a != b) | (np.signbit(a) != np.signbit(b))
        if differs.any():
            i, j = np.argwhere(differs)[0]
            xs, ys = problem.node_coordinates(*a.shape)
            largest = np.abs(a - b).max()
            count = int(differs.sum())
            cells = "1 cell, at" if count == 1 else f"{count} cells, first at"
            return (f"{unit} {key} differs first: {cells} row {i}, "
                    f"column {j} (x = {xs[i]:g}, y = {ys[j]:g}): {a[i, j]:f} against "
                    f"{b[i, j]:f}, difference {abs(a[i, j] - b[i, j]):.6g}; largest difference "
                    f"{largest:.6g}")
    return None
