"""Scaling sweeps (scripts/scaling.py) on this host, and Slurm for real: a one-node Slurm of the
test's own runs the sweep and the chain of jobs of scripts/slurm/ as jobs, whose saved fields hold
one process's bytes, also when a job is cancelled mid-run and the next one finishes the run."""
import ctypes
import json
import os
import pwd
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import pytest

from conftest import MPIEXEC, launch

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))
SCRIPTS = Path(__file__).resolve().parent.parent / "scripts"
SMALL = ["--rows", 32, "--cols", 48, "--steps", 20, "--dt", 1e-6]
# Long enough on two processes that a job can be stopped after the second of its twelve fields.
LONG = ["--rows", 512, "--cols", 512, "--steps", 6000, "--dt", 1e-7, "--every", 0, "--json"]
TIMEOUT = 300


def sweep(folder, *arguments, env=None):
    return subprocess.run([sys.executable, SCRIPTS / "scaling.py", *map(str, arguments)],
                          cwd=folder, capture_output=True, text=True, timeout=TIMEOUT,
                          env={**os.environ, "HEAT2D_STUDY": STUDY, **(env or {})})


def json_lines(path):
    return [json.loads(line) for line in path.read_text().splitlines()]


def wait_for(condition, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()


def test_strong_and_weak_sweeps_give_a_line_per_run_and_skip_the_runs_done(tmp_path):
    strong = ["strong", "strong.jsonl", "--vary", "split=strips,blocks", "--", *SMALL]
    assert sweep(tmp_path, "-p", "1,2", *strong).returncode == 0
    again = sweep(tmp_path, "-p", "1-3", *strong)
    assert again.returncode == 0 and "6 runs, 4 already in strong.jsonl" in again.stderr
    runs = json_lines(tmp_path / "strong.jsonl")
    assert [(run["processes"], run["split"]) for run in runs] == \
        [(p, split) for p in (1, 2, 3) for split in ("strips", "blocks")]
    assert {(run["rows"], run["cols"], run["sweep"]["kind"]) for run in runs} == {(32, 48, "strong")}

    weak = sweep(tmp_path, "weak", "weak.jsonl", "-p", "1,2,4", "--per-process", "16x24", "--vary",
                 "split=strips,blocks", "--", "--steps", 20, "--dt", 1e-6)
    assert weak.returncode == 0, weak.stderr
    runs = json_lines(tmp_path / "weak.jsonl")
    assert [(run["processes"], run["procs"]) for run in runs] == \
        [(1, [1, 1]), (1, [1, 1]), (2, [2, 1]), (2, [2, 1]), (4, [4, 1]), (4, [2, 2])]
    assert all((run["rows"], run["cols"]) == (16 * run["procs"][0], 24 * run["procs"][1])
               for run in runs)


def test_an_interrupted_sweep_leaves_whole_lines_and_the_next_one_runs_the_rest(tmp_path):
    output = tmp_path / "runs.jsonl"
    arguments = ["strong", output, "-p", "1,2", "--repeat", 3, "--", "--rows", 256, "--cols", 256,
                 "--steps", 2000, "--dt", 1e-7]
    scratch = tmp_path / "scratch"
    scratch.mkdir()
    run = subprocess.Popen([sys.executable, SCRIPTS / "scaling.py", *map(str, arguments)],
                           cwd=tmp_path, stderr=subprocess.PIPE, text=True,
                           env={**os.environ, "HEAT2D_STUDY": STUDY, "HEAT2D_MPI_SCRATCH": scratch})
    try:
        assert wait_for(lambda: output.exists() and output.read_text().count("\n") >= 1)
        # The run's shared-memory segments are in a folder of its own, which goes with it.
        assert wait_for(lambda: list(scratch.glob("heat2d-mpi-*/vader_segment.*")))
        run.send_signal(signal.SIGINT)
        assert run.wait(timeout=60) == 130, run.stderr.read()
    finally:
        if run.poll() is None:
            run.kill()
    assert list(scratch.iterdir()) == []
    assert output.read_text().endswith("\n") and 1 <= len(json_lines(output)) < 6
    # A line cut short as the machine went down is removed; the runs done are not run again.
    with open(output, "a") as file:
        file.write('{"rows": 25')
    finished = sweep(tmp_path, *arguments)
    assert finished.returncode == 0 and "removing a last line cut short" in finished.stderr
    assert sorted((run["processes"], run["sweep"]["repeat"]) for run in json_lines(output)) == \
        [(p, repeat) for p in (1, 2) for repeat in range(3)]


BAD_SWEEPS = [
    (["weak", "w.jsonl", "-p", "2", "--per-process", "8x8", "--", "--rows", 16],
     "scaling.py: a weak sweep sets the grid itself: leave out --rows"),
    (["strong", "s.jsonl", "-p", "2,0"], "scaling.py: -p '2,0' is not a list of process counts"),
    (["strong", "s.jsonl", "-p", "1", "--vary", "split"], "scaling.py: --vary 'split' is not"),
    (["strong", "other.jsonl", "-p", "1"], "scaling.py: other.jsonl: line 2 is not a run's JSON"),
    (["strong", "s.jsonl", "-p", "3-1"], "scaling.py: -p '3-1' counts down"),
    (["strong", "s.jsonl", "-p", "1", "--repeat", "x"], "scaling.py: argument --repeat: invalid"),
    (["strong", "s.jsonl", "-p", "1", "--program", "/nonexistent"],
     "scaling.py: --program /nonexistent is not a program that can be run"),
    (["strong", "s.jsonl", "-p", "1", "--program", "/bin/true"],
     "scaling.py: --program /bin/true is not heat2d-study"),
    (["strong", "s.jsonl", "-p", "1", "--launcher", "no-such-launcher"],
     "scaling.py: --launcher 'no-such-launcher': no such command"),
    (["strong", "s.jsonl", "-p", "1,2", "--vary", "nosuchopt=1,2"],
     "scaling.py: heat2d-study refuses the options --every 0 --nosuchopt 1: unknown option"),
    (["strong", "s.jsonl", "-p", "1", "--", "--rows", "8", "--split", "rows"],
     "scaling.py: heat2d-study refuses the options --every 0 --rows 8 --split rows: option --split"),
    (["strong", ".", "-p", "1"], "scaling.py: . is not a regular file"),
    (["strong", "no/s.jsonl", "-p", "1"], "scaling.py: no/s.jsonl: no folder no"),
]


@pytest.mark.parametrize("arguments, message", BAD_SWEEPS)
def test_a_bad_sweep_is_refused_in_one_line_and_runs_nothing(tmp_path, arguments, message):
    (tmp_path / "other.jsonl").write_text('{"rows": 8}\nrows 8\n')
    result = sweep(tmp_path, *arguments)
    assert result.returncode == 2 and result.stderr.count("\n") == 1, result.stderr
    assert result.stderr.startswith(message)
    assert sorted(path.name for path in tmp_path.iterdir()) == ["other.jsonl"]


def chain_job(folder, *arguments):
    """One job of a chain run as its batch script, on this host, without Slurm."""
    return subprocess.run(["bash", SCRIPTS / "slurm" / "chain.sbatch", *map(str, arguments)],
                          cwd=folder, capture_output=True, text=True, timeout=TIMEOUT,
                          env={**os.environ, "HEAT2D_STUDY": STUDY,
                               "HEAT2D_LAUNCHER": f"{MPIEXEC} -n 2"})


# Where --initial and --steps stand, and in which form: the job that goes on from a saved field
# drops --initial however it was given and finds --steps however it was given.
CHAIN_OPTIONS = [
    ["--initial", "s.npy", "--dt", 1e-5, "--steps", 200, "--every", 0],
    ["--dt", 1e-5, "--initial", "s.npy", "--steps", 200, "--every", 0],
    ["--dt", 1e-5, "--steps", 200, "--every", 0, "--initial", "s.npy"],
    ["--initial=s.npy", "--dt", 1e-5, "--steps=200", "--every", 0],
]


@pytest.mark.parametrize("options", CHAIN_OPTIONS)
def test_a_chain_from_a_starting_field_goes_on_from_its_newest_field(tmp_path, options):
    field = np.linspace(0.0, 1.0, 32 * 48).reshape(32, 48)
    np.save(tmp_path / "s.npy", field)
    first = chain_job(tmp_path, "f.npy", 100, *options)
    assert first.returncode == 0, first.stderr
    whole = (tmp_path / "f.npy").read_bytes()
    # As if the first job had been cut after its first saved field.
    for name in ("f.npy", "f.npy.json", "f.200.npy", "f.200.npy.json"):
        (tmp_path / name).unlink()
    second = chain_job(tmp_path, "f.npy", 100, *options)
    assert second.returncode == 0, second.stderr
    assert "going on from f.100.npy" in second.stdout
    assert (tmp_path / "f.npy").read_bytes() == whole
    assert json.loads((tmp_path / "f.npy.json").read_text())["initial"] == str(tmp_path / "s.npy")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def child_of_this_test(user=None):
    """Run in the daemon before it starts: as `user`, and sent SIGTERM if the test process dies
    however it dies (the setting must follow the change of user, which clears it)."""
    def set_up():
        if user:
            os.setgroups([])
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    return set_up


# Job ids start somewhere new in every cluster of the test's: a step cancelled mid-launch leaves
# Slurm's PMIx folder /tmp/spmix_appdir_UID_JOB.STEP behind, and a later cluster's job of the same
# id could not launch its step.
SLURM_CONF = """ClusterName=heat2dtest
FirstJobId={first_job}
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={controller_port}
SlurmdPort={node_port}
AuthType=auth/munge
AuthInfo=socket={munge}/socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation={folder}/state
SlurmdSpoolDir={folder}/spool
SlurmctldPidFile={folder}/slurmctld.pid
SlurmdPidFile={folder}/slurmd.pid
SlurmctldLogFile={folder}/slurmctld.log
SlurmdLogFile={folder}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
KillWait=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
NodeName={host} NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
"""


def start_slurm(folder, munge, daemons):
    """munged as the munge user with a key and socket of its own, then slurmctld and slurmd of a
    one-node cluster on free ports; returns the environment that reaches it."""
    user = pwd.getpwnam("munge")
    key = munge / "munge.key"
    key.write_bytes(os.urandom(1024))
    key.chmod(0o400)
    for path in (munge, key):
        os.chown(path, user.pw_uid, user.pw_gid)
    munge.chmod(0o755)  # every client reaches the socket
    daemons.append(subprocess.Popen(
        ["munged", "--foreground", f"--socket={munge}/socket", f"--key-file={key}",
         f"--pid-file={munge}/pid", f"--log-file={munge}/log", f"--seed-file={munge}/seed"],
        preexec_fn=child_of_this_test(user), stderr=subprocess.DEVNULL))
    assert wait_for(lambda: (munge / "socket").exists(), 30), "munged did not start"
    for name in ("state", "spool"):
        (folder / name).mkdir()
    conf = folder / "slurm.conf"
    conf.write_text(SLURM_CONF.format(host=socket.gethostname().split(".")[0], munge=munge,
                                      folder=folder, controller_port=free_port(),
                                      node_port=free_port(),
                                      first_job=random.randrange(10**5, 10**7)))
    # The jobs' Open MPI folders are made in the test's own folder: a job cancelled past Slurm's
    # KillWait is killed before its script can remove its folder.
    (folder / "scratch").mkdir()
    environment = {**os.environ, "SLURM_CONF": str(conf), "HEAT2D_STUDY": STUDY,
                   "HEAT2D_MPI_SCRATCH": str(folder / "scratch")}
    for daemon in (["slurmctld", "-D", "-i"], ["slurmd", "-D"]):
        daemons.append(subprocess.Popen([*daemon, "-f", conf], env=environment,
                                        preexec_fn=child_of_this_test(), stderr=subprocess.DEVNULL))
    idle = wait_for(lambda: subprocess.run(["sinfo", "-h", "-o", "%T"], env=environment,
                                           capture_output=True, text=True).stdout == "idle\n", 60)
    assert idle, (folder / "slurmd.log").read_text()[-2000:]
    return environment


def stop_slurm(environment, daemons):
    """Cancels what still runs, then stops the daemons, last started first."""
    if environment:
        subprocess.run(["scancel", "--partition=test"], env=environment, timeout=60)
        wait_for(lambda: subprocess.run(["squeue", "-h"], env=environment, capture_output=True,
                                        text=True).stdout == "", 60)
    for daemon in reversed(daemons):
        daemon.terminate()
        try:
            daemon.wait(timeout=30)
        except subprocess.TimeoutExpired:
            daemon.kill()
            daemon.wait()


@pytest.fixture(scope="module")
def slurm(tmp_path_factory):
    """The environment for Slurm's commands; skipped where Slurm cannot be started."""
    if os.geteuid() != 0:
        pytest.skip("a Slurm of the test's own needs root")
    missing = [name for name in ("munged", "slurmctld", "slurmd", "sbatch") if not shutil.which(name)]
    if missing:
        pytest.skip(f"no {missing[0]}: Debian's slurm-wlm is not installed")
    daemons, environment = [], None
    munge = Path(tempfile.mkdtemp(prefix="heat2d-munge-", dir="/run"))
    try:
        environment = start_slurm(tmp_path_factory.mktemp("slurm"), munge, daemons)
        yield environment
    finally:
        stop_slurm(environment, daemons)
        shutil.rmtree(munge)


def one_process(folder, problem):
    result = launch(1, folder, command=[STUDY, *problem, "--save", "one.npy"])
    assert result.returncode == 0, result.stderr
    return (folder / "one.npy").read_bytes()


def slurm_command(environment, folder, *arguments):
    result = subprocess.run(list(map(str, arguments)), cwd=folder, env=environment,
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return result.stdout.split()


def job_state(environment, job):
    """The job's state once it has ended (COMPLETED, CANCELLED, FAILED, ...)."""
    ended = ("COMPLETED", "CANCELLED", "FAILED", "TIMEOUT", "NODE_FAIL", "OUT_OF_MEMORY")

    def state():
        shown = subprocess.run(["scontrol", "-o", "show", "job", job], env=environment,
                               capture_output=True, text=True).stdout
        return next((word.split("=")[1] for word in shown.split()
                     if word.startswith("JobState=")), "")
    wait_for(lambda: state() in ended)
    return state()


def last_json(path):
    """The summary heat2d-study printed in a job's output."""
    lines = path.read_text().splitlines()
    return json.loads(next(line for line in reversed(lines) if line.startswith("{")))


def test_a_two_process_job_saves_the_bytes_of_one_process(slurm, tmp_path):
    problem = ["--rows", 32, "--cols", 48, "--steps", 500, "--dt", 1e-6, "--every", 0, "--json"]
    (job,) = slurm_command(slurm, tmp_path, "sbatch", "--parsable", "-n", 2, "-o", "%j.out",
                           SCRIPTS / "slurm" / "chain.sbatch", "f.npy", 200, *problem)
    assert job_state(slurm, job) == "COMPLETED", (tmp_path / f"{job}.out").read_text()
    summary = last_json(tmp_path / f"{job}.out")
    assert summary["processes"] == 2 and summary["first_step"] == 0
    assert (tmp_path / "f.npy").read_bytes() == one_process(tmp_path, problem)


def test_a_job_cancelled_mid_run_is_finished_by_the_next_in_the_chain_bit_for_bit(slurm,
                                                                                   tmp_path):
    jobs = slurm_command(slurm, tmp_path, "bash", SCRIPTS / "slurm" / "chain.sh", 3, "-n", 2,
                         "-o", "%j.out", "--", "f.npy", 500, *LONG)
    first, second, third = jobs
    out = {job: tmp_path / f"{job}.out" for job in jobs}
    slurm_command(slurm, tmp_path, "scontrol", "hold", second)
    assert wait_for(lambda: len(list(tmp_path.glob("f.*.npy.json"))) >= 2), \
        "the first job did not save two fields"
    # Stopped at once, so that it cannot have finished; then cancelled, as a time limit would.
    slurm_command(slurm, tmp_path, "scontrol", "suspend", first)
    slurm_command(slurm, tmp_path, "scancel", first)
    assert job_state(slurm, first) == "CANCELLED", out[first].read_text()
    assert not (tmp_path / "f.npy").exists()
    newest = max(int(path.name.split(".")[1]) for path in tmp_path.glob("f.*.npy.json"))
    slurm_command(slurm, tmp_path, "scontrol", "release", second)
    assert job_state(slurm, second) == "COMPLETED", out[second].read_text()
    summary = last_json(out[second])
    assert summary["processes"] == 2 and summary["first_step"] == newest < 6000
    expected = one_process(tmp_path, LONG)
    assert (tmp_path / "f.npy").read_bytes() == expected
    # The run is done: the rest of the chain ends at once and leaves the field as it is.
    assert job_state(slurm, third) == "COMPLETED" and "the run is done" in out[third].read_text()
    assert (tmp_path / "f.npy").read_bytes() == expected


def test_a_sweep_runs_as_a_slurm_job(slurm, tmp_path):
    (job,) = slurm_command(slurm, tmp_path, "sbatch", "--parsable", "-n", 2, "-o", "%j.out",
                           "--export", f"ALL,HEAT2D_ROOT={SCRIPTS.parent}",
                           SCRIPTS / "slurm" / "sweep.sbatch", "strong", "runs.jsonl", "-p", "1,2",
                           "--", *SMALL)
    assert job_state(slurm, job) == "COMPLETED", (tmp_path / f"{job}.out").read_text()
    assert [run["processes"] for run in json_lines(tmp_path / "runs.jsonl")] == [1, 2]
