"""A file's path as a one-line message shows it."""
import os

# The escapes bash's $'...' reads back as the same character.
_ESCAPES = {"\n": "\\n", "\t": "\\t", "\r": "\\r", "\\": "\\\\", "'": "\\'"}


def _escaped(char):
    if char in _ESCAPES:
        return _ESCAPES[char]
    if 0xDC80 <= ord(char) <= 0xDCFF:  # a byte that is not UTF-8, as Python decodes a file name
        return f"\\x{ord(char) - 0xDC00:02x}"
    if char.isprintable():
        return char
    return f"\\x{ord(char):02x}" if ord(char) < 0x100 else f"\\u{ord(char):04x}"


def quoted(path):
    """`path` as it is where it is plain text; where it holds a control character (a newline, a
    tab) or bytes that are not UTF-8, quoted as ls and the shells quote it, $'a\\nb.npy', so that
    the message stays one line and the name can be typed back."""
    text = os.fspath(path)
    if isinstance(text, bytes):
        text = os.fsdecode(text)
    if all(char.isprintable() and not 0xDC80 <= ord(char) <= 0xDCFF for char in text):
        return text
    return "$'" + "".join(_escaped(char) for char in text) + "'"
