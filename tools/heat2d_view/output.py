"""Where a command's output goes: checked before any work, written beside its place under a
temporary name and moved into place only when complete."""
import contextlib
import os
import pathlib
import shutil
import stat
import tempfile

from .guard import signals_held, stop_if_stopped
from .quoting import quoted
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
        raise RunError(f"{quoted(path)}: the output must end in {' or '.join(extensions)}")
    require_writable_folder(path.parent)
    return path


def output_folder(path, default, own_names):
    """A folder to write whole: `path`, or `default` when no path is given. Its parent must exist
    and be writable. A folder already there is replaced only when it holds nothing but regular
    files whose names match `own_names`, the files this command writes: an earlier result."""
    path = pathlib.Path(path) if path is not None else pathlib.Path(default)
    require_writable_folder(path.parent)
    require_replaceable(path, own_names)
    return path


def require_replaceable(path, own_names):
    if path.is_symlink():
        raise RunError(f"{quoted(path)}: a symbolic link; give the folder it leads to")
    if not path.exists():
        return
    if not path.is_dir():
        raise RunError(f"{quoted(path)}: exists and is not a folder")
    for entry in path.iterdir():
        if not (own_names.fullmatch(entry.name) and stat.S_ISREG(entry.lstat().st_mode)):
            raise RunError(f"{quoted(path)}: holds {quoted(entry.name)}, which this command "
                           "does not write; not replaced")
    require_writable_folder(path)


def require_writable_folder(folder):
    folder = pathlib.Path(folder) if str(folder) else pathlib.Path(".")
    if not folder.is_dir():
        raise RunError(f"{quoted(folder)}: no such folder to write into")
    try:
        with tempfile.TemporaryFile(dir=folder):
            pass
    except OSError as error:
        raise RunError(f"{quoted(folder)}: cannot write here ({error.strerror})") from None


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
        stop_if_stopped()
        os.chmod(temporary, 0o666 & ~UMASK)
        os.replace(temporary, path)
    except BaseException:
        if temporary is not None:
            with signals_held(), contextlib.suppress(OSError):
                os.unlink(temporary)
        raise


@contextlib.contextmanager
def replacing_folder(path, own_names):
    """Yields a new folder beside `path` for the block to fill; when it completes, the folder takes
    the place of `path` (and of an earlier result there, see output_folder); otherwise it is
    removed with everything in it."""
    path = pathlib.Path(path)
    temporary = None
    try:
        with signals_held():
            temporary = pathlib.Path(tempfile.mkdtemp(dir=path.parent, prefix=f".{path.name}."))
        yield temporary
        stop_if_stopped()
        os.chmod(temporary, 0o777 & ~UMASK)
        with signals_held():
            _move_in(temporary, path, own_names)
    except BaseException:
        if temporary is not None:
            with signals_held():
                shutil.rmtree(temporary, ignore_errors=True)
        raise


def _move_in(folder, path, own_names):
    """Renames `folder` to `path`. An earlier result there is first renamed aside, into an empty
    folder made for it, and removed only once the new one is in place; it is put back if that
    fails."""
    if not path.exists() and not path.is_symlink():
        os.rename(folder, path)
        return
    require_replaceable(path, own_names)  # again: it may have changed while we worked
    aside = pathlib.Path(tempfile.mkdtemp(dir=path.parent, prefix=f".{path.name}.old."))
    try:
        os.rename(path, aside)
    except OSError:
        aside.rmdir()
        raise
    try:
        os.rename(folder, path)
    except OSError:
        os.rename(aside, path)
        raise
    shutil.rmtree(aside)
