"""The scaling study drawn: time per step, speed-up and efficiency against P for strong scaling and
the efficiency for weak scaling, one line per series, the model dashed in the same colour."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib import ticker  # noqa: E402

from .scaling import curves, legend  # noqa: E402

# Each panel: the kind of series it shows, the quantity, its axis label and whether that axis is
# logarithmic (P's always is).
PANELS = (("strong", "", "time per step (s)", True),
          ("strong", " speed-up", "speed-up", True),
          ("strong", " efficiency", "parallel efficiency", False),
          ("weak", " efficiency", "weak-scaling efficiency", False))


def draw(series, constants, output):
    panels = [panel for panel in PANELS if any(one.kind == panel[0] for one in series)]
    figure, axes = plt.subplots(1, len(panels), figsize=(4.5 * len(panels), 4.5), squeeze=False,
                                layout="constrained")
    named = set()  # the kinds whose lines a panel has named already: one legend each is enough
    for ax, (kind, quantity, label, logarithmic) in zip(axes[0], panels):
        for index, one in enumerate(one for one in series if one.kind == kind):
            rows = curves(one, constants)
            ps = [row["P"] for row in rows]
            colour = f"C{index % 10}"
            ax.plot(ps, [row["time" + quantity] for row in rows], "o-", color=colour,
                    label=legend(one, series))
            if constants is not None:
                ax.plot(ps, [row["model" + quantity] for row in rows], "--", color=colour)
        ax.set_xscale("log", base=2)
        ps = sorted({p for one in series if one.kind == kind for p in one.points()})
        ax.set_xticks(ps, [str(p) for p in ps])
        ax.xaxis.set_minor_locator(ticker.NullLocator())
        if logarithmic:
            ax.set_yscale("log")
            plain = ticker.FuncFormatter(lambda value, _: f"{value:g}")
            ax.yaxis.set_major_formatter(plain)
            ax.yaxis.set_minor_formatter(plain)
        else:  # efficiency: from none to all
            ax.set_ylim(0.0, max(1.05, ax.get_ylim()[1]))
        ax.set_xlabel("processes P")
        ax.set_ylabel(label)
        ax.set_title(f"{kind} scaling" + (", model dashed" if constants is not None else ""),
                     fontsize="medium")
        if kind not in named:
            ax.legend(fontsize="x-small", framealpha=0.7)
            named.add(kind)
    figure.savefig(output, format=output.suffix[1:].lower())
    plt.close(figure)
