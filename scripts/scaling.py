#!/usr/bin/env python3
"""Scaling sweeps of heat2d-study: runs a grid on a list of process counts (strong scaling) or a
fixed block per process (weak scaling), over every combination of the options varied, and appends
each run's --json line to a file. A sweep run again skips the runs the file already holds."""
import argparse
import contextlib
import itertools
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

ME = "scaling.py"
ROOT = Path(__file__).resolve().parent.parent
USAGE = f"""{ME} strong|weak OUTPUT.jsonl -p P[,P...] [--per-process RxC] [--vary OPTION=V[,V...]]...
       [--repeat N] [--launcher COMMAND | --hostfile FILE] [--program PATH] [--dry-run]
       -- [HEAT2D-STUDY-OPTION...]"""
DESCRIPTION = """Runs heat2d-study with every process count P given and every combination of the
values of the options varied, --repeat times each, and appends each run's --json line to OUTPUT
with a "sweep" object ({"kind", "args", "repeat"}) that says which run of the sweep it is. A run
that fails adds nothing (it is retried when the sweep runs again); a sweep interrupted leaves whole
lines only, and one started again runs only what OUTPUT does not hold yet. The options after --
go to every run unchanged, with --every 0 unless they say otherwise; --json is added.

strong: the grid the options give (--rows, --cols), on P processes.
weak: every process holds a block of --per-process R x C cells: strips get a grid of (R*P) x C,
blocks a PX x PY process grid as MPI_Dims_create makes it (passed as --procs) and a grid of
(R*PX) x (C*PY). The sweep sets --rows, --cols and --procs itself.

Examples (on this host; see also scripts/slurm/sweep.sbatch):
  scripts/scaling.py strong strong.jsonl -p 1,2,4 --vary split=strips,blocks -- \\
      --rows 4096 --cols 4096 --steps 50 --dt 1e-9
  scripts/scaling.py weak weak.jsonl -p 1,2,4 --per-process 2048x2048 -- --steps 50 --dt 1e-9

Before any run, the options, OUTPUT, the launcher and the program are checked, and every
combination of options is given to heat2d-study with --help, which reads them all first.

Exit status: 0 when every run is in OUTPUT, 1 when some failed, 2 for bad options (one line,
before any run) or an OUTPUT that is not a file of JSON lines, 128 + N when stopped by signal N."""
# Open MPI as scripts/mpi_env.sh sets it up: as root, and more processes than cores.
MPI_ENVIRONMENT = {"OMPI_ALLOW_RUN_AS_ROOT": "1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1",
                   "OMPI_MCA_rmaps_base_oversubscribe": "1"}
STOPS = {signal.SIGINT: "interrupted", signal.SIGTERM: "terminated", signal.SIGHUP: "hung up"}


class Refusal(Exception):
    """Bad options or a bad OUTPUT: one line, status 2."""


class Stopped(Exception):
    def __init__(self, number):
        super().__init__(number)
        self.number = number


def process_counts(text):
    """'1,2,4' or '1-4,8': positive whole numbers, in the order given."""
    counts = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        if not (first.isdigit() and (last or first).isdigit()) or int(first) < 1:
            raise Refusal(f"-p '{text}' is not a list of process counts like 1,2,4 or 1-4")
        if int(last or first) < int(first):
            raise Refusal(f"-p '{text}' counts down: a range goes up, like 1-4")
        counts += range(int(first), int(last or first) + 1)
    return counts


def block_size(text):
    rows, _, cols = text.partition("x")
    if not (rows.isdigit() and cols.isdigit()) or min(int(rows), int(cols)) < 2:
        raise Refusal(f"--per-process '{text}' is not a block like 2048x2048 (two or more each)")
    return int(rows), int(cols)


def varied(text):
    """'split=strips,blocks' (or '--split=...'): the option and its values."""
    name, _, values = text.partition("=")
    if not name.strip("-") or not values or "" in values.split(","):
        raise Refusal(f"--vary '{text}' is not OPTION=VALUE[,VALUE...], e.g. split=strips,blocks")
    return "--" + name.lstrip("-"), values.split(",")


class Parser(argparse.ArgumentParser):
    """argparse, with a bad option refused in one line like every other refusal."""
    def error(self, message):
        raise Refusal(f"{message} (--help tells the options)")


def parse(arguments):
    own, study = arguments, []
    if "--" in arguments:
        cut = arguments.index("--")
        own, study = arguments[:cut], arguments[cut + 1:]
    parser = Parser(prog=ME, usage=USAGE, description=DESCRIPTION,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=("strong", "weak"))
    parser.add_argument("output", type=Path)
    parser.add_argument("-p", "--processes", required=True, type=process_counts)
    parser.add_argument("--per-process", type=block_size)
    parser.add_argument("--vary", action="append", default=[], type=varied)
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--launcher", default="mpiexec")
    parser.add_argument("--hostfile")
    parser.add_argument("--program", default=default_program())
    parser.add_argument("--dry-run", action="store_true")
    options = parser.parse_args(own)
    options.study = study
    if (options.kind == "weak") != (options.per_process is not None):
        raise Refusal("--per-process RxC is what a weak sweep needs, and only a weak sweep")
    if options.repeat < 1:
        raise Refusal(f"--repeat {options.repeat} is not a positive number")
    return options


