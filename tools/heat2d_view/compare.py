"""Two runs compared label by label: identical, or where they first part."""
import numpy as np

from . import problem
from .progress import progress
from .run_folder import plural


def compare(run_a, run_b):
    """Returns (verdict, identical)."""
    only_a = sorted(set(run_a.labels) - set(run_b.labels))
    only_b = sorted(set(run_b.labels) - set(run_a.labels))
    if only_a or only_b:
        parts = [f"{plural(len(labels), 'label')} only in {run.folder} (first {labels[0]})"
                 for labels, run in ((only_a, run_a), (only_b, run_b)) if labels]
        return "; ".join(parts), False
    if run_a.shape != run_b.shape:
        return (f"grids differ: {run_a.shape[0]} x {run_a.shape[1]} in {run_a.folder}, "
                f"{run_b.shape[0]} x {run_b.shape[1]} in {run_b.folder}"), False
    for label in progress(run_a.labels, len(run_a.labels), "labels"):
        a, b = run_a.field(label), run_b.field(label)
        differs = a != b
        if differs.any():
            i, j = np.argwhere(differs)[0]
            xs, ys = problem.node_coordinates(*a.shape)
            largest = np.abs(a - b).max()
            count = int(differs.sum())
            cells = "1 cell, at" if count == 1 else f"{count} cells, first at"
            return (f"label {label} differs first: {cells} row {i}, "
                    f"column {j} (x = {xs[i]:g}, y = {ys[j]:g}): {a[i, j]:f} against "
                    f"{b[i, j]:f}, difference {abs(a[i, j] - b[i, j]):.6g}; largest difference "
                    f"{largest:.6g}"), False
    return (f"identical: {plural(len(run_a.labels), 'label')}, "
            f"{plural(run_a.process_count, 'process')} against "
            f"{plural(run_b.process_count, 'process')}"), True
