// The record kept beside a saved field: what a restart from it needs, and what identifies the
// field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stepping/method.hpp"

// The starting field of a run: heat2d's, or a user's .npy file (by its absolute path).
constexpr const char* HEAT2D_START = "heat2d";

// A record is a few hundred bytes (a path of PATH_MAX bytes, every byte escaped, stays below this);
// anything longer is not one and is not read.
constexpr std::size_t LONGEST_RECORD = 64 * 1024;

struct FieldRecord {
  int rows = 0;
  int cols = 0;
  int steps = 0;  // steps done since the run's start
  double dt = 0.0;
  Method method =
      Method::explicit_update;  // that took the steps (records before version 3: explicit)
  std::string initial = HEAT2D_START;
  // The CRC-32 of the whole .npy file (header and values), as zlib computes it. Records of version
  // 1, written before records identified their field, have none.
  bool has_crc32 = false;
  std::uint32_t crc32 = 0;
};

// A saved field FILE.npy keeps its record in FILE.npy.json: NumPy's header admits only its own
// keys, and a file beside it is read by any JSON parser.
std::string record_path(const std::string& field_path);

// One JSON object on one line, ending with a newline, of version 3 (with "crc32" and "method"); dt
// as the shortest decimal that reads back as the same double. `record.initial` must be valid UTF-8.
std::string record_text(const FieldRecord& record);

// Reads a record of version 1, 2 or 3 (any JSON layout and order of keys; no keys but its own).
// Returns an empty string, or what is wrong with it.
std::string parse_record(const std::string& text, FieldRecord& record);
