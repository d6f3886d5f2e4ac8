// The command line of heat2d-study.
#pragma once

#include <string>

#include "solver/advance.hpp"
#include "solver/process_grid.hpp"
#include "solver/stores.hpp"

// Strips: P x 1 blocks of whole rows, heat2d's decomposition. Blocks: a PX x PY process grid.
enum class Split { strips, blocks };

// A problem of the user's choice; the defaults are heat2d's fixed problem.
struct StudyOptions {
  int rows = 10;        // NX, grid rows (the x direction)
  int cols = 10;        // NY, grid columns (the y direction)
  int steps = 25000;    // S, counted from the run's start (a restart continues to it)
  double dt = 1e-5;     // DT
  int every = 10;       // K: a snapshot every K steps, none when 0
  std::string save;     // FILE.npy for the final field, none when empty
  int save_every = 0;   // also FILE.S.npy after every K-th step, none when 0
  int monitor = 0;      // a line on the progress every K steps, none when 0
  std::string restart;  // FILE.S.npy to continue from
  std::string initial;  // FILE.npy to start from instead of heat2d's field
  Split split = Split::strips;
  ProcessGrid procs = {0, 0};  // --procs, or 0 x 0 when not given
  Exchange exchange = Exchange::blocking;
  Stores stores = Stores::automatic;
  int threads = 1;         // per process; unless given, OMP_NUM_THREADS where it is set
  int fuse = 1;            // steps per pass and ghost depth
  bool fuse_auto = false;  // --fuse auto: chosen with the tile from the cache and the block
  int tile = 0;            // columns of a tile in passes of several steps; 0 for auto
  bool json = false;       // the summary as one JSON object
  bool help = false;
  // Which of these the command line gave: a restart or a starting field supplies the others.
  bool rows_given = false;
  bool cols_given = false;
  bool dt_given = false;
  bool threads_given = false;
};

// The usage text printed by --help.
extern const char* const STUDY_USAGE;

// Reads argv[1..argc) into `options`. Returns an empty string, or one line saying what is wrong
// with the command line (an unknown option, a missing value, a value that is not a number of the
// right kind or out of range, a word that is not one of the choices). Values are checked for sense
// by check_problem.
std::string parse_options(int argc, const char* const* argv, StudyOptions& options);

// The words the summary uses for the choices.
const char* split_name(Split split);
const char* exchange_name(Exchange exchange);
const char* stores_name(Stores stores);
