"""heat2d-study across hosts made by scripts/hosts.sh: the bytes of one process on one host, the
processes of each host grouped as a node, the program's status, and no host left behind."""
import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import MPIEXEC, launch

STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))
HOSTS_SH = Path(__file__).resolve().parent.parent / "scripts" / "hosts.sh"
# Rows of 9000 doubles (72 KB) are beyond what Open MPI's TCP transport sends eagerly (64 KiB):
# an exchange that sent both rows before receiving either would deadlock across the hosts.
PROBLEM = ["--rows", 64, "--cols", 9000, "--steps", 30, "--dt", 5e-9, "--every", 0]
# Processes per host and heat2d-study's own options, none of which may change a single bit of
# the answer: strips and blocks (1 x 2 on two processes, 2 x 2 on four), both exchanges.
VARIANTS = [(1, []), (1, ["--exchange", "overlap"]),
            (2, ["--split", "blocks"]), (2, ["--split", "blocks", "--exchange", "overlap"])]
RUN_TIMEOUT = 120


def start_hosts(folder, *arguments, env=None):
    """Starts scripts/hosts.sh away from any terminal (where it would take SIGINT for Ctrl-C,
    which reaches mpiexec by itself), with SIGINT not ignored (a test runner started in the
    background may hand that on, and bash cannot trap it then)."""
    return subprocess.Popen(
        ["bash", HOSTS_SH, *map(str, arguments)], cwd=folder, text=True,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        env={**os.environ, "MPIEXEC": MPIEXEC, **(env or {})}, start_new_session=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))


def finish(run, timeout=RUN_TIMEOUT):
    """Waits for a run of hosts.sh; a hang is ended by SIGTERM, so that the hosts are removed,
    and fails the test. Status 77 (no hosts can be made here) skips it with the script's reason."""
    try:
        stdout, stderr = run.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        run.terminate()
        run.communicate(timeout=60)
        pytest.fail(f"hosts.sh did not finish in {timeout} s")
    if run.returncode == 77:
        pytest.skip(stderr.strip())
    return run.returncode, stdout, stderr


def across_hosts(folder, *arguments):
    """Runs hosts.sh to the end and checks that it removed the hosts it made."""
    run = start_hosts(folder, *arguments)
    outcome = finish(run)
    assert namespaces(f"heat2d-{run.pid}-") == []
    return outcome


def namespaces(prefix):
    listing = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
    return [line.split()[0] for line in listing.splitlines() if line.startswith(prefix)]


def programs_in(namespace):
    """{pid: command name} of the processes in a network namespace."""
    pids = subprocess.run(["ip", "netns", "pids", namespace], capture_output=True,
                          text=True).stdout.split()
    return {pid: command_name(pid) for pid in pids}


def command_name(pid):
    """The command name of a live process; None once it has ended (or is a zombie)."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return None
    name, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
    return None if state in "ZX" else name


def one_process(folder, save):
    result = launch(1, folder, command=[STUDY, *PROBLEM, "--save", save])
    assert result.returncode == 0, result.stderr
    return (folder / save).read_bytes()


@pytest.mark.parametrize("slots, options", VARIANTS,
                         ids=[f"{slots} per host {' '.join(options)}" for slots, options in VARIANTS])
def test_two_hosts_save_the_bytes_of_one_process(tmp_path, slots, options):
    expected = one_process(tmp_path, "one.npy")
    status, stdout, stderr = across_hosts(tmp_path, "--slots", slots, "--", STUDY, *PROBLEM,
                                          *options, "--save", "hosts.npy")
    # Nothing else to say on a clean run, such as a network setting Open MPI ignored. (Its
    # launcher may warn that a daemon's agent had started before it could set its process group.)
    assert status == 0 and [line for line in stderr.splitlines() if "setpgid" not in line] == [], \
        stderr
    # 2 * slots processes in one world: a launcher that started 1-process jobs gives one line each.
    assert stdout.count(f"64 x 9000 grid, {2 * slots} processes") == 1, stdout
    assert (tmp_path / "hosts.npy").read_bytes() == expected


def test_each_host_counts_the_memory_of_its_own_processes_only(tmp_path):
    # Too large for any memory: heat2d-study names what one host's processes need and stops.
    too_large = [STUDY, "--rows", 200000, "--cols", 200000, "--dt", 1e-12]

    def per_host_gib(stderr):
        line = next(line for line in stderr.splitlines() if "too large for the memory" in line)
        return float(line.split("need ")[1].split(" GiB")[0])

    one_host = launch(4, tmp_path, command=too_large)
    status, _, stderr = across_hosts(tmp_path, "--slots", 2, "--", *too_large)
    assert status == 2 and one_host.returncode == 2, stderr
    # Two of the four strips on each host, where one host holds all four.
    assert 2 * per_host_gib(stderr) == pytest.approx(per_host_gib(one_host.stderr), abs=0.15)


def test_three_hosts_share_a_switch_and_every_link_is_limited(tmp_path):
    status, stdout, stderr = across_hosts(tmp_path, "--hosts", 3, "--rate", "100mbit", "--", "sh",
                                          "-c", 'echo "$(hostname) $(tc qdisc show dev eth0)"')
    assert status == 0, stderr
    lines = stdout.splitlines()
    assert len({line.split()[0] for line in lines}) == len(lines) == 3, stdout
    assert all(" tbf " in line and " rate 100Mbit " in line for line in lines), stdout


def test_the_program_s_status_is_passed_on(tmp_path):
    status, _, stderr = across_hosts(tmp_path, "--", "sh", "-c", "exit 3")
    assert status == 3, stderr


def sleeping_on(hosts):
    """{pid: host} of the processes named sleep in the hosts' namespaces."""
    return {pid: host for host in hosts
            for pid, name in programs_in(host).items() if name == "sleep"}


