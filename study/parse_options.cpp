// The command line of heat2d-study.
#include "study/parse_options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char* const STUDY_USAGE =
    "usage: mpiexec -n P heat2d-study [--rows NX] [--cols NY] [--steps S] [--dt DT] [--every K]\n"
    "                   [--split strips|blocks] [--procs PXxPY] [--exchange blocking|overlap]\n"
    "                   [--save FILE.npy [--save-every K]] [--restart FILE.S.npy]\n"
    "                   [--initial FILE.npy] [--stores auto|cached|streamed]\n"
    "                   [--threads T] [--fuse K|auto] [--tile W] [--monitor K] [--json]\n"
    "                   [--help]\n"
    "\n"
    "Solves heat2d's problem on a grid of your choosing: row 0 held at 100, the last row at 0,\n"
    "insulated side columns, 0 elsewhere at the start; spacing 1/NX and 1/NY. Every number of\n"
    "processes, split and exchange gives the same bits.\n"
    "\n"
    "  --rows NX          grid rows, at least 3 and 2 per process row (default 10)\n"
    "  --cols NY          grid columns, at least 3 and 2 per process column (default 10)\n"
    "  --steps S          time steps from the start of the run, at least 1 (default 25000)\n"
    "  --dt DT            time step, positive and stable: DT*(NX^2 + NY^2) <= 1/2 (default 1e-05)\n"
    "  --every K          snapshot files every K steps as heat2d writes them, 0 for none\n"
    "                     (default 10)\n"
    "  --split strips     P strips of whole rows, as heat2d splits the grid (default)\n"
    "  --split blocks     a PX x PY grid of blocks (MPI_Dims_create's choice unless --procs)\n"
    "  --procs PXxPY      the process grid of --split blocks: PX process rows, PY columns\n"
    "  --exchange blocking  trade the edges, then update (default)\n"
    "  --exchange overlap   update the inner cells while the edges travel\n"
    "  --save FILE.npy    the field after the last step as a NumPy file (float64, NX x NY), with\n"
    "                     its record FILE.npy.json (grid, steps done, dt, starting field)\n"
    "  --save-every K     also FILE.S.npy after every K-th step (S = steps done)\n"
    "  --restart FILE.S.npy  continue that saved run from step S to --steps\n"
    "  --initial FILE.npy    start from this field (float64, NX x NY) instead of heat2d's\n"
    "  --stores auto      write past the caches when the two layers outgrow them (default);\n"
    "                     cached or streamed forces one way\n"
    "  --threads T        threads in each process (default: OMP_NUM_THREADS, else 1)\n"
    "  --fuse K           K steps per pass over memory, and ghost zones K deep traded once a pass\n"
    "                     (default 1); auto chooses K and the tile from the cache and the block\n"
    "  --tile W           columns of a tile in passes of several steps, a multiple of 8 (default:\n"
    "                     from the cache)\n"
    "  --monitor K        rank 0 reports the step, the time per step and the time left every K\n"
    "                     steps on standard error\n"
    "  --json             the summary as one JSON object on one line\n"
    "  --help             this text\n"
    "\n"
    "Rank 0 prints a summary: time per step, cell updates per second, the share of the time spent\n"
    "trading edges, the bytes sent per step, and the largest difference from the exact solution.\n"
    "Exit status: 0 done, 1 a snapshot, a saved field or the summary could not be written, 2 bad\n"
    "input.\n";

namespace {

std::string quoted(const char* text) {
  return std::string("'") + text + "'";
}

// A whole number in int's range, written as digits with an optional sign and nothing else.
std::string read_int(const std::string& option, const char* text, int& value) {
  const bool digits = *text != '\0' && std::strchr("+-0123456789", *text) != nullptr;
  char* end = nullptr;
  errno = 0;
  const long long parsed = digits ? std::strtoll(text, &end, 10) : 0;
  if (!digits || *end != '\0' || end == text) {
    return "option " + option + " needs a whole number, not " + quoted(text);
  }
  if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
    return "option " + option + " " + text + " is out of range: a whole number from " +
           std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX);
  }
  value = static_cast<int>(parsed);
  return "";
}

// A finite number in any of strtod's forms, with nothing before or after it. Subnormal values are
// numbers like any other; only overflow, and underflow all the way to zero, are refused.
std::string read_double(const std::string& option, const char* text, double& value) {
  const bool number = *text != '\0' && std::strchr("+-.0123456789", *text) != nullptr;
  char* end = nullptr;
  errno = 0;
  value = number ? std::strtod(text, &end) : 0.0;
  if (!number || *end != '\0' || !std::isfinite(value)) {
    return "option " + option + " needs a finite number, not " + quoted(text);
  }
  if (errno == ERANGE && value == 0.0) {
    return "option " + option + " " + text + " is too small for a double: it rounds to 0";
  }
  return "";
}

