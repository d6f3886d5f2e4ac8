// A file's path as a one-line message shows it.
#pragma once

#include <cstddef>
#include <string>

// `path` as it is where it is plain text; where it holds a control character (a newline, a tab)
// or bytes that are not UTF-8, quoted as ls and the shells quote it, $'a\nb.npy', so that the
// message stays one line and the name can be typed back. At most `longest` bytes of the path,
// the rest said as "... (N bytes)".
std::string quoted_path(const std::string& path, std::size_t longest = 4096);
