// The command line of heat2d-study.
#include "study/options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char* const STUDY_USAGE =
    "usage: mpiexec -n P heat2d-study [--rows NX] [--cols NY] [--steps S | --until T] [--dt DT]\n"
    "                   [--method explicit|euler|cn|trbdf2] [--tolerance R] [--cycles N]\n"
    "                   [--most-cycles N]\n"
    "                   [--every K] [--split strips|blocks] [--procs PXxPY]\n"
    "                   [--exchange blocking|overlap] [--save FILE.npy [--save-every K]]\n"
    "                   [--restart FILE.S.npy] [--initial FILE.npy]\n"
    "                   [--stores auto|cached|streamed] [--threads T] [--fuse K|auto]\n"
    "                   [--tile W] [--monitor K] [--json] [--help]\n"
    "\n"
    "Solves heat2d's problem on a grid of your choosing: row 0 held at 100, the last row at 0,\n"
    "insulated side columns, 0 elsewhere at the start; spacing 1/NX and 1/NY. Every number of\n"
    "processes, split, exchange, thread count and pass length gives the same bits.\n"
    "\n"
    "  --rows NX          grid rows, at least 3 and 2 per process row (default 10)\n"
    "  --cols NY          grid columns, at least 3 and 2 per process column (default 10)\n"
    "  --steps S          time steps from the start of the run, at least 1 (default 25000)\n"
    "  --until T          steps to reach time T instead (the last step ends at or just past T)\n"
    "  --dt DT            time step (default 1e-05); the explicit update needs it stable:\n"
    "                     DT*(NX^2 + NY^2) <= 1/2; the implicit methods take any DT > 0\n"
    "  --method M         explicit (default): the explicit update; euler: backward Euler;\n"
    "                     cn: Crank-Nicolson, started by four backward Euler half-steps;\n"
    "                     trbdf2: TR-BDF2 (second order, L-stable)\n"
    "  --tolerance R      an implicit step's linear solve ends when the residual's max-norm is\n"
    "                     at most R times the largest of the right-hand side and the held\n"
    "                     values, or as small as rounding lets it be (default 1e-10)\n"
    "  --cycles N         exactly N multigrid V-cycles per solve instead (for studies)\n"
    "  --most-cycles N    a solve that needs more V-cycles stops the run (default 60)\n"
    "  --every K          snapshot files every K steps as heat2d writes them, 0 for none\n"
    "                     (default 10)\n"
    "  --split strips     P strips of whole rows, as heat2d splits the grid (default)\n"
    "  --split blocks     a PX x PY grid of blocks (MPI_Dims_create's choice unless --procs)\n"
    "  --procs PXxPY      the process grid of --split blocks: PX process rows, PY columns\n"
    "  --exchange blocking  exchange the edges, then update (default)\n"
    "  --exchange overlap   update the inner cells while the edges travel\n"
    "  --save FILE.npy    the field after the last step as a NumPy file (float64, NX x NY), with\n"
    "                     its record FILE.npy.json (grid, steps done, dt, method, starting field)\n"
    "  --save-every K     also FILE.S.npy after every K-th step (S = steps done)\n"
    "  --restart FILE.S.npy  continue that saved run from step S to --steps\n"
    "  --initial FILE.npy    start from this field (float64, NX x NY) instead of heat2d's\n"
    "  --stores auto      write past the caches when the two layers outgrow them (default);\n"
    "                     cached or streamed forces one way\n"
    "  --threads T        threads in each process (default: OMP_NUM_THREADS, else 1)\n"
    "  --fuse K           K steps per pass over memory, and ghost zones K deep exchanged once a\n"
    "                     pass; auto (default) chooses K and the tile from the cache and the "
    "block\n"
    "  --tile W           columns of a tile in passes of several steps, a multiple of 8, at least\n"
    "                     16 (default: from the cache)\n"
    "  --monitor K        rank 0 reports the step, the time per step and the time left every K\n"
    "                     steps on standard error\n"
    "  --json             the summary as one JSON object on one line\n"
    "  --help             this text\n"
    "\n"
    "Rank 0 prints a summary: time per step, cell updates per second, the share of the time spent\n"
    "exchanging edges, the bytes sent per step, the multigrid's cycles (implicit methods), and "
    "the\n"
    "largest difference from the exact solution.\n"
    "Exit status: 0 done, 1 a snapshot, a saved field or the summary could not be written, a\n"
    "field that is no longer finite, or a linear solve that did not converge; 2 bad input.\n";

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

// A whole number of at least 1, or `auto` (0).
std::string read_count_or_auto(const std::string& option, const char* text, int& value) {
  if (std::strcmp(text, "auto") == 0) {
    value = 0;
    return "";
  }
  const std::string problem = read_int(option, text, value);
  if (!problem.empty() && problem.find("out of range") == std::string::npos) {
    return "option " + option + " needs a whole number or auto, not " + quoted(text);
  }
  if (problem.empty() && value < 1) {
    return option + " " + std::to_string(value) + " is too few: at least 1, or auto";
  }
  return problem;
}

