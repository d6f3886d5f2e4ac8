"""Command line of heat2d-view: plot, animate, vtk, xdmf, check, compare and scaling."""
import argparse
import pathlib
import sys

from . import problem
from .output import output_file, output_folder, replacing
from .quoting import quoted
from .run_folder import RunError, plural
from .run_record import NAME as RECORD_NAME
from .saved import load_field
from .sources import open_runs

DESCRIPTION = """Looks at a run of heat2d or heat2d-study: the snapshot files it leaves in its
folder, or the series of fields heat2d-study saves with --save FILE.npy --save-every K. Draws
pictures of the temperature field and an animation, writes a ParaView time series, checks every
file, and says whether two runs agree. The grid and the number of processes are learnt from the
files; every file read is checked, and bad input gets one line naming the file and the problem,
with exit status 2."""

SOURCE_HELP = """A run is given as its folder, or, where the folder holds more than one, as a
quoted pattern: 'DIR/FILE.*.npy' for the series saved as FILE.npy (every FILE.S.npy, S the steps
done, and FILE.npy itself, the field the run ended with, at the step its record gives, unless a
FILE.S.npy holds that step) or 'DIR/rank*.000000' for the snapshot files. The files a shell
expands such a pattern into name the same run; for a series, just those files. The members of a
series are ordered by S, each checked with its record X.npy.json: the same grid as its array and
the others, the same dt and starting field, steps equal to S. A single FILE.npy given to plot is
drawn on its own, without a record."""


def keys_with_last(keys, every):
    """Every k-th label or step, and always the last one, the field the run ended with."""
    chosen = keys[::every]
    return chosen if chosen[-1] == keys[-1] else chosen + [keys[-1]]


def chosen_key(run, options):
    """The label of a run's snapshot files, or the step of a series, asked for; or the last."""
    other = "step" if run.unit == "label" else "label"
    if getattr(options, other) is not None:
        kind = "snapshot files" if run.unit == "label" else "a series"
        raise RunError(f"{quoted(run.name)}: --{other} given for {kind}, whose fields are "
                       f"chosen with --{run.unit}")
    key = getattr(options, run.unit)
    if key is None:
        return run.keys[-1]
    if key not in run.keys:
        raise RunError(f"{quoted(run.name)}: no {run.unit} {key} (it has "
                       f"{plural(len(run.keys), run.unit)}, {run.keys[0]} to {run.keys[-1]})")
    return key


def opened_for_times(options):
    """The one run a command that shows times reads; where they rest on a guessed dt, says so."""
    run = open_runs(options.run, 1, options.dt)[0]
    if getattr(run, "assumed_dt", False):
        print(f"heat2d-view: note: {run.name} has no {RECORD_NAME} (heat2d-study writes it beside "
              f"its snapshot files) and is not heat2d's run: times assume heat2d's dt = "
              f"{problem.DT!r}; give --dt for the run's own", file=sys.stderr)
    return run


def is_lone_field(arguments):
    path = pathlib.Path(arguments[0])
    return len(arguments) == 1 and path.suffix == ".npy" and "*" not in path.name and \
        not path.is_dir()


def plot_command(options):
    from .pictures import PICTURE_EXTENSIONS, plot
    if is_lone_field(options.run):
        source = pathlib.Path(options.run[0])
        output = output_file(options.output, source.with_suffix(".png"), PICTURE_EXTENSIONS)
        field = load_field(source)
        title = f"{source.name}: {field.shape[0]} x {field.shape[1]} field"
    else:
        run = opened_for_times(options)
        key = chosen_key(run, options)
        output = output_file(options.output, run.folder / run.picture_name(key),
                             PICTURE_EXTENSIONS)
        field = run.field(key)
        title = run.title(key)
    with replacing(output) as temporary:
        plot(field, title, temporary)
    print(f"Field: {output}")


def default_folder(arguments):
    """Where a run's outputs go by default: its folder, before the run is read."""
    path = pathlib.Path(arguments[0])
    return path if path.is_dir() else path.parent


def animate_command(options):
    from .pictures import animate
    output = output_file(options.output, default_folder(options.run) / "field.gif", (".gif",))
    run = opened_for_times(options)
    keys = keys_with_last(run.keys, options.every)
    with replacing(output) as temporary:
        frames = animate(run, keys, temporary, options.fps)
    print(f"Animation of {frames} {run.unit}s: {output}")


