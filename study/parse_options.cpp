// The command line of heat2d-study.
#include "study/parse_options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char* const STUDY_USAGE =
    "usage: mpiexec -n P heat2d-study [--rows NX] [--cols NY] [--steps S] [--dt DT] [--every K]\n"
    "                                 [--save FILE.npy] [--json] [--help]\n"
    "\n"
    "Solves heat2d's problem on a grid of your choosing: row 0 held at 100, the last row at 0,\n"
    "insulated side columns, 0 elsewhere at the start; spacing 1/NX and 1/NY. The rows are split\n"
    "into P strips exactly as heat2d splits them, and every P gives the same bits.\n"
    "\n"
    "  --rows NX       grid rows, at least 2 per process (default 10)\n"
    "  --cols NY       grid columns, at least 2 (default 10)\n"
    "  --steps S       time steps, at least 1 (default 25000)\n"
    "  --dt DT         time step, positive and stable: DT*(NX^2 + NY^2) <= 1/2 (default 1e-05)\n"
    "  --every K       snapshot files every K steps as heat2d writes them, 0 for none (default "
    "10)\n"
    "  --save FILE.npy the field after the last step as a NumPy file (float64, NX x NY)\n"
    "  --json          the summary as one JSON object on one line\n"
    "  --help          this text\n"
    "\n"
    "Rank 0 prints a summary: time per step, cell updates per second, the share of the time spent\n"
    "trading rows, and the largest difference from the exact solution. Exit status: 0 done, 1 a\n"
    "snapshot or the .npy file could not be written, 2 bad input.\n";

namespace {

// A whole number in int's range, written as digits with an optional sign and nothing else.
bool read_int(const char* text, int& value) {
  if (*text == '\0' || std::strchr("+-0123456789", *text) == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

// A finite number in any of strtod's forms, with nothing before or after it.
bool read_double(const char* text, double& value) {
  if (*text == '\0' || std::strchr("+-.0123456789", *text) == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return *end == '\0' && errno != ERANGE && std::isfinite(value);
}

std::string quoted(const char* text) {
  return std::string("'") + text + "'";
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, StudyOptions& options) {
  for (int k = 1; k < argc; ++k) {
    std::string option = argv[k];
    const char* value = nullptr;
    const std::size_t equals = option.find('=');
    if (option.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = argv[k] + equals + 1;
      option.resize(equals);
    }
    if (option == "--help" || option == "--json") {
      if (value != nullptr) return "option " + option + " takes no value";
      (option == "--help" ? options.help : options.json) = true;
      continue;
    }
    int* whole = option == "--rows"    ? &options.rows
                 : option == "--cols"  ? &options.cols
                 : option == "--steps" ? &options.steps
                 : option == "--every" ? &options.every
                                       : nullptr;
    if (whole == nullptr && option != "--dt" && option != "--save") {
      return "unknown option " + quoted(argv[k]) + " (--help lists the options)";
    }
    if (value == nullptr) {
      if (k + 1 == argc) return "option " + option + " needs a value";
      value = argv[++k];
    }
    if (whole != nullptr && !read_int(value, *whole)) {
      return "option " + option + " needs a whole number, not " + quoted(value);
    }
    if (option == "--dt" && !read_double(value, options.dt)) {
      return "option --dt needs a finite number, not " + quoted(value);
    }
    if (option == "--save") {
      if (*value == '\0') return "option --save needs a file name";
      options.save = value;
    }
  }
  return "";
}
