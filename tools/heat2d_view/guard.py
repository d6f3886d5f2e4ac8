"""The program's outer guard: stop signals, exhausted memory and unprintable names, one line each.
Standard library only, so that it is in place before numpy and matplotlib start loading."""
import codecs
import contextlib
import importlib
import signal
import sys

# What each stop signal means to the user; every one exits 128 + its number.
STOPS = {signal.SIGINT: "interrupted", signal.SIGTERM: "terminated (SIGTERM)",
         signal.SIGHUP: "hung up (SIGHUP)"}


class Stopped(KeyboardInterrupt):
    """A stop signal, raised wherever the program is, so that temporary outputs are removed on the
    way out as for Ctrl-C (it is one)."""


# The stop signal received, if any.
_received = []


def _stop(number, _frame):
    # Only the first signal stops: a second one must not cut short the removal of temporary output.
    for other in STOPS:
        signal.signal(other, signal.SIG_IGN)
    # An object whose construction the stop cut short may fail in its destructor on the way out
    # (tqdm's does); that says nothing more than the one line about the stop.
    sys.unraisablehook = lambda _: None
    _received.append(number)
    raise Stopped(number)


def stop_if_stopped():
    """Raises the stop again if one came and was lost on the way: a signal's handler may run
    inside a finaliser, whose exception Python only reports (and the hook above silences). Called
    before an output is moved into place, which must not happen after a stop."""
    if _received:
        raise Stopped(_received[0])


@contextlib.contextmanager
def signals_held():
    """Holds back the stop signals for a step that must not be left half done (moving outputs
    into place, removing temporary ones); one that came meanwhile is acted on right after."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, STOPS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def _escape(error):
    """Encoding errors as backslash escapes; a file name byte that is not UTF-8 (decoded by Python
    as a lone surrogate) as the \\xNN of that byte, as it is on disk."""
    escaped = "".join(f"\\x{ord(c) - 0xDC00:02x}" if 0xDC80 <= ord(c) <= 0xDCFF
                      else c.encode("ascii", "backslashreplace").decode("ascii")
                      for c in error.object[error.start:error.end])
    return escaped, error.end


def _install():
    for number in STOPS:
        # A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if signal.getsignal(number) is not signal.SIG_IGN:
            signal.signal(number, _stop)
    codecs.register_error("heat2d-view", _escape)
    for stream in (sys.stdout, sys.stderr):
        if stream is not None:  # None when started with the stream closed
            stream.reconfigure(errors="heat2d-view")


def run(module):
    """Imports `module` and runs its main(); returns the exit status."""
    _install()
    try:
        status = importlib.import_module(module).main()
        stop_if_stopped()
        return status
    except BaseException as error:
        # After a stop signal any exception is the stop: numpy's C core, stopped while it is set
        # up, reports an ImportError instead.
        if _received:
            print(f"heat2d-view: {STOPS[_received[0]]}; nothing written", file=sys.stderr)
            return 128 + _received[0]
        if isinstance(error, MemoryError):
            print("heat2d-view: not enough memory; nothing written", file=sys.stderr)
            return 1
        raise
