"""Where a command's output goes: checked before any work, written beside its place under a
temporary name and renamed into place only when complete."""
import contextlib
import os
import pathlib
import tempfile

from .guard import signals_held
from .run_folder import RunError


def _umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


# Temporary files and folders are created private; what is moved into place gets the mode that
# an ordinary new file or folder would have.
UMASK = _umask()


def output_file(path, default, extensions):
    """The file to write: `path`, or `default` when no path is given, or the default's name inside
    `path` when that is a folder. Its extension must be one of `extensions` and its folder must
    exist and be writable; all this is checked before the run is read."""
    path = pathlib.Path(path) if path is not None else pathlib.Path(default)
    if path.is_dir():
        path = path / pathlib.Path(default).name
    if path.suffix.lower() not in extensions:
        raise RunError(f"{path}: the output must end in {' or '.join(extensions)}")
    require_writable_folder(path.parent)
    return path


def output_folder(path, default):
    """A folder to write into: created if missing, but its parent must exist."""
    path = pathlib.Path(path) if path is not None else pathlib.Path(default)
    if path.exists() and not path.is_dir():
        raise RunError(f"{path}: exists and is not a folder")
    require_writable_folder(path.parent)
    if path.exists():
        require_writable_folder(path)
    return path


def require_writable_folder(folder):
    folder = pathlib.Path(folder) if str(folder) else pathlib.Path(".")
    if not folder.is_dir():
        raise RunError(f"{folder}: no such folder to write into")
    try:
        with tempfile.TemporaryFile(dir=folder):
            pass
    except OSError as error:
        raise RunError(f"{folder}: cannot write here ({error.strerror})") from None


@contextlib.contextmanager
def replacing(path):
    """Yields a temporary path beside `path`; renames it to `path` if the block completes and
    removes it otherwise (an error, Ctrl-C or another stop signal), so no half-written output
    looks like a result."""
    path = pathlib.Path(path)
    temporary = None
    try:
        with signals_held():  # a stop must not come between its making and its name being known
            descriptor, temporary = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.",
                                                     suffix=path.suffix)
            os.close(descriptor)
        yield pathlib.Path(temporary)
        os.chmod(temporary, 0o666 & ~UMASK)
        os.replace(temporary, path)
    except BaseException:
        if temporary is not None:
            with signals_held(), contextlib.suppress(OSError):
                os.unlink(temporary)
        raise
