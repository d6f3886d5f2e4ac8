"""Heat maps of the field: one field as PNG (or PDF, SVG), a run's fields as an animated GIF."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from . import problem  # noqa: E402
from .gif import GifWriter  # noqa: E402
from .progress import progress  # noqa: E402

FIGURE_SIZE = (6.4, 5.0)
DPI = 100
CMAP = "inferno"
PICTURE_EXTENSIONS = (".png", ".pdf", ".svg")


def _figure(field, vmin, vmax):
    """A heat map with x (the rows' direction) across and y (along a row) up."""
    xs, ys = problem.node_coordinates(*field.shape)
    figure, axes = plt.subplots(figsize=FIGURE_SIZE, dpi=DPI)
    mesh = axes.pcolormesh(xs, ys, field.T, shading="nearest", cmap=CMAP, vmin=vmin, vmax=vmax)
    axes.set_xlabel("x")
    axes.set_ylabel("y")
    axes.set_aspect("equal")
    figure.colorbar(mesh, ax=axes, label="temperature")
    return figure, axes, mesh


def plot(field, title, output):
    figure, axes, _ = _figure(field, field.min(), field.max())
    axes.set_title(title)
    figure.savefig(output, format=output.suffix[1:].lower() if output.suffix else "png")
    plt.close(figure)


def animate(run, keys, output, fps):
    """Frames share one colour scale, the run's (see its colour_scale), so a colour means the same
    temperature in every frame. The figure is drawn once without the field and the title; each
    frame redraws only those two on that background and goes to the file as soon as it is drawn."""
    figure, axes, mesh = _figure(run.field(keys[0]), *run.colour_scale())
    title = axes.set_title("")
    mesh.set_animated(True)
    title.set_animated(True)
    canvas = figure.canvas
    canvas.draw()
    background = canvas.copy_from_bbox(figure.bbox)
    with open(output, "wb") as file:
        writer = GifWriter(file, fps, CMAP)
        for key, field in progress(run.fields(keys), len(keys), "frames"):
            mesh.set_array(field.T.ravel())
            title.set_text(run.title(key))
            canvas.restore_region(background)
            axes.draw_artist(mesh)
            axes.draw_artist(title)
            writer.add(np.asarray(canvas.buffer_rgba()))
        writer.close()
    plt.close(figure)
    return len(keys)
