// The command line of heat2d-study.
#pragma once

#include <string>

// A problem of the user's choice; the defaults are heat2d's fixed problem.
struct StudyOptions {
  int rows = 10;      // NX, grid rows (the x direction)
  int cols = 10;      // NY, grid columns (the y direction)
  int steps = 25000;  // S
  double dt = 1e-5;   // DT
  int every = 10;     // K: a snapshot every K steps, none when 0
  std::string save;   // FILE.npy for the final field, none when empty
  bool json = false;  // the summary as one JSON object
  bool help = false;
};

// The usage text printed by --help.
extern const char* const STUDY_USAGE;

// Reads argv[1..argc) into `options`. Returns an empty string, or one line saying what is wrong
// with the command line (an unknown option, a missing value, a value that is not a number of the
// right kind). Values are checked for sense by check_problem.
std::string parse_options(int argc, const char* const* argv, StudyOptions& options);
