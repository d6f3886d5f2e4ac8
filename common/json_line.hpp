// JSON as heat2d-study writes it, for its records and its summary: one line, ", " between items
// and ": " after keys, keys in the order they were set.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::ordered_json;

// `value` on one line. A number that is not finite is written as null (JSON has no infinity and no
// NaN); strings go out as UTF-8 with JSON's escapes for quotes, backslashes and control characters.
// A string that is not valid UTF-8 throws nlohmann's type_error: check text from outside first.
std::string json_line(const Json& value);

// Whether `text` is valid UTF-8, as JSON requires of every string.
bool valid_utf8(const std::string& text);

// `text` for a one-line message: control characters as \xNN, and bytes that are not ASCII too when
// the text is not valid UTF-8; at most `longest` bytes of it, the rest said as "... (N bytes)".
std::string printable(const std::string& text, std::size_t longest = 200);
