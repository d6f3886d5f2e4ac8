"""Heat maps of the field: one label as PNG, a series of labels as an animated GIF."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.animation import PillowWriter  # noqa: E402

from . import problem  # noqa: E402

FIGURE_SIZE = (6.4, 5.0)
DPI = 100


def _title(label):
    return f"label {label}: t = {problem.time_after(label):.5f} (after {label + 1} steps)"


def _figure(field, vmin, vmax):
    """A heat map with x (the rows' direction) across and y (along a row) up."""
    xs, ys = problem.node_coordinates(*field.shape)
    figure, axes = plt.subplots(figsize=FIGURE_SIZE, dpi=DPI)
    mesh = axes.pcolormesh(xs, ys, field.T, shading="nearest", cmap="inferno", vmin=vmin,
                           vmax=vmax)
    axes.set_xlabel("x")
    axes.set_ylabel("y")
    axes.set_aspect("equal")
    figure.colorbar(mesh, ax=axes, label="temperature")
    return figure, axes, mesh


def plot(run, label, output):
    field = run.field(label)
    figure, axes, _ = _figure(field, field.min(), field.max())
    axes.set_title(_title(label))
    figure.savefig(output)
    plt.close(figure)


def animate(run, labels, output, fps):
    """Frames share one colour scale, so a colour means the same temperature in every frame."""
    fields = dict(run.fields(labels))
    vmin = min(f.min() for f in fields.values())
    vmax = max(f.max() for f in fields.values())
    figure, axes, mesh = _figure(fields[labels[0]], vmin, vmax)
    writer = PillowWriter(fps=fps)
    with writer.saving(figure, str(output), DPI):
        for label in labels:
            mesh.set_array(fields[label].T.ravel())
            axes.set_title(_title(label))
            writer.grab_frame()
    plt.close(figure)
    return len(labels)
