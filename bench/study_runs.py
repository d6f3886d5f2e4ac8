"""Running heat2d-study for the benchmarks: one run's figures from its JSON summary, runs taken in
turn, medians, pictures, and what machine gave them."""
import json
import os
import platform
import statistics
import subprocess


def study(build, processes, *options, launcher=None, cwd=None):
    """The JSON summary of one run of heat2d-study with the given options (no snapshots unless
    the options ask for them). `launcher` replaces `mpiexec -n P` (e.g. scripts/hosts.sh)."""
    command = [*(launcher or ["mpiexec", "-n", str(processes)]), str(build / "heat2d-study"),
               "--every", "0", *map(str, options), "--json"]
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, check=True)
    return json.loads(result.stdout.splitlines()[-1])


def median(values):
    return statistics.median(values)


def alternating(rounds, runs):
    """{name: [figures of each round]} with every run taking its turn in every round."""
    results = {name: [] for name in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            results[name].append(run())
    return results


def save_picture(figure, axes, picture):
    """The finishing touches every benchmark picture gets, and the file."""
    axes.legend(fontsize="small")
    axes.grid(True, which="both", alpha=0.3)
    figure.tight_layout()
    figure.savefig(picture)
    print(f"picture: {picture}")


def processor():
    """The processor's name, with its family and model: the name alone does not tell a VM's
    processors apart."""
    fields = {}
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
    except OSError:
        pass
    model = fields.get("model name") or platform.processor() or platform.machine()
    if "cpu family" in fields and "model" in fields:
        model += f", family {fields['cpu family']} model {fields['model']}"
    return model


def machine():
    mpi = subprocess.run(["mpiexec", "--version"], capture_output=True, text=True).stdout
    return f"{os.cpu_count()} cores ({processor()}), {mpi.splitlines()[0]}"
