"""heat2d-view on folders written by the real solvers: reassembly, the verdict of compare, one clear
message for every kind of bad input, and the files plot, animate and vtk produce."""
import json
import os
import pathlib
import resource
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
import zlib
from decimal import Decimal

import numpy as np
import pytest
from PIL import Image, ImageSequence

from conftest import INITIAL, launch, snapshot_name

TOOLS = pathlib.Path(__file__).resolve().parent.parent / "tools"
STUDY = os.path.abspath(os.environ.get("HEAT2D_STUDY", "build/heat2d-study"))
sys.path.insert(0, str(TOOLS))
from heat2d_view import problem  # noqa: E402
from heat2d_view.run_folder import RunFolder  # noqa: E402


def view(*arguments, memory=None, env=None, **popen):
    """Runs heat2d-view to its end, or starts it when given Popen's options; `memory` limits its
    address space (bytes)."""
    def set_up():
        # The signals the tests send take effect even when the suite runs in the background, and
        # outputs get their modes under the usual umask.
        for number in (signal.SIGINT, signal.SIGHUP):
            signal.signal(number, signal.SIG_DFL)
        os.umask(0o022)
        if memory:
            resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
    command = [sys.executable, str(TOOLS / "heat2d-view"), *map(str, arguments)]
    options = dict(stderr=subprocess.PIPE, text=True, preexec_fn=set_up,
                   env={**os.environ, **(env or {})})
    if popen:
        return subprocess.Popen(command, **options, **popen)
    return subprocess.run(command, stdout=subprocess.PIPE, timeout=300, **options)


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """Run folders of heat2d for 1 to 5 processes, and of heat2d-study on a 13 x 7 grid: "study"
    with snapshot files every 4 steps (at steps 1, 5, 9, ...) and fields saved every 3, "saved"
    with the same fields saved by 2 processes and no snapshot files."""
    folders = {}
    for n in range(1, 6):
        folders[n] = tmp_path_factory.mktemp(f"n{n}")
        assert launch(n, folders[n]).returncode == 0
    for name, n, every in (("study", 3, 4), ("saved", 2, 0)):
        folders[name] = tmp_path_factory.mktemp(name)
        assert launch(n, folders[name], command=[STUDY, "--rows", 13, "--cols", 7, "--steps", 202,
                                                 "--every", every, "--save", "final.npy",
                                                 "--save-every", 3]).returncode == 0
    return folders


def test_strips_reassemble_into_the_one_process_grid(runs):
    checked = view("check", runs[5]).stdout
    assert checked == "sound: 2500 labels of a 10 x 10 grid from 5 processes\n"
    one = RunFolder(runs[1])
    assert one.shape == (10, 10) and len(one.labels) == 2500 and one.labels[-1] == 24990
    first = one.field(0)
    assert (first[0] == 100).all() and (first[1, 1:9] == 0.1).all() and first[1, 0] == 0
    assert (first[2:] == 0).all()
    reference = dict(one.fields())
    for n in range(2, 6):
        run = RunFolder(runs[n])
        assert set(run.counts.values()) == {n}
        for label, field in run.fields():
            assert np.array_equal(field, reference[label]), (n, label)
    # Any grid: the last label of the study run is step 201, which --save-every wrote exactly.
    study = RunFolder(runs["study"])
    assert study.shape == (13, 7) and study.labels[-1] == 200
    saved = np.load(runs["study"] / "final.201.npy")
    assert np.abs(study.field(200) - saved).max() <= 5e-7  # six decimals in the text
    assert view("check", runs["saved"]).stdout == ("sound: 68 saved fields of a 13 x 7 grid, steps "
                                                   "3 to 202 of dt = 1e-05, from heat2d's starting "
                                                   "field\n")


def test_compare_finds_one_changed_digit_among_thousands_of_files(runs, tmp_path):
    same = view("compare", runs[1], runs[4])
    assert same.returncode == 0
    assert same.stdout.startswith("identical: 2500 labels, 1 process against 4 processes")

    changed = tmp_path / "changed"
    shutil.copytree(runs[4], changed)
    # The initial field's top a unit lower: the snapshots' 100.000000 is within the text's rounding.
    initial = (changed / INITIAL).read_text()
    (changed / INITIAL).write_text(initial.replace("100.000000", "99.999999"))
    target = changed / snapshot_name(2, 12340)
    lines = target.read_text().split("\n")
    values = lines[7].split("\t")
    values[1] = f"{float(values[1]) + 1e-6:f}"  # grid row 5, column 7, last digit up by one
    lines[7] = "\t".join(values)
    target.write_text("\n".join(lines))
    verdict = view("compare", runs[1], changed)
    assert verdict.returncode == 1
    assert verdict.stdout.startswith("label 12340 differs first: 1 cell, at row 5, column 7")
    assert "difference 1e-06" in verdict.stdout

    fewer = tmp_path / "fewer"
    shutil.copytree(runs[2], fewer)
    for rank in (0, 1):
        (fewer / snapshot_name(rank, 24990)).unlink()
    only = view("compare", runs[2], fewer)
    assert (only.returncode, only.stdout) == (
        1, f"identical at the 2499 labels both have (0 to 24980); 1 label only in {runs[2]} "
           "(first 24990)\n")


