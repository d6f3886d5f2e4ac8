"""Command line of heat2d-view: plot, animate, vtk and compare."""
import argparse
import pathlib
import sys

from .run_folder import RunError, RunFolder


def plot_command(options):
    from .pictures import plot
    run = RunFolder(options.run)
    label = run.labels[-1] if options.label is None else options.label
    if label not in run.labels:
        raise RunError(f"{run.folder}: no snapshots labelled {label}")
    output = options.output or run.folder / f"field_{label}.png"
    plot(run, label, output)
    print(f"Field at label {label}: {output}")


def animate_command(options):
    from .pictures import animate
    run = RunFolder(options.run)
    output = options.output or run.folder / "field.gif"
    frames = animate(run, run.labels[:: options.every], output, options.fps)
    print(f"Animation of {frames} labels: {output}")


def vtk_command(options):
    from .vtk import write_series
    run = RunFolder(options.run)
    output = options.output or run.folder / "vtk"
    collection = write_series(run, run.labels[:: options.every], output)
    print(f"ParaView time series: {collection}")


def compare_command(options):
    from .compare import compare
    verdict, same = compare(RunFolder(options.run_a), RunFolder(options.run_b))
    print(verdict)
    return 0 if same else 1


def label_step(text):
    """--every: a whole number of at least 1."""
    step = int(text)
    if step < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return step


def parser():
    p = argparse.ArgumentParser(prog="heat2d-view", description=__doc__)
    commands = p.add_subparsers(dest="command", required=True)

    plot = commands.add_parser("plot", help="PNG heat map of the field at one label")
    plot.add_argument("run", type=pathlib.Path, help="run folder")
    plot.add_argument("--label", type=int, help="step label (default: the last)")
    plot.add_argument("-o", "--output", type=pathlib.Path, help="default: RUN/field_<label>.png")
    plot.set_defaults(action=plot_command)

    animate = commands.add_parser("animate", help="animated GIF through the labels")
    animate.add_argument("run", type=pathlib.Path)
    animate.add_argument("--every", type=label_step, default=25,
                         help="every k-th label (default 25; 1 for all)")
    animate.add_argument("--fps", type=int, default=20)
    animate.add_argument("-o", "--output", type=pathlib.Path, help="default: RUN/field.gif")
    animate.set_defaults(action=animate_command)

    vtk = commands.add_parser("vtk", help="ImageData files (.vti) and a .pvd time series")
    vtk.add_argument("run", type=pathlib.Path)
    vtk.add_argument("--every", type=label_step, default=1, help="every k-th label (default: all)")
    vtk.add_argument("-o", "--output", type=pathlib.Path, help="default: RUN/vtk")
    vtk.set_defaults(action=vtk_command)

    compare = commands.add_parser("compare", help="are two runs identical, label by label?")
    compare.add_argument("run_a", type=pathlib.Path)
    compare.add_argument("run_b", type=pathlib.Path)
    compare.set_defaults(action=compare_command)
    return p


def main(argv=None):
    options = parser().parse_args(argv)
    try:
        return options.action(options) or 0
    except (RunError, OSError) as error:
        print(f"heat2d-view: {error}", file=sys.stderr)
        return 2
