// The command line of heat2d-study.
#pragma once

#include <string>

#include "problem/problem.hpp"
#include "solver/process_grid.hpp"
#include "solver/stores.hpp"
#include "stepping/explicit_stepper.hpp"
#include "stepping/method.hpp"

// Strips: P x 1 blocks of whole rows, heat2d's decomposition. Blocks: a PX x PY process grid.
enum class Split { strips, blocks };

// The problem and where it starts; the defaults are heat2d's fixed problem.
struct ProblemOptions {
  GridSize grid = {10, 10};
  int steps = 25000;   // counted from the run's start (a restart continues to it)
  double until = 0.0;  // the final time instead of --steps, when positive
  double dt = 1e-5;
  std::string initial;  // FILE.npy to start from instead of heat2d's field
  std::string restart;  // FILE.S.npy to continue from
};

// How each step is taken, and how its linear system is solved.
struct MethodOptions {
  Method method = Method::explicit_update;
  double tolerance = 1e-10;  // of the residual's max-norm, against the right-hand side's
  int cycles = 0;            // V-cycles per solve when positive, instead of the tolerance
  int most_cycles = 60;      // a solve that needs more fails the run
};

// How the work is divided and run.
struct ParallelOptions {
  Split split = Split::strips;
  ProcessGrid procs = {0, 0};  // --procs, or 0 x 0 when not given
  Exchange exchange = Exchange::blocking;
  Stores stores = Stores::automatic;
  int threads = 1;      // per process; unless given, OMP_NUM_THREADS where it is set
  int pass_length = 0;  // --fuse: steps per pass; 0 for auto
  int tile_width = 0;   // --tile: columns of a tile in passes; 0 for auto
};

// What the run writes.
struct OutputOptions {
  int every = 10;      // a snapshot every K steps, none when 0
  std::string save;    // FILE.npy for the final field, none when empty
  int save_every = 0;  // also FILE.S.npy after every K-th step, none when 0
  int monitor = 0;     // a line on the progress every K steps, none when 0
  bool json = false;   // the summary as one JSON object
};

// Which options the command line gave: a restart or a starting field supplies the others.
struct GivenOptions {
  bool rows = false;
  bool cols = false;
  bool steps = false;
  bool dt = false;
  bool threads = false;
  bool method = false;
};

struct StudyOptions {
  ProblemOptions problem;
  MethodOptions method;
  ParallelOptions parallel;
  OutputOptions output;
  GivenOptions given;
  bool help = false;
};

// The usage text printed by --help.
extern const char* const STUDY_USAGE;

// Reads argv[1..argc) into `options`. Returns an empty string, or one line saying what is wrong
// with the command line (an unknown option, a missing value, a value that is not a number of the
// right kind or out of range, a word that is not one of the choices). Values are checked for sense
// by check_problem. Pure.
std::string parse_options(int argc, const char* const* argv, StudyOptions& options);

// The words the command line and the summary use for the choices.
const char* split_name(Split split);
const char* exchange_name(Exchange exchange);
const char* stores_name(Stores stores);