def test_compare_series_across_process_counts_and_against_the_snapshot_text(runs, tmp_path):
    series, text = f"{runs['study']}/final.*.npy", f"{runs['study']}/rank*.000000"
    same = view("compare", series, runs["saved"])
    assert (same.returncode, same.stdout) == (0, f"identical: 68 steps, {series} against "
                                                 f"{runs['saved']}/final.*.npy\n"), same.stderr
    as_text = view("compare", series, text)
    assert as_text.returncode == 0 and as_text.stdout.startswith(
        "identical at the 17 steps both have (9 to 201): every value of"), as_text.stderr
    assert "printed as %f" in as_text.stdout

    changed = tmp_path / "changed"
    shutil.copytree(runs["saved"], changed)
    for name in "final.3.npy", "final.3.npy.json":
        (changed / name).unlink()
    # One bit against a series, the step it lacks named after; a unit of the sixth decimal
    # against snapshot files.
    lacks = f"; 1 step only in {series} (first 3)"
    for step, change, other, after in ((129, lambda v: np.nextafter(v, np.inf), series, lacks),
                                       (21, lambda v: v + 1e-6, text, "")):
        field = np.load(changed / f"final.{step}.npy")
        field[5, 3] = change(field[5, 3])
        np.save(changed / f"final.{step}.npy", field)
        vouch(changed, f"final.{step}.npy")
        verdict = view("compare", changed, other)
        assert verdict.returncode == 1, verdict.stderr
        assert verdict.stdout.startswith(f"step {step} differs first: 1 cell, at row 5, column 3")
        assert verdict.stdout.endswith(f"{after}\n")


def test_values_of_any_width_read_back_as_the_saved_series_prints_them(tmp_path):
    """%lf gives a value as many digits as it needs: 10000, -1000 and 1e307's 308 digits."""
    start = np.zeros((8, 6))
    start[0], start[-1], start[4, 3] = 10000.0, -1000.0, 1e307
    np.save(tmp_path / "start.npy", start)
    assert launch(2, tmp_path, command=[STUDY, "--initial", "start.npy", "--steps", 4, "--every", 1,
                                        "--save", "f.npy", "--save-every", 1]).returncode == 0
    result = view("compare", f"{tmp_path}/f.*.npy", f"{tmp_path}/rank*.000000")
    assert result.stdout.startswith("identical at the 4 steps both have (1 to 4)"), result.stderr


def test_a_restart_on_other_process_rows_is_read_with_each_labels_own_strips(tmp_path):
    """Four strips to step 60 at dt 3e-5, then a restart from step 20 on 2 x 2 blocks (two strip
    files a label) that stops after label 36, as if killed: labels 40 and 44 stay the first run's,
    and the first run's files of ranks 2 and 3 at labels the restart wrote are left out."""
    run, whole = tmp_path / "run", tmp_path / "whole"
    problem = ["--rows", 13, "--cols", 7, "--dt", 3e-5, "--every", 4, "--steps", 60]
    assert launch(4, run, command=[STUDY, *problem, "--save", "f.npy", "--save-every", 20]
                  ).returncode == 0
    names = [snapshot_name(rank, label) for rank in range(4) for label in (40, 44)]
    kept = {name: (run / name).read_bytes() for name in names}
    assert launch(4, run, command=[STUDY, "--restart", "f.20.npy", *problem[6:], "--split",
                                   "blocks", "--procs", "2x2"]).returncode == 0
    for name, text in kept.items():
        (run / name).write_bytes(text)
    assert launch(1, whole, command=[STUDY, *problem]).returncode == 0
    text = f"{run}/rank*.000000"
    assert view("check", text).stdout == (
        "sound: 15 labels of a 13 x 7 grid from 4 processes (labels 0 to 16), 2 processes (labels "
        "20 to 36), 4 processes (labels 40 to 44), 2 processes (labels 48 to 56); left out: 16 "
        "files of an earlier run at labels a restart wrote again, rank2_20.000000 to "
        "rank3_56.000000\n")
    assert view("compare", text, whole).stdout.startswith("identical: 15 labels")
    # Times from the record's dt; without a record, heat2d's is assumed and the note says so.
    assert view("vtk", text, "--every", 10, "-o", tmp_path / "vtk").returncode == 0
    datasets = ET.parse(tmp_path / "vtk" / "field.pvd").getroot().findall("./Collection/DataSet")
    assert [d.get("timestep") for d in datasets] == ["0", "0.00003", "0.00123", "0.00171"]
    (whole / "snapshots.json").unlink()
    guessed = view("plot", whole, "-o", tmp_path / "whole.png")
    assert guessed.returncode == 0 and "times assume heat2d's dt = 1e-05" in guessed.stderr


def vouch(folder, name):
    """The record of a field changed on purpose made to name its new bytes, as the run that saved
    them would have."""
    record = json.loads((folder / f"{name}.json").read_text())
    record["crc32"] = zlib.crc32((folder / name).read_bytes())
    (folder / f"{name}.json").write_text(json.dumps(record))


def edit(folder, name, old, new):
    path = folder / name
    path.write_bytes(path.read_bytes().replace(old, new, 1))
    return name


def replace_with(folder, name, make):
    (folder / name).unlink()
    make(folder / name)
    return name


