// A file's path as a one-line message shows it.
#include "checkpoint/quoted_path.hpp"

#include "common/json_line.hpp"

namespace {

bool control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// One byte inside $'...': the escapes bash's $'...' reads back as the same byte.
std::string escaped(unsigned char c, bool bytes_too) {
  switch (c) {
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    case '\r':
      return "\\r";
    case '\\':
      return "\\\\";
    case '\'':
      return "\\'";
    default:
      break;
  }
  if (!control(c) && !(bytes_too && c >= 0x80)) return std::string(1, static_cast<char>(c));
  const char digits[] = "0123456789abcdef";
  return std::string("\\x") + digits[c >> 4] + digits[c & 15];
}

}  // namespace

std::string quoted_path(const std::string& path, std::size_t longest) {
  const bool utf8 = valid_utf8(path);
  bool plain = utf8;
  for (const char c : path) plain = plain && !control(static_cast<unsigned char>(c));
  std::size_t end = path.size() < longest ? path.size() : longest;
  // Cut between characters, not inside one.
  while (utf8 && end > 0 && end < path.size() && (path[end] & 0xc0) == 0x80) --end;
  std::string shown = plain ? path.substr(0, end) : "$'";
  for (std::size_t k = 0; !plain && k < end; ++k) {
    shown += escaped(static_cast<unsigned char>(path[k]), !utf8);
  }
  if (!plain) shown += "'";
  if (end < path.size()) shown += "... (" + std::to_string(path.size()) + " bytes)";
  return shown;
}
