// JSON as heat2d-study writes it, for its records and its summary.
#include "common/json_line.hpp"

#include <algorithm>

std::string json_line(const Json& value) {
  if (value.is_object() || value.is_array()) {
    const bool object = value.is_object();
    std::string text(1, object ? '{' : '[');
    const char* separator = "";
    for (auto item = value.begin(); item != value.end(); ++item) {
      text += separator;
      if (object) text += Json(item.key()).dump() + ": ";
      text += json_line(item.value());
      separator = ", ";
    }
    return text + (object ? '}' : ']');
  }
  return value.dump();
}

bool valid_utf8(const std::string& text) {
  try {
    Json(text).dump();
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
  return true;
}

std::string printable(const std::string& text, std::size_t longest) {
  const bool escape = !valid_utf8(text);
  std::size_t end = std::min(text.size(), longest);
  // Cut between characters, not inside one.
  while (!escape && end > 0 && end < text.size() && (text[end] & 0xc0) == 0x80) --end;
  std::string out;
  for (std::size_t k = 0; k < end; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    // Control characters would break the line, and bytes that are not UTF-8 the terminal.
    if (c < 0x20 || c == 0x7f || (escape && c >= 0x80)) {
      const char digits[] = "0123456789abcdef";
      out += std::string("\\x") + digits[c >> 4] + digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (end < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}
