"""Command line of heat2d-view: plot, animate, vtk and compare."""
import argparse
import pathlib
import sys

import numpy as np

from . import problem
from .output import output_file, output_folder, replacing
from .run_folder import RunError, RunFolder, plural, require_regular_file

DESCRIPTION = """Looks at the snapshot files that heat2d and heat2d-study leave in a run folder:
pictures of the temperature field, an animation, a ParaView time series, a check of every file,
and whether two runs agree bit for bit. The grid and the number of processes are learnt from the
files; every file read is checked, and bad input gets one line naming the file and the problem,
with exit status 2."""


def labels_with_last(labels, every):
    """Every k-th label, and always the last one, the field the run ended with."""
    chosen = labels[::every]
    return chosen if chosen[-1] == labels[-1] else chosen + [labels[-1]]


def plot_command(options):
    from .pictures import PICTURE_EXTENSIONS, label_title, plot
    source = options.run
    if source.suffix == ".npy" and not source.is_dir():
        output = output_file(options.output, source.with_suffix(".png"), PICTURE_EXTENSIONS)
        field = load_npy(source)
        title = f"{source.name}: {field.shape[0]} x {field.shape[1]} field"
    else:
        run = RunFolder(source)
        label = run.labels[-1] if options.label is None else options.label
        if label not in run.labels:
            raise RunError(f"{run.folder}: no snapshots labelled {label}")
        output = output_file(options.output, run.folder / f"field_{label}.png", PICTURE_EXTENSIONS)
        field = run.field(label)
        title = label_title(label, options.dt)
    with replacing(output) as temporary:
        plot(field, title, temporary)
    print(f"Field: {output}")


def animate_command(options):
    from .pictures import animate
    output = output_file(options.output, options.run / "field.gif", (".gif",))
    run = RunFolder(options.run)
    labels = labels_with_last(run.labels, options.every)
    with replacing(output) as temporary:
        frames = animate(run, labels, temporary, options.fps, options.dt)
    print(f"Animation of {frames} labels: {output}")


def vtk_command(options):
    from .vtk import SERIES_FILE, write_series
    folder = output_folder(options.output, options.run / "vtk", SERIES_FILE)
    run = RunFolder(options.run)
    collection = write_series(run, labels_with_last(run.labels, options.every), folder, options.dt)
    print(f"ParaView time series: {collection}")


def compare_command(options):
    from .compare import compare
    verdict, same = compare(RunFolder(options.run_a), RunFolder(options.run_b))
    print(verdict)
    return 0 if same else 1


def check_command(options):
    from .progress import progress
    run = RunFolder(options.run)
    for _ in progress(run.fields(), len(run.labels), "labels"):
        pass
    print(f"sound: {plural(len(run.labels), 'label')} of a {run.shape[0]} x {run.shape[1]} grid "
          f"from {plural(run.process_count, 'process')}")


def load_npy(path):
    """A field saved by heat2d-study --save: a two-dimensional float64 array of finite values."""
    require_regular_file(path)
    try:
        with open(path, "rb") as file:
            field = np.lib.format.read_array(file, allow_pickle=False)
    except (OSError, ValueError) as error:
        raise RunError(f"{path}: not a NumPy .npy file ({error})") from None
    except MemoryError:
        raise RunError(f"not enough memory to read {path} ({path.stat().st_size} bytes)") from None
    if field.ndim != 2 or field.dtype != np.float64 or min(field.shape) < 2:
        raise RunError(f"{path}: holds a {field.dtype} array of shape {field.shape}, not a field")
    not_finite = ~np.isfinite(field)
    if not_finite.any():
        i, j = np.argwhere(not_finite)[0]
        raise RunError(f"{path}: {plural(int(not_finite.sum()), 'value')} not finite, the first "
                       f"{field[i, j]} at row {i}, column {j}")
    return field