def default_program():
    """HEAT2D_STUDY, this checkout's build, or an installed heat2d-study on PATH."""
    built = ROOT / "build" / "heat2d-study"
    return os.environ.get("HEAT2D_STUDY") or (str(built) if built.exists() else "heat2d-study")


def option_value(args, name, default=None):
    """The value of the last `name VALUE` in args."""
    values = [args[i + 1] for i in range(len(args) - 1) if args[i] == name]
    return values[-1] if values else default


def dims_create(count):
    """The most nearly square PX x PY with PX >= PY, as MPI_Dims_create makes it."""
    columns = max(c for c in range(1, int(count ** 0.5) + 1) if count % c == 0)
    return count // columns, columns


def weak_grid(args, count, block):
    """The options that give every one of `count` processes a block of block[0] x block[1]."""
    for fixed in ("--rows", "--cols", "--procs", "--initial", "--restart"):
        if fixed in args:
            raise Refusal(f"a weak sweep sets the grid itself: leave out {fixed}")
    if option_value(args, "--split", "strips") == "blocks":
        rows, cols = dims_create(count)
        return ["--rows", str(block[0] * rows), "--cols", str(block[1] * cols),
                "--procs", f"{rows}x{cols}"]
    return ["--rows", str(block[0] * count), "--cols", str(block[1])]


def combinations(options):
    """The options of every combination of the values varied, as every P gets them (but the grid
    of a weak sweep)."""
    names = [name for name, _ in options.vary]
    base = options.study if "--every" in options.study or "--every" in names else \
        ["--every", "0", *options.study]
    return [base + [part for pair in zip(names, values) for part in pair]
            for values in itertools.product(*(values for _, values in options.vary))]


def planned_runs(options):
    """(args, processes, repeat) of every run, in order: each P with every combination."""
    runs = []
    for count in options.processes:
        for args in combinations(options):
            if options.kind == "weak":
                args = weak_grid(args, count, options.per_process) + args
            runs += [(args, count, repeat) for repeat in range(options.repeat)]
    return runs


def check_output(output):
    """OUTPUT is a regular file that can be appended to, or a new name in a folder that takes
    files."""
    if output.exists() or output.is_symlink():
        if not output.is_file():
            raise Refusal(f"{output} is not a regular file: give a file of JSON lines")
        if not os.access(output, os.W_OK):
            raise Refusal(f"{output} cannot be written (permission denied)")
        return
    folder = output.parent
    if not folder.is_dir():
        raise Refusal(f"{output}: no folder {folder}")
    if not os.access(folder, os.W_OK | os.X_OK):
        raise Refusal(f"{output}: the folder {folder} takes no new files (permission denied)")


def check_launch(options):
    """The launcher and the host file exist, and the program runs and is heat2d-study."""
    launcher = shlex.split(options.launcher)
    if not launcher or not shutil.which(launcher[0]):
        raise Refusal(f"--launcher '{options.launcher}': no such command")
    if options.hostfile and not os.access(options.hostfile, os.R_OK):
        raise Refusal(f"--hostfile {options.hostfile} cannot be read")
    if os.sep not in options.program and not shutil.which(options.program):
        raise Refusal(f"no {options.program} on PATH: give --program, or set HEAT2D_STUDY")
    if os.sep in options.program and not (os.path.isfile(options.program) and
                                         os.access(options.program, os.X_OK)):
        raise Refusal(f"--program {options.program} is not a program that can be run")


def check_options(options, environment):
    """heat2d-study reads every option before it acts on --help, so each combination of options
    the sweep gives it is checked once, without a launcher: an unknown option or a bad value is
    refused in heat2d-study's own words before any run."""
    for args in combinations(options):
        try:
            result = subprocess.run([options.program, *args, "--help"], stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, env=environment, timeout=60)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise Refusal(f"--program {options.program} cannot be run ({error})") from None
        words = (result.stderr.strip().splitlines() or ["no reason given"])[-1]
        if result.returncode != 0:
            words = words.removeprefix("heat2d-study: ")
            raise Refusal(f"heat2d-study refuses the options {shlex.join(args)}: {words}")
        if "--json" not in result.stdout:
            raise Refusal(f"--program {options.program} is not heat2d-study (its --help does not "
                          "offer --json)")


def identity(kind, args, count, repeat):
    return kind, tuple(args), count, repeat


def runs_done(output):
    """The runs the file already holds. A last line cut short (the machine went down as it was
    written) is removed; any other line that is not a JSON object is refused."""
    if not output.exists():
        return set()
    data = output.read_bytes()
    whole = data[:data.rfind(b"\n") + 1]
    if len(whole) < len(data):
        print(f"{ME}: {output}: removing a last line cut short", file=sys.stderr)
        with open(output, "r+b") as file:
            file.truncate(len(whole))
    done = set()
    for number, line in enumerate(whole.decode(errors="replace").splitlines(), start=1):
        try:
            record = json.loads(line)
            sweep = record.get("sweep") if isinstance(record, dict) else None
            if sweep is not None:
                done.add(identity(sweep["kind"], sweep["args"], record["processes"],
                                  sweep["repeat"]))
        except (ValueError, KeyError, TypeError, AttributeError):
            raise Refusal(f"{output}: line {number} is not a run's JSON object") from None
    return done


