// The record kept beside a saved field: what a restart from it needs, and what identifies the
// field.
#include "checkpoint/field_record.hpp"

#include <climits>
#include <cmath>

#include "common/json_line.hpp"

namespace {

constexpr const char* FORMAT = "heat2d-study field";
constexpr int VERSION = 3;
// The keys of each version, in the order they are written: version 2 adds the field's CRC-32,
// version 3 the method that took the steps.
const char* const KEYS[] = {"format", "version", "rows",  "cols",  "steps",
                            "dt",     "initial", "crc32", "method"};
constexpr int KEYS_OF_VERSION[] = {0, 7, 8, 9};

// A value as a message shows it: its JSON text, cut short.
std::string shown(const Json& value) {
  return printable(value.dump(), 40);
}

// A number that is whole and within [low, high]: "rows": 12.0 is 12, "rows": 1e300 out of range.
std::string whole(const Json& record, const char* key, double low, double high, double& value) {
  const Json& item = record.at(key);
  const std::string name = std::string("'") + key + "' is " + shown(item);
  if (!item.is_number()) return name + ", not a number";
  value = item.get<double>();
  if (value != std::floor(value)) return name + ", not a whole number";
  if (!(value >= low && value <= high)) {
    return name + ", out of range (" + std::to_string(static_cast<long long>(low)) + " to " +
           std::to_string(static_cast<long long>(high)) + ")";
  }
  return "";
}

// The first problem with the keys themselves: an unknown one, or one missing.
std::string keys_problem(const Json& record, int version) {
  const int count = KEYS_OF_VERSION[version];
  for (auto item = record.begin(); item != record.end(); ++item) {
    int k = 0;
    while (k < count && item.key() != KEYS[k]) ++k;
    if (k == count) return "an unknown key '" + printable(item.key(), 60) + "'";
  }
  for (int k = 0; k < count; ++k) {
    if (!record.contains(KEYS[k])) return std::string("no '") + KEYS[k] + "'";
  }
  return "";
}

// Why the text is not JSON, in a few words: nlohmann's reason without its tag and the text it read.
std::string not_json(const nlohmann::json::exception& error) {
  std::string reason = error.what();
  const std::size_t tag = reason.find("] ");
  if (tag != std::string::npos) reason.erase(0, tag + 2);
  const std::size_t read = reason.find("; last read");
  if (read != std::string::npos) reason.resize(read);
  return "not JSON (" + printable(reason, 120) + ")";
}

std::string check_values(const Json& j, FieldRecord& record) {
  double rows = 0, cols = 0, steps = 0, crc32 = 0;
  std::string problem = whole(j, "rows", 1, INT_MAX, rows);
  if (problem.empty()) problem = whole(j, "cols", 1, INT_MAX, cols);
  if (problem.empty()) problem = whole(j, "steps", 0, INT_MAX, steps);
  if (problem.empty() && j.contains("crc32")) problem = whole(j, "crc32", 0, UINT32_MAX, crc32);
  if (!problem.empty()) return problem;
  const Json& dt = j.at("dt");
  if (!dt.is_number() || !(dt.get<double>() > 0.0)) {
    return "'dt' is " + shown(dt) + ", not a positive number";
  }
  const Json& initial = j.at("initial");
  if (!initial.is_string()) return "'initial' is " + shown(initial) + ", not a string";
  if (initial.get<std::string>().empty()) return "'initial' is empty: no starting field";
  if (j.contains("method")) {
    const Json& method = j.at("method");
    if (!method.is_string() || !method_named(method.get<std::string>().c_str(), record.method)) {
      return "'method' is " + shown(method) + ", not one of explicit, euler, cn or trbdf2";
    }
  }
  record.rows = static_cast<int>(rows);
  record.cols = static_cast<int>(cols);
  record.steps = static_cast<int>(steps);
  record.dt = dt.get<double>();
  record.initial = initial.get<std::string>();
  record.has_crc32 = j.contains("crc32");
  record.crc32 = static_cast<std::uint32_t>(crc32);
  return "";
}

}  // namespace

std::string record_path(const std::string& field_path) {
  return field_path + ".json";
}

std::string record_text(const FieldRecord& record) {
  Json j;
  j["format"] = FORMAT;
  j["version"] = VERSION;
  j["rows"] = record.rows;
  j["cols"] = record.cols;
  j["steps"] = record.steps;
  j["dt"] = record.dt;
  j["initial"] = record.initial;
  j["crc32"] = record.crc32;
  j["method"] = method_name(record.method);
  return json_line(j) + "\n";
}

std::string parse_record(const std::string& text, FieldRecord& record) {
  // JSON is UTF-8 without a byte-order mark; nlohmann would skip one, Python's json refuses it.
  if (text.compare(0, 3, "\xef\xbb\xbf") == 0) return "not JSON (it starts with a byte-order mark)";
  Json j;
  try {
    j = Json::parse(text);
  } catch (const nlohmann::json::parse_error& error) {
    return not_json(error);
  } catch (const nlohmann::json::out_of_range&) {
    return "not JSON (a number beyond a double's range)";
  }
  if (!j.is_object()) return "not a JSON object";
  const Json version = j.value("version", Json());
  if (j.value("format", Json()) != FORMAT || !version.is_number() ||
      (version != 1 && version != 2 && version != 3)) {
    return "not the record of a field saved by heat2d-study (format " +
           shown(j.value("format", Json())) + ", version " + shown(version) + ")";
  }
  const std::string problem = keys_problem(j, static_cast<int>(version.get<double>()));
  return problem.empty() ? check_values(j, record) : problem;
}