def vtk_command(options):
    from .vtk import SERIES_FILE, write_series
    folder = output_folder(options.output, default_folder(options.run) / "vtk", SERIES_FILE)
    run = opened_for_times(options)
    collection = write_series(run, keys_with_last(run.keys, options.every), folder)
    print(f"ParaView time series: {collection}")


def xdmf_command(options):
    from .xdmf import write_xdmf
    run = open_runs(options.run, 1)[0]
    if run.unit != "step":
        raise RunError(f"{quoted(run.name)}: snapshot files are text, which XDMF cannot point "
                       "into; xdmf is for a series of saved fields (FILE.S.npy), vtk for these")
    default = pathlib.Path(f"{run.name[:-len('.*.npy')]}.xmf")
    output = output_file(options.output, default, (".xmf", ".xdmf"))
    with replacing(output) as temporary:
        write_xdmf(run, keys_with_last(run.keys, options.every), temporary)
    print(f"XDMF time series: {output}")


def compare_command(options):
    from .compare import compare
    verdict, same = compare(*open_runs(options.runs, 2))
    print(verdict)
    return 0 if same else 1


def check_command(options):
    from .progress import progress
    run = open_runs(options.run, 1)[0]
    for _ in progress(run.fields(), len(run.keys), f"{run.unit}s"):
        pass
    print(f"sound: {run.summary()}")