def command(options, args, count):
    launcher = shlex.split(options.launcher)
    if options.hostfile:
        launcher += ["--hostfile", options.hostfile]
    return [*launcher, "-n", str(count), options.program, *args, "--json"]


def result_line(stdout, count):
    """The run's JSON object, checked to come from `count` processes; None if there is none."""
    for line in reversed(stdout.splitlines()):
        try:
            record = json.loads(line)
        except ValueError:
            continue
        if isinstance(record, dict) and record.get("processes") == count:
            return record
    return None


def stop(number, _frame):
    raise Stopped(number)


def local_job(options):
    """Whether every process of a run is on this host: no host file, and no Slurm allocation of
    several nodes."""
    return not options.hostfile and os.environ.get("SLURM_JOB_NUM_NODES", "1") == "1"


@contextlib.contextmanager
def job_files(environment, local):
    """The environment of one run. On this host, Open MPI's shared-memory segments (4 MiB each, in
    /dev/shm) go to a folder of the run's own, removed when the run is over however it ended: a
    run killed outright leaves them behind. HEAT2D_MPI_SCRATCH says where (default /dev/shm)."""
    if not local:
        yield environment
        return
    scratch = os.environ.get("HEAT2D_MPI_SCRATCH") or ("/dev/shm" if os.path.isdir("/dev/shm")
                                                       else None)
    folder = tempfile.mkdtemp(prefix="heat2d-mpi-", dir=scratch)
    try:
        yield {**environment, "OMPI_MCA_btl_vader_backing_directory": folder}
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def run(argv, environment):
    """Runs one command in a session of its own, so that a stop signal is passed on to it once;
    returns its status and standard output."""
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True,
                             env=environment, start_new_session=True)
    try:
        stdout, _ = child.communicate()
        return child.returncode, stdout
    except Stopped:
        with held_signals():
            os.killpg(child.pid, signal.SIGTERM)
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
        raise


class held_signals:
    def __enter__(self):
        self.previous = signal.pthread_sigmask(signal.SIG_BLOCK, STOPS)

    def __exit__(self, *_):
        signal.pthread_sigmask(signal.SIG_SETMASK, self.previous)


def append(output, record):
    """One write of one whole line to a file opened for appending."""
    line = (json.dumps(record) + "\n").encode()
    with held_signals():
        descriptor = os.open(output, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o666)
        try:
            if os.write(descriptor, line) != len(line):
                raise OSError(f"a short write to {output}")
        finally:
            os.close(descriptor)


def sweep(options):
    runs = planned_runs(options)
    if not runs:
        raise Refusal("no runs to make")
    check_output(options.output)
    done = runs_done(options.output)
    environment = {**MPI_ENVIRONMENT, **os.environ}
    check_launch(options)
    check_options(options, environment)
    to_go = [(args, count, repeat) for args, count, repeat in runs
             if identity(options.kind, args, count, repeat) not in done]
    if options.dry_run:
        for args, count, _ in to_go:
            print(shlex.join(command(options, args, count)))
        return 0
    print(f"{ME}: {len(runs)} runs, {len(runs) - len(to_go)} already in {options.output}, "
          f"{len(to_go)} to go", file=sys.stderr)
    failed = 0
    for number, (args, count, repeat) in enumerate(to_go, start=1):
        argv = command(options, args, count)
        with job_files(environment, local_job(options)) as job:
            status, stdout = run(argv, job)
        record = result_line(stdout, count) if status == 0 else None
        if record is None:
            failed += 1
            why = f"status {status}" if status else f"no JSON line from {count} processes"
            print(f"{ME}: [{number}/{len(to_go)}] failed ({why}): {shlex.join(argv)}",
                  file=sys.stderr)
            continue
        record["sweep"] = {"kind": options.kind, "args": args, "repeat": repeat}
        append(options.output, record)
        print(f"{ME}: [{number}/{len(to_go)}] {count} process{'es' * (count > 1)} "
              f"{shlex.join(args)}: "
              f"{record.get('seconds_per_step', float('nan')):.4g} s per step", file=sys.stderr)
    if failed:
        print(f"{ME}: {failed} of {len(to_go)} runs failed; run the sweep again to retry them",
              file=sys.stderr)
    return 1 if failed else 0


def main(arguments):
    for number in STOPS:
        if signal.getsignal(number) is not signal.SIG_IGN:
            signal.signal(number, stop)
    try:
        return sweep(parse(arguments))
    except Refusal as refusal:
        print(f"{ME}: {refusal}", file=sys.stderr)
        return 2
    except Stopped as stopped:
        print(f"{ME}: {STOPS[stopped.number]}; the runs done so far are in the file, each on a "
              f"line of its own", file=sys.stderr)
        return 128 + stopped.number
    except OSError as error:
        print(f"{ME}: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