def wait_for(condition, deadline):
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


def children(pid, name):
    """The process ids of pid's children called name."""
    listed = " ".join(path.read_text() for path in Path(f"/proc/{pid}/task").glob("*/children"))
    return [int(child) for child in listed.split() if command_name(child) == name]


# Who is stopped: hosts.sh itself (by Ctrl-C or kill), or the launcher it started.
STOPS = [("hosts.sh", signal.SIGINT), ("hosts.sh", signal.SIGTERM), ("mpiexec", signal.SIGKILL)]


@pytest.mark.parametrize("whom, signal_number", STOPS,
                         ids=[f"{signal.Signals(number).name} to {whom}" for whom, number in STOPS])
def test_an_interrupted_run_leaves_no_host_behind(tmp_path, whom, signal_number):
    temporary = tmp_path / "tmp"
    temporary.mkdir()
    run = start_hosts(tmp_path, "--", "sleep", 300, env={"TMPDIR": str(temporary)})
    prefix = f"heat2d-{run.pid}-"
    hosts = [f"{prefix}host0", f"{prefix}host1"]
    deadline = time.monotonic() + RUN_TIMEOUT
    try:
        wait_for(lambda: run.poll() is not None or len(sleeping_on(hosts)) == 2, deadline)
        if run.poll() is not None:
            status, _, stderr = finish(run)
            pytest.fail(f"hosts.sh ended with status {status} before the signal: {stderr}")
        sleeping = sleeping_on(hosts)
        assert sorted(sleeping.values()) == hosts, sleeping
        if whom == "hosts.sh":
            run.send_signal(signal_number)
        else:
            (launcher,) = children(run.pid, "mpiexec")
            os.kill(launcher, signal_number)
        status, _, stderr = finish(run, timeout=60)
    finally:
        if run.poll() is None:
            run.terminate()
            run.communicate(timeout=60)
    assert status == 128 + signal_number, stderr
    if whom == "mpiexec":
        # One line, not bash's report of the killed job with its whole command line.
        assert stderr.endswith("hosts.sh: mpiexec was killed by SIGKILL; the hosts are removed\n")
        assert "ip netns exec" not in stderr, stderr
    assert namespaces(prefix) == []
    assert list(temporary.iterdir()) == []
    assert wait_for(lambda: all(command_name(pid) != "sleep" for pid in sleeping), deadline)


AS_NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
# Set-up faults: (run as nobody, TMPDIR under the test's folder, program, status, the one line).
REFUSALS = {
    "no right to make hosts": (True, None, ["echo", "ran"], 77, "hosts.sh: cannot "),
    "TMPDIR with a blank": (False, "a b", ["echo", "ran"], 2, "hosts.sh: TMPDIR '{tmp}/a b' holds"),
    "TMPDIR missing": (False, "gone", ["echo", "ran"], 2,
                       "hosts.sh: TMPDIR '{tmp}/gone' is not a folder"),
    "no such program": (False, None, ["/nonexistent"], 127,
                        "hosts.sh: cannot start '/nonexistent': no such file"),
    "a folder as the program": (False, None, ["/tmp"], 126,
                                "hosts.sh: cannot start '/tmp': not an executable file"),
}


@pytest.mark.parametrize("name", REFUSALS)
def test_what_cannot_be_set_up_runs_nothing_and_says_why_in_one_line(tmp_path, name):
    as_nobody, temporary, program, status, line = REFUSALS[name]
    (tmp_path / "a b").mkdir()
    environment = {**os.environ, "MPIEXEC": MPIEXEC}
    if temporary:
        environment["TMPDIR"] = str(tmp_path / temporary)
    command = [*(AS_NOBODY if as_nobody and os.geteuid() == 0 else []), "bash", HOSTS_SH, "--",
               *program]
    result = subprocess.run(command, cwd="/", capture_output=True, text=True, timeout=60,
                            env=environment)
    assert result.returncode == status and result.stdout == ""
    assert result.stderr.count("\n") == 1 and result.stderr.startswith(
        line.format(tmp=tmp_path)), result.stderr
    assert list((tmp_path / "a b").iterdir()) == []