// PXxPY with two whole numbers of at least 1.
std::string read_grid(const char* text, ProcessGrid& grid) {
  const std::string bad =
      "option --procs needs a process grid such as 2x3 (process rows x process "
      "columns), not " +
      quoted(text);
  const char* x = std::strchr(text, 'x');
  if (x == nullptr) return bad;
  const std::string rows(text, x);
  const std::string cols(x + 1);
  int r = 0;
  int c = 0;
  if (!read_int("--procs", rows.c_str(), r).empty() ||
      !read_int("--procs", cols.c_str(), c).empty() || r < 1 || c < 1 || rows[0] == '+' ||
      cols[0] == '+') {
    return bad;
  }
  grid = {r, c};
  return "";
}

// One of `count` words, whose index goes to `choice`.
std::string read_word(const std::string& option, const char* text, const char* const* words,
                      int count, int& choice) {
  std::string listed;
  for (int k = 0; k < count; ++k) {
    if (std::strcmp(text, words[k]) == 0) {
      choice = k;
      return "";
    }
    listed += (k == 0 ? "" : k == count - 1 ? " or " : ", ") + std::string(words[k]);
  }
  return "option " + option + " takes " + listed + ", not " + quoted(text);
}

const char* const SPLITS[] = {"strips", "blocks"};
const char* const EXCHANGES[] = {"blocking", "overlap"};
const char* const STORES[] = {"auto", "cached", "streamed"};

template <typename Choice, int N>
std::string read_choice(const std::string& option, const char* text, const char* const (&words)[N],
                        Choice& choice) {
  int index = 0;
  const std::string problem = read_word(option, text, words, N, index);
  if (problem.empty()) choice = static_cast<Choice>(index);
  return problem;
}

std::string read_path(const std::string& option, const char* text, std::string& path) {
  if (*text == '\0') return "option " + option + " needs a file name";
  path = text;
  return "";
}

const char* const OPTIONS_WITH_VALUES[] = {
    "--rows",   "--cols",    "--steps",   "--every", "--save-every", "--dt",
    "--save",   "--restart", "--initial", "--procs", "--split",      "--exchange",
    "--stores", "--threads", "--fuse",    "--tile",  "--monitor"};

// A whole number, or `auto`.
std::string read_int_or_auto(const std::string& option, const char* text, int& value,
                             bool& automatic) {
  automatic = std::strcmp(text, "auto") == 0;
  if (automatic) return "";
  const std::string problem = read_int(option, text, value);
  if (problem.empty() || problem.find("out of range") != std::string::npos) return problem;
  return "option " + option + " needs a whole number or auto, not " + quoted(text);
}

bool takes_a_value(const std::string& option) {
  for (const char* name : OPTIONS_WITH_VALUES) {
    if (option == name) return true;
  }
  return false;
}

// Reads the value of one of OPTIONS_WITH_VALUES.
std::string read_value(const std::string& option, const char* value, StudyOptions& o) {
  if (option == "--rows") return o.rows_given = true, read_int(option, value, o.rows);
  if (option == "--cols") return o.cols_given = true, read_int(option, value, o.cols);
  if (option == "--steps") return read_int(option, value, o.steps);
  if (option == "--every") return read_int(option, value, o.every);
  if (option == "--save-every") return read_int(option, value, o.save_every);
  if (option == "--dt") return o.dt_given = true, read_double(option, value, o.dt);
  if (option == "--save") return read_path(option, value, o.save);
  if (option == "--restart") return read_path(option, value, o.restart);
  if (option == "--initial") return read_path(option, value, o.initial);
  if (option == "--procs") return read_grid(value, o.procs);
  if (option == "--split") return read_choice(option, value, SPLITS, o.split);
  if (option == "--exchange") return read_choice(option, value, EXCHANGES, o.exchange);
  if (option == "--threads") return o.threads_given = true, read_int(option, value, o.threads);
  if (option == "--fuse") return read_int_or_auto(option, value, o.fuse, o.fuse_auto);
  if (option == "--tile") return read_int(option, value, o.tile);
  if (option == "--monitor") return read_int(option, value, o.monitor);
  return read_choice(option, value, STORES, o.stores);
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
    if (!takes_a_value(option)) {
      return "unknown option " + quoted(argv[k]) + " (--help lists the options)";
    }
    if (value == nullptr) {
      if (k + 1 == argc) return "option " + option + " needs a value";
      value = argv[++k];
    }
    const std::string problem = read_value(option, value, options);
    if (!problem.empty()) return problem;
  }
  return "";
}

const char* split_name(Split split) {
  return SPLITS[static_cast<int>(split)];
}

const char* exchange_name(Exchange exchange) {
  return EXCHANGES[static_cast<int>(exchange)];
}

const char* stores_name(Stores stores) {
  return STORES[static_cast<int>(stores)];
}
