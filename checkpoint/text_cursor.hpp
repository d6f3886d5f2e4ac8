// A cursor over a short text, for the small readers of file headers and records.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>

struct TextCursor {
  const std::string& text;
  std::size_t at = 0;

  void skip_space() {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  }

  // Takes `c` after any white space; false, having taken nothing more, when it is not next.
  bool take(char c) {
    skip_space();
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
};