def scaling_command(options):
    from .pictures import PICTURE_EXTENSIONS
    from .scaling import FitError, fit, group, read_runs, table
    from .scaling_picture import draw
    output = output_file(options.output, options.runs.with_suffix(".png"), PICTURE_EXTENSIONS)
    runs = read_runs(options.runs)
    series = group(runs)
    given = {"c": options.c, "alpha": options.alpha, "beta": options.beta}
    try:
        constants, fitted, missing = fit(runs, given)
        problem = None
    except FitError as error:
        constants, fitted, missing, problem = None, [], {}, str(error)
    print(table(series, constants, fitted, missing, problem), end="")
    with replacing(output) as temporary:
        draw(series, constants, temporary)
    print(f"\nCurves: {output}")


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
    p = argparse.ArgumentParser(prog="heat2d-view", description=DESCRIPTION, epilog=SOURCE_HELP)
    commands = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    run_help = "run folder (the working directory of a heat2d or heat2d-study run), or a series"
    dt_help = (f"time step of a run's snapshot files without a {RECORD_NAME}, for the times "
               f"shown (default: {problem.DT:g}, heat2d's); heat2d-study's runs and series "
               "record their own")
    every_help = "every k-th label or step, and always the last"

    def command(name, help, description):
        usage = f"heat2d-view {name} [-h] RUN_A RUN_B" if name == "compare" else None
        sub = commands.add_parser(name, help=help, description=description, usage=usage,
                                  epilog=None if name == "scaling" else SOURCE_HELP)
        if name not in ("compare", "scaling"):
            sub.add_argument("run", type=str, nargs="+", metavar="RUN", help=run_help)
        return sub

    plot = command("plot", "heat map of the field at one label or step, or of a .npy field",
                   "Draws the field at one label or step of a run, or one field saved by "
                   "heat2d-study --save, as a PNG, PDF or SVG picture, titled with its step and "
                   "time.")
    plot.add_argument("--label", type=whole_number(0),
                      help="label of the snapshot files (default: the last)")
    plot.add_argument("--step", type=whole_number(0),
                      help="steps done, for a series (default: the last saved)")
    plot.add_argument("--dt", type=positive_number, help=dt_help)
    plot.add_argument("-o", "--output", type=pathlib.Path,
                      help="picture to write (default: in the run's folder, field_LABEL.png "
                      "for snapshot files, FILE.S.png for a series' FILE.S.npy; FILE.png for "
                      "FILE.npy given alone)")
    plot.set_defaults(action=plot_command)

    animate = command("animate", "animated GIF through the labels or steps",
                      "Draws every k-th label or step of a run, and the last, as the frames of an "
                      "animated GIF on one colour scale: 0 to 100, the held edges of heat2d's "
                      "field; for a series that starts from a field of yours, the range of its "
                      "first member, which no later step leaves.")
    animate.add_argument("--every", type=whole_number(1), default=25,
                         help=f"{every_help}; 1 for all (default: %(default)s)")
    animate.add_argument("--fps", type=whole_number(1, 100), default=20,
                         help="frames per second, 1 to 100 (default: %(default)s)")
    animate.add_argument("--dt", type=positive_number, help=dt_help)
    animate.add_argument("-o", "--output", type=pathlib.Path,
                         help="GIF to write (default: field.gif in the run's folder)")
    animate.set_defaults(action=animate_command)

    vtk = command("vtk", "ParaView time series: .vti files and a .pvd collection",
                  "Writes every k-th label or step, and the last, as VTK ImageData files (the "
                  "values as raw little-endian doubles after the XML) with a .pvd collection of "
                  "their times, for ParaView or VisIt: for snapshot files "
                  "also the initial field, at t = 0; for a series S x dt from its records, "
                  "exactly in decimal.")
    vtk.add_argument("--every", type=whole_number(1), default=1,
                     help=f"{every_help} (default: %(default)s, all)")
    vtk.add_argument("--dt", type=positive_number, help=dt_help)
    vtk.add_argument("-o", "--output", type=pathlib.Path,
                     help="folder to write, replacing an earlier series there; its parent must "
                     "exist (default: vtk in the run's folder)")
    vtk.set_defaults(action=vtk_command)

    xdmf = command("xdmf", "XDMF time series of a saved series, read in place by ParaView",
                   "Writes an XDMF file whose items point into the saved fields FILE.S.npy past "
                   "their headers (raw little-endian doubles), with the times S x dt from their "
                   "records, for ParaView (XDMF Reader or Xdmf3 Reader) and VisIt: a series of any "
                   "size opens without a copy. The values are read a grid row after another, so "
                   "the readers' X axis is y (along a row) and their Y axis x.")
    xdmf.add_argument("--every", type=whole_number(1), default=1,
                      help=f"{every_help} (default: %(default)s, all)")
    xdmf.add_argument("-o", "--output", type=pathlib.Path,
                      help="XDMF file to write, ending in .xmf or .xdmf; the fields are named "
                      "relative to it (default: FILE.xmf beside the series)")
    xdmf.set_defaults(action=xdmf_command)

    check = command("check", "is the run sound? (reads every file)",
                    "Reads and checks every snapshot file, or every member of a series and its "
                    "record. Exit status: 0 sound, 2 the first problem found, named in one line.")
    check.set_defaults(action=check_command)

    compare = command(
        "compare", "are two runs identical, label by label or step by step?",
        "Compares two runs. Snapshot files against snapshot files, label by label, and a series "
        "against a series, step by step, bit for bit, at the labels or steps both have; then "
        "names those only one has. A series against snapshot files at the "
        "steps both have (the file labelled L holds step L + 1): the text has six decimals, so "
        "they are the same where every value of the series, printed as %f, is the text's. "
        "Exit status: 0 identical, 1 different (a value, or labels or steps present in one run "
        "only), 2 bad input.")
    compare.add_argument("runs", type=str, nargs="+", metavar="RUN_A RUN_B",
                         help="two runs: folders, series or their files")
    compare.set_defaults(action=compare_command)

    scaling = command(
        "scaling", "strong and weak scaling curves from heat2d-study --json lines, with the model",
        "Reads the JSON lines of heat2d-study --json runs and draws, for strong scaling (one grid, "
        "P grows), the time per step, the speed-up and the parallel efficiency against P, and for "
        "weak scaling (the grid grows with P, the cells per process stay) the efficiency, each "
        "against the series' smallest P, on log axes, one line per series; prints the same as "
        "tables. Runs that differ in anything but the grid and the processes (split, exchange, "
        "threads, steps per pass, steps, dt, fields saved) are never in one series, runs of one "
        "series at one P give their median. The model t = c·cells/threads + alpha·messages + "
        "beta·bytes (the busiest process's per step) is fitted to every run by least squares "
        "with no constant below 0, or takes the constants given, and is drawn dashed; a constant "
        "the runs do not determine is said to be so.")
    scaling.add_argument("runs", type=pathlib.Path, metavar="RUNS.jsonl",
                         help="the runs' --json lines, one a line")
    for name, unit in (("c", "seconds per cell update"), ("alpha", "seconds per message"),
                       ("beta", "seconds per byte")):
        scaling.add_argument(f"--{name}", type=positive_number,
                             help=f"the model's {name}, {unit} (default: fitted)")
    scaling.add_argument("-o", "--output", type=pathlib.Path,
                         help="picture to write, PNG, PDF or SVG (default: RUNS.png beside the "
                         "file)")
    scaling.set_defaults(action=scaling_command)
    return p


def main(argv=None):
    options = parser().parse_args(argv)
    try:
        return options.action(options) or 0
    except (RunError, OSError) as error:
        print(f"heat2d-view: {error}", file=sys.stderr)
        return 2
