"""cmake --install: the programs and heat2d-view with its package in a prefix of their own, run from
there once the prefix has moved; the viewer's refusal of a Python package older than it needs."""
import ast
import os
import subprocess
from pathlib import Path

import pytest

from conftest import launch

BUILD = os.environ.get("HEAT2D_BUILD", "build")
CMAKE = os.environ.get("HEAT2D_CMAKE", "cmake")
SOURCE = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    """An installed prefix, moved after the install: nothing in it may point to where it was made
    or to the build."""
    place = tmp_path_factory.mktemp("install")
    result = subprocess.run([CMAKE, "--install", BUILD, "--prefix", place / "first"],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    (place / "first").rename(place / "moved")
    return place / "moved"


def run(command, folder, env=None):
    return subprocess.run(list(map(str, command)), cwd=folder, capture_output=True, text=True,
                          timeout=120, env={**os.environ, **(env or {})})


def test_the_installed_programs_run_from_their_prefix(prefix, tmp_path):
    bin_folder = prefix / "bin"
    assert launch(2, tmp_path / "heat2d", command=[bin_folder / "heat2d"]).returncode == 0
    saved = launch(2, tmp_path, command=[bin_folder / "heat2d-study", "--rows", 16, "--cols", 16,
                                         "--steps", 20, "--every", 0, "--save", "f.npy"])
    assert saved.returncode == 0, saved.stderr
    view = bin_folder / "heat2d-view"
    checked = run([view, "check", tmp_path / "heat2d"], "/")
    assert checked.returncode == 0 and "2 processes" in checked.stdout, checked.stderr
    drawn = run([view, "plot", "f.npy", "-o", "f.png"], tmp_path)
    assert drawn.returncode == 0, drawn.stderr
    assert (tmp_path / "f.png").read_bytes().startswith(b"\x89PNG")


def test_every_module_of_the_viewer_is_installed_in_the_syntax_of_its_oldest_python(prefix):
    package = prefix / "share" / "heat2d" / "heat2d_view"
    assert sorted(path.name for path in package.glob("*.py")) == \
        sorted(path.name for path in (SOURCE / "tools" / "heat2d_view").glob("*.py"))
    launcher = (prefix / "share" / "heat2d" / "heat2d-view").read_text()
    oldest = next(ast.literal_eval(node.value) for node in ast.parse(launcher).body
                  if isinstance(node, ast.Assign) and node.targets[0].id == "PYTHON")
    for path in [*package.glob("*.py"), prefix / "share" / "heat2d" / "heat2d-view"]:
        ast.parse(path.read_text(), str(path), feature_version=oldest)


# A package's metadata saying an older version than the one really there, found first on
# PYTHONPATH; the oldest versions the viewer takes pass.
VERSIONS = [("numpy", "1.16.6", "needs NumPy >= 1.17"), ("matplotlib", "3.4.3",
                                                        "needs matplotlib >= 3.5"),
            ("Pillow", "9.0.1", "needs Pillow >= 9.1"), ("matplotlib", "3.5.0", None),
            ("Pillow", "9.1.0", None)]


@pytest.mark.parametrize("distribution, version, refusal", VERSIONS)
def test_the_viewer_refuses_a_package_older_than_it_needs_in_one_line(prefix, tmp_path,
                                                                        distribution, version,
                                                                        refusal):
    metadata = tmp_path / f"{distribution}-{version}.dist-info"
    metadata.mkdir()
    (metadata / "METADATA").write_text(
        f"Metadata-Version: 2.1\nName: {distribution}\nVersion: {version}\n")
    result = run([prefix / "bin" / "heat2d-view", "check", tmp_path], tmp_path,
                 env={"PYTHONPATH": str(tmp_path)})
    if refusal:
        assert result.returncode == 2 and result.stderr.count("\n") == 1
        assert result.stderr.startswith(f"heat2d-view: {refusal} ") and version in result.stderr
    else:
        assert "needs" not in result.stderr, result.stderr