def whole_number(low, high=None):
    """An argparse type: a whole number from `low` (to `high`), with a message saying so."""
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            value = None
        if value is None or value < low or (high is not None and value > high):
            span = f"from {low} to {high}" if high is not None else f"of at least {low}"
            raise argparse.ArgumentTypeError(f"{text!r} is not a whole number {span}")
        return value
    return parse


def positive_number(text):
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive number")
    return value


def parser():
    p = argparse.ArgumentParser(prog="heat2d-view", description=DESCRIPTION)
    commands = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    run_help = "run folder (the working directory of a heat2d or heat2d-study run)"
    dt_help = "time step of the run, for the times shown (default: %(default)g, heat2d's)"

    plot = commands.add_parser("plot",
                               help="heat map of the field at one label, or of a .npy field",
                               description="Draws the field at one label of a run, or a field "
                               "saved by heat2d-study --save, as a PNG, PDF or SVG picture.")
    plot.add_argument("run", type=pathlib.Path, metavar="RUN", help=run_help + ", or FILE.npy")
    plot.add_argument("--label", type=whole_number(0), help="step label (default: the last)")
    plot.add_argument("--dt", type=positive_number, default=problem.DT, help=dt_help)
    plot.add_argument("-o", "--output", type=pathlib.Path,
                      help="picture to write (default: RUN/field_LABEL.png)")
    plot.set_defaults(action=plot_command)

    animate = commands.add_parser("animate",
                                  help="animated GIF through the labels",
                                  description="Draws every k-th label of a run, and the last, "
                                  "as the frames of an animated GIF on one colour scale.")
    animate.add_argument("run", type=pathlib.Path, metavar="RUN", help=run_help)
    animate.add_argument("--every", type=whole_number(1), default=25,
                         help="every k-th label, and always the last; 1 for all (default: "
                         "%(default)s)")
    animate.add_argument("--fps", type=whole_number(1, 100), default=20,
                         help="frames per second, 1 to 100 (default: %(default)s)")
    animate.add_argument("--dt", type=positive_number, default=problem.DT, help=dt_help)
    animate.add_argument("-o", "--output", type=pathlib.Path,
                         help="GIF to write (default: RUN/field.gif)")
    animate.set_defaults(action=animate_command)

    vtk = commands.add_parser("vtk",
                              help="ParaView time series: .vti files and a .pvd collection",
                              description="Writes the initial field and every k-th label, and "
                              "the last, as VTK ImageData files with a .pvd collection of their "
                              "times, for ParaView or VisIt.")
    vtk.add_argument("run", type=pathlib.Path, metavar="RUN", help=run_help)
    vtk.add_argument("--every", type=whole_number(1), default=1,
                     help="every k-th label, and always the last (default: %(default)s, all)")
    vtk.add_argument("--dt", type=positive_number, default=problem.DT, help=dt_help)
    vtk.add_argument("-o", "--output", type=pathlib.Path,
                     help="folder to write, replacing an earlier series there; its parent must "
                     "exist (default: RUN/vtk)")
    vtk.set_defaults(action=vtk_command)

    check = commands.add_parser("check", help="is the run folder sound? (reads every file)",
                                description="Reads and checks every snapshot file of a run. Exit "
                                "status: 0 sound, 2 the first problem found, named in one line.")
    check.add_argument("run", type=pathlib.Path, metavar="RUN", help=run_help)
    check.set_defaults(action=check_command)

    compare = commands.add_parser(
        "compare", help="are two runs identical, label by label?",
        description="Compares two runs label by label, bit for bit. Exit status: 0 identical, "
        "1 different (a value, or labels present in one run only), 2 bad input.")
    compare.add_argument("run_a", type=pathlib.Path, metavar="RUN_A", help="first run folder")
    compare.add_argument("run_b", type=pathlib.Path, metavar="RUN_B", help="second run folder")
    compare.set_defaults(action=compare_command)
    return p


def main(argv=None):
    options = parser().parse_args(argv)
    try:
        return options.action(options) or 0
    except (RunError, OSError) as error:
        print(f"heat2d-view: {error}", file=sys.stderr)
        return 2