def npy(folder, field, hole=None):
    """field.npy holding `field`, or the header of a float64 field of `hole` bytes over a hole."""
    path = folder / "field.npy"
    with open(path, "wb") as file:
        if hole is None:
            np.save(file, field)
        else:
            np.lib.format.write_array_header_1_0(
                file, {"descr": "<f8", "fortran_order": False, "shape": (hole // 8192, 1024)})
            file.truncate(file.tell() + hole)
    return path.name


def saved(damage):
    """A row's damage done to a copy of the "saved" run's series, in place of the run folder."""
    def damage_series(folder):
        shutil.rmtree(folder)
        shutil.copytree(folder.parent / "saved", folder)
        return damage(folder)
    return damage_series


def resave(folder, name, change):
    np.save(folder / name, change(np.load(folder / name)))
    return name


def written(first_step, steps, process_rows, every=10):
    return {"first_step": first_step, "steps": steps, "every": every, "process_rows": process_rows}


def recorded(folder, text=None, **changes):
    """heat2d-study's record of the 2-process heat2d run's snapshot files, with `changes`."""
    record = {"format": "heat2d-study snapshots", "version": 1, "rows": 10, "cols": 10, "dt": 1e-5,
              "initial": "heat2d", "runs": [written(0, 25000, 2)], **changes}
    (folder / "snapshots.json").write_text(text or json.dumps(record))
    return "snapshots.json"


def mixed_process_counts(folder):
    three = folder.parent / "three"
    assert launch(3, three).returncode == 0
    for label in range(0, 25000, 10):
        shutil.copy(three / snapshot_name(2, label), folder)
    return snapshot_name(0, 0)


# Each row damages a copy of a 2-process run, or puts a bad .npy field into it, or damages a saved
# series, and gives the file the message must name and what it must say.
BAD_INPUT = [
    (lambda f: launch(2, f) and snapshot_name(0, 0), "holds the same block twice"),
    (lambda f: (f / snapshot_name(1, 500)).unlink() or snapshot_name(1, 500), "missing"),
    (lambda f: edit(f, snapshot_name(0, 70), b"\t\n", b"\t1.000000\t\n"),
     "line 2 has 5 values, line 1 has 6 (ragged)"),
    (lambda f: edit(f, snapshot_name(1, 30), b"0.000000", b"O.000000"),
     "line 1, value 1: 'O.000000' is not a number as the solver writes it"),
    (lambda f: edit(f, snapshot_name(0, 40), b"100.000000", b"nan"), "'nan' is not a number"),
    (lambda f: edit(f, snapshot_name(0, 40), b"100.000000", b"1e400"), "'1e400' is not a number"),
    (lambda f: edit(f, snapshot_name(0, 40), b"100.000000", b" 100.00000"), "' 100.00000'"),
    (lambda f: edit(f, snapshot_name(0, 40), b"100.000000", "١٠٠.000000".encode()),
     "is not a number"),
    (lambda f: edit(f, snapshot_name(0, 40), b"\t\n", b"\t\r\n"), "line 1 does not end with a tab"),
    (lambda f: edit(f, snapshot_name(0, 880), b"\n", b"\n" + (f / snapshot_name(0, 880))
                    .read_bytes()), "1000 bytes, more than a strip of 5 x 10 values can hold"),
    (mixed_process_counts, "a strip of 5 rows where 3 processes on 14 rows give 4"),
    (lambda f: edit(f, INITIAL, b"100", (f / INITIAL).read_bytes()[:930] + b"100"),
     "holds 3 copies of the initial field"),
    (lambda f: [p.unlink() for p in f.iterdir()] and "", "no snapshot files"),
    (lambda f: replace_with(f, snapshot_name(1, 60), os.mkfifo), "a FIFO, not a snapshot file"),
    (lambda f: replace_with(f, snapshot_name(1, 60), lambda p: p.symlink_to("/dev/zero")),
     "a device, not a snapshot file"),
    (lambda f: replace_with(f, snapshot_name(1, 60), lambda p: os.truncate(p.touch() or p, 1 << 30)
                            ), "1073741824 bytes, more than a strip of 5 x 10 values can hold"),
    (lambda f: edit(f, snapshot_name(0, 0), b"100.000000", b"1" + b"0" * 320 + b".000000"),
     "line 1, value 1: too large for a double"),
    (lambda f: edit(f, snapshot_name(0, 0), b"100.000000", b"100.000002"),
     "line 1, value 1: 100.000002 is outside 0.000000 to 100.000000"),
    (lambda f: edit(f, snapshot_name(1, 24990), b"\t0.000000\t", b"\t-0.000002\t"),
     "line 1, value 5: -0.000002 is outside 0.000000 to 100.000000"),
    (lambda f: npy(f, np.array([[1, 2, 3], [np.inf, np.nan, 0], [0, 0, 0]])),
     "2 values not finite, the first inf at row 1, column 0"),
    (lambda f: npy(f, None, hole=2 << 30), "not enough memory to read"),
    (saved(lambda f: (f / "final.60.npy.json").unlink() or "final.60.npy.json"),
     "final.60.npy.json: missing"),
    (saved(lambda f: edit(f, "final.60.npy.json", b"}", b"")), "final.60.npy.json: not JSON"),
    (saved(lambda f: edit(f, "final.60.npy.json", b'"rows": 13', b'"rows": 12')),
     "a 12 x 7 grid, but final.60.npy holds 13 x 7 values"),
    (saved(lambda f: edit(f, "final.60.npy.json", b'"rows": 13', b'"rows": 12')
           and resave(f, "final.60.npy", lambda a: a[:12])), "a 12 x 7 grid where"),
    (saved(lambda f: edit(f, "final.60.npy.json", b'"dt": ', b'"dt": 3')), "dt = 0.00031 where"),
    (saved(lambda f: edit(f, "final.60.npy.json", b'"heat2d"', b'"/elsewhere.npy"')),
     "starting field /elsewhere.npy where"),
    (saved(lambda f: edit(f, "final.60.npy.json", b'"steps": 60', b'"steps": 61')),
     "61 steps done, but the name final.60.npy says 60"),
    (saved(lambda f: resave(f, "final.60.npy", lambda a: a.astype(np.float32))),
     "holds '<f4' values, not float64"),
    (saved(lambda f: resave(f, "final.60.npy", lambda a: a.put(30, np.nan) or a)),
     "final.60.npy is not the field its record final.60.npy.json describes"),
    (saved(lambda f: os.truncate(f / "final.60.npy", 850) or "final.60.npy"), "is cut short"),
    (saved(lambda f: (f / "final.60.npy").unlink() or "final.60.npy"),
     "missing, though its record final.60.npy.json is there: a hole in the series at step 60"),
    (saved(lambda f: [p.rename(f"{p}.part-x8Yz1Q") for p in f.glob("*.npy")] and ""),
     "no series of saved fields (FILE.S.npy)"),
    (lambda f: shutil.copytree(f.parent / "saved", f, dirs_exist_ok=True) and "",
     "holds 2 runs, give one: "),
    (lambda f: recorded(f, text="{"), "snapshots.json: not JSON"),
    (lambda f: replace_with(f, recorded(f), os.mkfifo), "snapshots.json: a FIFO, not a record"),
    (lambda f: recorded(f, rows=13), "snapshots.json: a 13 x 10 grid, but the snapshot files of "
                                     "label 0 hold 10 x 10"),
    (lambda f: recorded(f, runs=[written(0, 25000, 3)]) and snapshot_name(2, 0),
     "missing (label 0 was written on 3 process rows, ranks 0 to 2)"),
    (lambda f: recorded(f, runs=[written(0, 20000, 2), written(20010, 25000, 2)])
     and snapshot_name(0, 20000), "label 20000 is written by none of the runs"),
    (lambda f: recorded(f, runs=[written(0, 25000, 0)]), "run 1 is {"),
]


@pytest.mark.parametrize("damage, problem", BAD_INPUT)
def test_bad_input_gets_one_line_naming_the_file(runs, tmp_path, damage, problem):
    folder, output = tmp_path / "run", tmp_path / "output"
    shutil.copytree(runs[2], folder)
    shutil.copytree(runs["saved"], tmp_path / "saved")
    output.mkdir()
    name = damage(folder)
    # A run folder is checked, then turned into a ParaView series, which must leave nothing
    # behind; a .npy field alone is drawn. Both within 1 GiB of memory, as on a small machine.
    commands = [("plot", folder / name, "-o", output)] if name == "field.npy" else \
        [("check", folder), ("vtk", folder, "-o", output / "vtk")]
    for command in commands:
        result = view(*command, memory=1 << 30)
        assert result.returncode == 2 and result.stdout == ""
        assert result.stderr.count("\n") == 1 and "Traceback" not in result.stderr, result.stderr
        assert result.stderr.startswith("heat2d-view: ") and f"{folder / name}" in result.stderr
        assert problem in result.stderr, result.stderr
    assert list(output.iterdir()) == []


@pytest.mark.parametrize("arguments, problem", [
    (["animate", "RUN", "-o", "field.mp4"], "field.mp4: the output must end in .gif"),
    (["plot", "RUN", "-o", "field.xyz"], "field.xyz: the output must end in .png or .pdf or .svg"),
    (["plot", "RUN", "-o", "missing/field.png"], "missing: no such folder to write into"),
    (["vtk", "RUN", "-o", "missing/vtk"], "missing: no such folder to write into"),
    (["animate", "RUN", "-o", "/proc/field.gif"], "/proc: cannot write here"),
    (["animate", "RUN", "--fps", "0"], "--fps: '0' is not a whole number from 1 to 100"),
    (["animate", "RUN", "--fps", "-5"], "--fps: '-5' is not a whole number from 1 to 100"),
    (["animate", "RUN", "--every", "x"], "--every: 'x' is not a whole number of at least 1"),
    (["vtk", "RUN", "-o", "RUN"], "which this command does not write; not replaced"),
    (["plot", "SERIES", "--step", "7"], "no step 7 (it has 68 steps, 3 to 202)"),
    (["plot", "SERIES", "--label", "5"], "--label given for a series"),
    (["vtk", "SERIES", "--dt", "1e-4"], "--dt is for snapshot files"),
    (["check", "x/*.npy"], "x/*.npy: heat2d-view expands FILE.*.npy"),
    (["compare", "RUN", "SERIES", "RUN"], "3 runs given, where this command reads 2"),
    (["xdmf", "RUN"], "snapshot files are text, which XDMF cannot point into"),
    (["vtk", "TEXT", "--dt", "1e-4"], "--dt 0.0001 where"),
    (["xdmf", "SERIES", "-o", "series.vti"], "series.vti: the output must end in .xmf or .xdmf"),
    (["plot", "a\nb.npy"], "heat2d-view: $'a\\nb.npy': cannot be read"),
    (["check", "tab\there"], "heat2d-view: $'tab\\there': no such folder"),
])
def test_bad_options_are_refused_with_nothing_written(runs, tmp_path, arguments, problem):
    os.chdir(tmp_path)
    named = {"RUN": runs[2], "SERIES": runs["saved"], "TEXT": f"{runs['study']}/rank*.000000"}
    result = view(*[named.get(a, a) for a in arguments])
    assert result.returncode == 2 and "Traceback" not in result.stderr
    assert problem in result.stderr.splitlines()[-1], result.stderr
    # heat2d-view's own refusals are one line (argparse's come with the usage).
    assert not problem.startswith("heat2d-view: ") or result.stderr.count("\n") == 1
    assert list(tmp_path.iterdir()) == []


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64).tolist()


def vti(path):
    """The ImageData element of a .vti file and its values, read from the raw bytes appended after
    the XML: a 64-bit byte count, then little-endian doubles."""
    data = path.read_bytes()
    appended = data.index(b'<AppendedData encoding="raw">')
    root = ET.fromstring(data[:appended] + b"</VTKFile>")
    assert (root.get("byte_order"), root.get("header_type")) == ("LittleEndian", "UInt64")
    start = data.index(b"_", appended) + 1 + int(root.find(".//DataArray").get("offset"))
    count = int.from_bytes(data[start:start + 8], "little") // 8
    assert data[start + 8 + 8 * count:] == b"\n  </AppendedData>\n</VTKFile>\n"
    return root.find("ImageData"), np.frombuffer(data, "<f8", count, start + 8)


def test_vtk_series_starts_with_the_initial_field_and_gives_exact_times(runs, tmp_path):
    series = tmp_path / "vtk"
    series.mkdir()
    (series / "field_7.vti").write_text("")  # an earlier series, replaced whole
    result = view("vtk", runs[3], "--every", 1000, "-o", series)
    assert result.returncode == 0, result.stderr
    datasets = ET.parse(series / "field.pvd").getroot().findall("./Collection/DataSet")
    assert [d.get("timestep") for d in datasets] == ["0", "0.00001", "0.10001", "0.20001",
                                                     "0.24991"]
    assert sorted(p.name for p in series.iterdir()) == sorted(
        [d.get("file") for d in datasets] + ["field.pvd"])
    assert series.stat().st_mode & 0o777 == 0o755
    image, values = vti(series / datasets[-1].get("file"))
    assert image.get("WholeExtent") == "0 9 0 9 0 0" and image.get("Spacing") == "0.1 0.1 1"
    assert np.array_equal(values, RunFolder(runs[1]).field(24990).T.ravel())

    # A series as a shell expands final*.npy, in the order of the text: steps ordered as numbers,
    # final.npy at the step its record gives, each S x dt exactly.
    files = sorted(runs["saved"].glob("final*.npy"))
    assert view("vtk", *files, "-o", tmp_path / "saved").returncode == 0
    datasets = ET.parse(tmp_path / "saved" / "field.pvd").getroot().findall("./Collection/DataSet")
    steps = [*range(3, 202, 3), 202]
    assert [Decimal(d.get("timestep")) for d in datasets] == [s * Decimal("1e-5") for s in steps]
    values = vti(tmp_path / "saved" / datasets[-1].get("file"))[1]
    assert bits(values) == bits(np.load(runs["saved"] / "final.npy").T.ravel())


# ParaView's readers, run by its pvpython: the XDMF series through both XDMF readers at two of its
# fields and one .vti, each field's values and the collection's times saved for the test to compare.
PARAVIEW_READS = """
import sys
import numpy as np
from paraview import servermanager, simple
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkIOXML import vtkXMLImageDataReader

xmf, vti, out = sys.argv[1:]
def values(data):
    data = data.GetBlock(0) if data.IsA("vtkMultiBlockDataSet") else data
    return vtk_to_numpy(data.GetPointData().GetArray("temperature"))
for name, reader in (("xdmf", simple.XDMFReader(FileNames=[xmf])),
                     ("xdmf3", simple.Xdmf3ReaderS(FileName=[xmf]))):
    times = reader.TimestepValues
    fields = []
    for time in times[1], times[-1]:
        reader.UpdatePipeline(time)
        fields.append(values(servermanager.Fetch(reader)))
    np.savez(f"{out}/{name}.npz", times=times, fields=fields)
image = vtkXMLImageDataReader()
image.SetFileName(vti)
image.Update()
np.savez(f"{out}/vti.npz", fields=[values(image.GetOutput())])
"""


def pad_header(path):
    """The same field behind a header 64 bytes longer, as NumPy may pad it, with its record naming
    the new bytes."""
    data = path.read_bytes()
    length = int.from_bytes(data[8:10], "little")
    header = data[10:10 + length].rstrip(b"\n") + b" " * 64 + b"\n"
    path.write_bytes(data[:8] + len(header).to_bytes(2, "little") + header + data[10 + length:])
    vouch(path.parent, path.name)


def test_xdmf_points_at_every_fields_values_and_paraview_reads_them_bit_for_bit(runs, tmp_path):
    series = tmp_path / "saved"
    shutil.copytree(runs["saved"], series)
    pad_header(series / "final.6.npy")  # read past each file's own header
    result = view("xdmf", f"{series}/final.*.npy", "-o", tmp_path / "series.xmf")
    assert result.returncode == 0, result.stderr
    items = ET.parse(tmp_path / "series.xmf").getroot().findall(".//Grid[@GridType='Uniform']")
    assert [item.find("Time").get("Value") for item in items] == \
        [problem.time_at(step) for step in [*range(3, 202, 3), 202]]
    for item in items:
        data = item.find("Attribute/DataItem")
        assert (data.get("Endian"), data.get("Precision"), data.get("Dimensions")) == \
            ("Little", "8", "1 13 7")
        values = np.fromfile(tmp_path / data.text, "<f8", 13 * 7, offset=int(data.get("Seek")))
        assert bits(values) == bits(np.load(tmp_path / data.text).ravel()), data.text

    if shutil.which("pvpython") is None:
        pytest.skip("pvpython is not installed (Debian's paraview, 176 MB; Debian's python3-vtk9 "
                    "has no XDMF reader)")
    assert view("vtk", series, "--every", 100, "-o", tmp_path / "vtk").returncode == 0
    read = subprocess.run(["pvpython", "-c", PARAVIEW_READS, tmp_path / "series.xmf",
                           tmp_path / "vtk" / "field_step_3.vti", tmp_path], capture_output=True,
                          text=True, timeout=300)
    assert read.returncode == 0, read.stderr
    for reader in "xdmf", "xdmf3":
        with np.load(tmp_path / f"{reader}.npz") as got:
            assert got["times"].tolist() == [float(f"{s}e-5") for s in [*range(3, 202, 3), 202]]
            assert [bits(field) for field in got["fields"]] == \
                [bits(np.load(series / name).ravel()) for name in ("final.6.npy", "final.npy")]
    with np.load(tmp_path / "vti.npz") as got:
        assert bits(got["fields"][0]) == bits(np.load(series / "final.3.npy").T.ravel())


def test_plot_and_animation_have_the_expected_size_and_frames(runs, tmp_path):
    assert view("plot", runs["study"] / "final.npy", "-o", tmp_path / "npy.png").returncode == 0
    pictures = tmp_path / os.fsdecode(b"pictures-\xff")  # not UTF-8: printed with an escape
    pictures.mkdir()
    result = view("plot", runs[5], "-o", pictures, env={"PYTHONIOENCODING": "utf-8"})
    assert result.stdout == f"Field: {tmp_path}/pictures-\\xff/field_24990.png\n", result.stderr
    assert (pictures / "field_24990.png").stat().st_mode & 0o777 == 0o644
    with Image.open(pictures / "field_24990.png") as png:
        assert png.format == "PNG" and png.size == (640, 500)
    result = view("animate", runs[5], "--every", 250, "--fps", 4, "-o", tmp_path / "field.gif")
    assert result.returncode == 0, result.stderr
    with Image.open(tmp_path / "field.gif") as gif:  # labels 0, 2500, ..., 22500 and the last
        assert gif.format == "GIF" and gif.n_frames == 11 and gif.size == (640, 500)
        assert [frame.info["duration"] for frame in ImageSequence.Iterator(gif)] == [250] * 11

    series = f"{runs['saved']}/final.*.npy"
    assert view("plot", series, "--step", 99, "-o", tmp_path / "step.png").returncode == 0
    assert view("animate", series, "--every", 10, "-o", tmp_path / "steps.gif").returncode == 0
    with Image.open(tmp_path / "step.png") as png, Image.open(tmp_path / "steps.gif") as gif:
        assert png.size == gif.size == (640, 500)
        assert gif.n_frames == 8  # steps 3, 33, ..., 183 and 202


# Runs whose seconds per step are the model's, c = 1e-9 s per cell, alpha = 4e-6 s per message,
# beta = 2e-10 s per byte, for the cells of the busiest block (the last process row takes the
# rows' remainder: 334 of 1000 on 3), per thread: rows, cols, procs, split, threads, cells,
# messages, bytes, a factor on the time (the repeated runs at P = 4 straddle the model), and
# whether the line is an older run's, without threads, fuse and messages (one to each neighbour).
# The 2000 x 1000 grid is swept strongly; at P = 2 it shares its cells per process with the weak
# series, which takes the grid run only there, 1000 x 2000.
SCALING_RUNS = [(1000, 1000, (1, 1), "strips", 1, 1000000, 0, 0, 1, False),
                (1000, 1000, (2, 1), "strips", 1, 500000, 1, 8000, 1, True),
                (1000, 1000, (3, 1), "strips", 1, 334000, 2, 16000, 1, False),
                (1000, 1000, (4, 1), "strips", 1, 250000, 2, 16000, 0.9, True),
                (1000, 1000, (4, 1), "strips", 1, 250000, 2, 16000, 1.1, False),
                (1000, 2000, (2, 1), "strips", 1, 1000000, 1, 16000, 1, False),
                (2000, 2000, (4, 1), "strips", 1, 1000000, 2, 32000, 1, False),
                (1000, 1000, (2, 2), "blocks", 1, 250000, 2, 8000, 1, False),
                (1000, 1000, (1, 1), "strips", 2, 1000000, 0, 0, 1, False),
                (1000, 1000, (2, 1), "strips", 2, 500000, 1, 8000, 1, False),
                (2000, 1000, (1, 1), "strips", 1, 2000000, 0, 0, 1, False),
                (2000, 1000, (2, 1), "strips", 1, 1000000, 1, 8000, 1, False)]


def scaling_lines(runs):
    lines = []
    for rows, cols, procs, split, threads, cells, messages, sent, factor, old in runs:
        run = {"rows": rows, "cols": cols, "processes": procs[0] * procs[1], "split": split,
               "procs": list(procs), "exchange": "blocking", "first_step": 0, "steps": 50,
               "dt": 1e-9, "bytes_per_step": sent, "max_error": None, "seconds_per_step":
               factor * (1e-9 * cells / threads + 4e-6 * messages + 2e-10 * sent)}
        if not old:
            run.update(threads=threads, fuse=1, messages_per_step=messages)
        lines.append(json.dumps(run))
    return "\n".join(lines) + "\n"


def tables(text):
    """The numbers of each table heat2d-view scaling prints, by the line above it: the blocks
    between the model's line and the picture's."""
    sections = {}
    for block in text.split("\n\n")[1:-1]:
        title, _, *rows = block.splitlines()
        sections[title] = [[float(v) for v in row.split() if "x" not in v] for row in rows]
    return sections


def test_scaling_curves_and_the_model_fitted_from_the_runs(tmp_path):
    lines = scaling_lines(SCALING_RUNS).splitlines()
    # Three processes on a host of two cores take turns: each cell takes 1.5 times as long.
    crowded = json.loads(lines[2])
    crowded.update(host_load=1.5, seconds_per_step=1.5e-9 * 334000 + 4e-6 * 2 + 2e-10 * 16000)
    lines = "\n".join(lines[:2] + [json.dumps(crowded)] + lines[3:]) + "\n"
    (tmp_path / "runs.jsonl").write_text(lines)
    result = view("scaling", tmp_path / "runs.jsonl")
    assert result.returncode == 0, result.stderr
    assert "c = 1e-09 s per cell, alpha = 4e-06 s, beta = 2e-10 s per byte (fitted from the " \
           "runs)" in result.stdout
    t = [json.loads(line)["seconds_per_step"] for line in lines.splitlines()]
    strong = {1: t[0], 2: t[1], 3: t[2], 4: (t[3] + t[4]) / 2}  # the median of the repeats
    weak = {1: t[0], 2: t[5], 4: t[6]}
    config = "strips, blocking, 1 thread, fuse 1, 50 steps of dt = 1e-09"
    # P, runs, then measured and model: time per step, speed-up (strong only) and efficiency.
    expected = {
        f"weak scaling, 1e+06 cells per process: {config}":
            [[p, 1, *[time, weak[1] / time] * 2] for p, time in weak.items()],
        f"strong scaling, 1000 x 1000: {config}":
            [[p, 1 + (p == 4), *[time, strong[1] / time, strong[1] / time / p] * 2]
             for p, time in strong.items()],
        f"strong scaling, 2000 x 1000: {config}":
            [[1, 1, *[t[10], 1, 1] * 2], [2, 1, *[t[11], t[10] / t[11], t[10] / t[11] / 2] * 2]],
        f"strong scaling, 1000 x 1000: {config.replace('strips', 'blocks')}":
            [[4, 1, *[t[7], 1, 1] * 2]],
        f"strong scaling, 1000 x 1000: {config.replace('1 thread', '2 threads')}":
            [[1, 1, *[t[8], 1, 1] * 2], [2, 1, *[t[9], t[8] / t[9], t[8] / t[9] / 2] * 2]]}
    found = tables(result.stdout)
    assert list(found) == list(expected)
    for title, rows in expected.items():
        assert found[title] == [pytest.approx(row, rel=1e-3) for row in rows], title
    with Image.open(tmp_path / "runs.png") as png:
        assert png.format == "PNG" and png.size == (1800, 450)

    # One grid on strips trades bytes in proportion to its messages: alpha and beta cannot be
    # told apart until one is given.
    (tmp_path / "strips.jsonl").write_text(scaling_lines(SCALING_RUNS[:5]))
    alone = view("scaling", tmp_path / "strips.jsonl")
    assert alone.returncode == 0 and alone.stdout.startswith(
        "model: not drawn: alpha and beta not determined: these runs cannot tell them apart"), \
        alone.stderr
    given = view("scaling", tmp_path / "strips.jsonl", "--beta", 2e-10)
    assert "c = 1e-09 s per cell, alpha = 4e-06 s, beta = 2e-10 s per byte (c and alpha fitted " \
           "from the runs, the others given)" in given.stdout, given.stderr


def model_line(runs, tmp_path):
    (tmp_path / "runs.jsonl").write_text(scaling_lines(runs))
    result = view("scaling", tmp_path / "runs.jsonl")
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()[0]


def printed(line, name):
    """The value the model's line gives a constant, or None where it says it is not determined."""
    text = line.split(f"{name} = ")[1].split(",")[0].split(" (")[0]
    return None if text.startswith("not determined") else float(text.split()[0])


MODEL_CONSTANTS = ("c", "alpha", "beta")
# Runs whose times the model cannot fit with every constant positive, and what the fit must say.
# Blocks and strips at several grids: with a negative cost per byte in their times, least squares
# would give beta < 0; the fit holds it at 0 and fits c and alpha to the rest.
NEGATIVE_BETA = [(rows, cols, procs, split, 1, cells, messages, sent, (
    1e-9 * cells + 4e-6 * messages - 1e-10 * sent) / (1e-9 * cells + 4e-6 * messages + 2e-10 * sent),
    False) for rows, cols, procs, split, _, cells, messages, sent, _, _ in SCALING_RUNS[:8]]
ONE_PROCESS = [run for run in SCALING_RUNS if run[2] == (1, 1) and run[4] == 1]
FITS = [(NEGATIVE_BETA, "beta not determined: the runs would have it negative, and it is held "
         "at 0", ["beta"]),
        (ONE_PROCESS, "alpha not determined: no run sends a message; beta not determined: no run "
         "sends a byte", ["alpha", "beta"])]


@pytest.mark.parametrize("runs, why, missing", FITS)
def test_the_model_has_no_negative_constant_and_names_those_not_determined(tmp_path, runs, why,
                                                                          missing):
    line = model_line(runs, tmp_path)
    assert why in line and (tmp_path / "runs.png").exists()
    design = np.array([[cells, messages, sent] for _, _, _, _, _, cells, messages, sent, _, _
                       in runs], dtype=float)
    times = np.array([json.loads(text)["seconds_per_step"]
                      for text in scaling_lines(runs).splitlines()])
    kept = [index for index, name in enumerate(MODEL_CONSTANTS) if name not in missing]
    expected = np.linalg.lstsq(design[:, kept], times, rcond=None)[0]
    assert [printed(line, name) for name in MODEL_CONSTANTS] == \
        [None if name in missing else pytest.approx(expected[kept.index(index)], rel=1e-3)
         for index, name in enumerate(MODEL_CONSTANTS)]


def changed_run(**changes):
    return json.dumps({**json.loads(scaling_lines(SCALING_RUNS[2:3])), **changes})


# Each row is the second line of a file whose first is a sound run, and what the message says.
BAD_RUNS = [("{", "line 2: not JSON"),
            ("[1, 2]", "line 2: not a run of heat2d-study --json (not a JSON object)"),
            (changed_run(cols=None), "line 2: not a run of heat2d-study --json ('cols' is None)"),
            (json.dumps({"rows": 10}), "(no 'cols')"),
            (changed_run(procs=[2, 2]), "'procs' [2, 2] is not a process grid of 3"),
            (changed_run(seconds_per_step="fast"), "'seconds_per_step' is 'fast'"),
            (changed_run(seconds_per_step=0), "a 1000 x 1000 grid at 0 s per step"),
            (changed_run(threads=0), "'threads' is 0"),
            (changed_run(messages_per_step=True), "'messages_per_step' is True"),
            (changed_run(host_load=-1), "'host_load' is -1")]


@pytest.mark.parametrize("line, message", BAD_RUNS)
def test_a_bad_line_of_runs_is_named_with_its_number(tmp_path, line, message):
    runs = tmp_path / "runs.jsonl"
    runs.write_text(scaling_lines(SCALING_RUNS[:1]) + line + "\n")
    result = view("scaling", runs)
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.startswith(f"heat2d-view: {runs}: ") and message in result.stderr
    assert result.stderr.count("\n") == 1 and list(tmp_path.iterdir()) == [runs], result.stderr


def writing(_, folder):
    return any(path.is_file() for path in folder.rglob("*"))


def loading_numpy(process, _):
    return "_multiarray_umath" in pathlib.Path(f"/proc/{process.pid}/maps").read_text()


@pytest.mark.parametrize("number, arguments, when, message", [
    (signal.SIGINT, ["animate", "--every", 1, "-o", "field.gif"], writing, "interrupted"),
    (signal.SIGTERM, ["vtk", "-o", "vtk"], writing, "terminated (SIGTERM)"),
    (signal.SIGHUP, ["animate", "--every", 1, "-o", "field.gif"], writing, "hung up (SIGHUP)"),
    (signal.SIGINT, ["check"], loading_numpy, "interrupted"),
])
def test_ctrl_c_and_other_stops_leave_no_output_behind(runs, tmp_path, number, arguments, when,
                                                        message):
    process = view(arguments[0], runs[1], *arguments[1:], cwd=tmp_path, stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not when(process, tmp_path):
        assert time.monotonic() < deadline and process.poll() is None
        time.sleep(0.001)
    process.send_signal(number)
    _, stderr = process.communicate(timeout=60)
    assert process.returncode == 128 + number
    assert stderr == f"heat2d-view: {message}; nothing written\n"
    assert list(tmp_path.iterdir()) == []