// Each option that takes a value reads it where it belongs; `n` is the option's name.
using Reader = std::string (*)(const std::string& n, const char* value, StudyOptions& o);

std::string rows(const std::string& n, const char* v, StudyOptions& o) {
  o.given.rows = true;
  return read_int(n, v, o.problem.grid.nx);
}
std::string cols(const std::string& n, const char* v, StudyOptions& o) {
  o.given.cols = true;
  return read_int(n, v, o.problem.grid.ny);
}
std::string steps(const std::string& n, const char* v, StudyOptions& o) {
  o.given.steps = true;
  return read_int(n, v, o.problem.steps);
}
std::string until(const std::string& n, const char* v, StudyOptions& o) {
  return read_double(n, v, o.problem.until);
}
std::string dt(const std::string& n, const char* v, StudyOptions& o) {
  o.given.dt = true;
  return read_double(n, v, o.problem.dt);
}
std::string method(const std::string& n, const char* v, StudyOptions& o) {
  o.given.method = true;
  return read_choice(n, v, METHOD_NAMES, o.method.method);
}
std::string tolerance(const std::string& n, const char* v, StudyOptions& o) {
  return read_double(n, v, o.method.tolerance);
}
std::string cycles(const std::string& n, const char* v, StudyOptions& o) {
  return read_int(n, v, o.method.cycles);
}
std::string most_cycles(const std::string& n, const char* v, StudyOptions& o) {
  return read_int(n, v, o.method.most_cycles);
}
std::string every(const std::string& n, const char* v, StudyOptions& o) {
  return read_int(n, v, o.output.every);
}
std::string save(const std::string& n, const char* v, StudyOptions& o) {
  return read_path(n, v, o.output.save);
}
std::string save_every(const std::string& n, const char* v, StudyOptions& o) {
  return read_int(n, v, o.output.save_every);
}
std::string monitor(const std::string& n, const char* v, StudyOptions& o) {
  return read_int(n, v, o.output.monitor);
}
std::string restart(const std::string& n, const char* v, StudyOptions& o) {
  return read_path(n, v, o.problem.restart);
}
std::string initial(const std::string& n, const char* v, StudyOptions& o) {
  return read_path(n, v, o.problem.initial);
}
std::string split(const std::string& n, const char* v, StudyOptions& o) {
  return read_choice(n, v, SPLITS, o.parallel.split);
}
std::string procs(const std::string&, const char* v, StudyOptions& o) {
  return read_grid(v, o.parallel.procs);
}
std::string exchange(const std::string& n, const char* v, StudyOptions& o) {
  return read_choice(n, v, EXCHANGES, o.parallel.exchange);
}
std::string stores(const std::string& n, const char* v, StudyOptions& o) {
  return read_choice(n, v, STORES, o.parallel.stores);
}
std::string threads(const std::string& n, const char* v, StudyOptions& o) {
  o.given.threads = true;
  return read_int(n, v, o.parallel.threads);
}
std::string fuse(const std::string& n, const char* v, StudyOptions& o) {
  return read_count_or_auto(n, v, o.parallel.pass_length);
}
std::string tile(const std::string& n, const char* v, StudyOptions& o) {
  int& width = o.parallel.tile_width;
  const std::string problem = read_int(n, v, width);
  if (!problem.empty() || (width >= 16 && width % 8 == 0)) return problem;
  return n + " " + std::to_string(width) +
         " is not a whole number of cache lines: a multiple of 8 columns, at least 16";
}

// An option that takes a value, and where that value goes.
struct ValueOption {
  const char* name;
  Reader read;
};

const ValueOption VALUE_OPTIONS[] = {
    {"--rows", rows},           {"--cols", cols},       {"--steps", steps},
    {"--until", until},         {"--dt", dt},           {"--method", method},
    {"--tolerance", tolerance}, {"--cycles", cycles},   {"--most-cycles", most_cycles},
    {"--every", every},         {"--save", save},       {"--save-every", save_every},
    {"--monitor", monitor},     {"--restart", restart}, {"--initial", initial},
    {"--split", split},         {"--procs", procs},     {"--exchange", exchange},
    {"--stores", stores},       {"--threads", threads}, {"--fuse", fuse},
    {"--tile", tile},
};

const ValueOption* value_option(const std::string& name) {
  for (const ValueOption& option : VALUE_OPTIONS) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, StudyOptions& options) {
  for (int k = 1; k < argc; ++k) {
    std::string name = argv[k];
    const char* value = nullptr;
    const std::size_t equals = name.find('=');
    if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = argv[k] + equals + 1;
      name.resize(equals);
    }
    if (name == "--help" || name == "--json") {
      if (value != nullptr) return "option " + name + " takes no value";
      (name == "--help" ? options.help : options.output.json) = true;
      continue;
    }
    const ValueOption* option = value_option(name);
    if (option == nullptr) {
      return "unknown option " + quoted(argv[k]) + " (--help lists the options)";
    }
    if (value == nullptr) {
      if (k + 1 == argc) return "option " + name + " needs a value";
      value = argv[++k];
    }
    const std::string problem = option->read(name, value, options);
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
