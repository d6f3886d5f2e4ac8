// The record kept beside a saved field: what a restart from it needs.
#pragma once

#include <string>

// The starting field of a run: heat2d's, or a user's .npy file (by its absolute path).
constexpr const char* HEAT2D_START = "heat2d";

struct FieldRecord {
  int rows = 0;
  int cols = 0;
  int steps = 0;  // steps done since the run's start
  double dt = 0.0;
  std::string initial = HEAT2D_START;
};

// A saved field FILE.npy keeps its record in FILE.npy.json: NumPy's header admits only its own
// keys, and a file beside it is read by any JSON parser.
std::string record_path(const std::string& field_path);

// One JSON object on one line, ending with a newline; dt with 17 significant digits, so that it
// reads back as the same double.
std::string record_text(const FieldRecord& record);

// Reads a record written by record_text (any JSON whitespace, any order of keys). Returns an empty
// string, or what is wrong with it.
std::string parse_record(const std::string& text, FieldRecord& record);
