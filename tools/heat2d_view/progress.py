"""Progress bars on standard error for the commands that can take a while, only on a terminal."""
import sys

from tqdm import tqdm


def progress(iterable, total, unit):
    return tqdm(iterable, total=total, unit=f" {unit}", file=sys.stderr, leave=False,
                disable=not sys.stderr.isatty(), mininterval=0.5)
