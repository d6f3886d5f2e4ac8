// The record kept beside a saved field: what a restart from it needs.
#include "checkpoint/field_record.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "checkpoint/text_cursor.hpp"

namespace {

constexpr const char* FORMAT = "heat2d-study field";
constexpr int VERSION = 1;

// A JSON string with the quotes, backslashes and control characters escaped; other bytes as they
// are (a path need not be UTF-8).
std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A reader of one flat JSON object whose values are strings and numbers.
struct Reader : TextCursor {
  bool string(std::string& value) {
    if (!take('"')) return false;
    value.clear();
    while (at < text.size() && text[at] != '"') {
      char c = text[at++];
      if (c == '\\') {
        if (at >= text.size()) return false;
        c = text[at++];
        if (c == 'u') {
          if (at + 4 > text.size()) return false;
          const long code = std::strtol(text.substr(at, 4).c_str(), nullptr, 16);
          if (code <= 0 || code >= 0x80) return false;
          c = static_cast<char>(code);
          at += 4;
        } else if (c == 'n' || c == 't' || c == 'r' || c == 'b' || c == 'f') {
          c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'b' ? '\b' : '\f';
        } else if (c != '"' && c != '\\' && c != '/') {
          return false;
        }
      }
      value += c;
    }
    return take('"');
  }
  bool number(double& value) {
    skip_space();
    const char* start = text.c_str() + at;
    if (*start != '-' && !std::isdigit(static_cast<unsigned char>(*start))) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(start, &end);
    at += end - start;
    return errno == 0 && std::isfinite(value);
  }
};

bool whole(double value, int& out, int low) {
  if (!(value >= low && value <= INT_MAX) || value != std::floor(value)) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

std::string record_path(const std::string& field_path) {
  return field_path + ".json";
}

std::string record_text(const FieldRecord& record) {
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"version\": %d, \"rows\": %d, \"cols\": %d, \"steps\": %d, \"dt\": %.17g, ",
                VERSION, record.rows, record.cols, record.steps, record.dt);
  return "{\"format\": " + json_string(FORMAT) + ", " + numbers +
         "\"initial\": " + json_string(record.initial) + "}\n";
}

std::string parse_record(const std::string& text, FieldRecord& record) {
  Reader reader{{text}};
  std::string format;
  double version = 0, rows = 0, cols = 0, steps = 0, dt = 0;
  bool seen[7] = {};
  const char* const KEYS[7] = {"format", "version", "rows", "cols", "steps", "dt", "initial"};
  double* const NUMBERS[7] = {nullptr, &version, &rows, &cols, &steps, &dt, nullptr};
  if (!reader.take('{')) return "not a JSON object";
  std::string key;
  do {
    if (!reader.string(key) || !reader.take(':')) return "not a JSON object";
    int k = 0;
    while (k < 7 && key != KEYS[k]) ++k;
    if (k == 7) return "an unknown key '" + key + "'";
    const bool read = NUMBERS[k] != nullptr ? reader.number(*NUMBERS[k])
                                            : reader.string(k == 0 ? format : record.initial);
    if (!read) return "'" + key + "' is not a value of the right kind";
    seen[k] = true;
  } while (reader.take(','));
  if (!reader.take('}')) return "not a JSON object";
  reader.skip_space();
  if (reader.at != text.size()) return "more than one JSON object";
  for (int k = 0; k < 7; ++k) {
    if (!seen[k]) return std::string("no '") + KEYS[k] + "'";
  }
  if (format != FORMAT || version != VERSION) return "not a heat2d-study record of version 1";
  if (!whole(rows, record.rows, 1) || !whole(cols, record.cols, 1) ||
      !whole(steps, record.steps, 0)) {
    return "rows, cols and steps are not whole numbers";
  }
  if (!(dt > 0.0)) return "dt is not positive";
  record.dt = dt;
  if (record.initial.empty()) return "no starting field";
  return "";
}
