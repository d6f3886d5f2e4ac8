// The figures of a heat2d-study run, for people or for scripts.
#pragma once

#include <string>
#include <vector>

#include "problem/problem.hpp"
#include "study/options.hpp"

// One figure over the processes, as a profiler gives it.
struct Spread {
  double min = 0.0;
  double mean = 0.0;
  double max = 0.0;
  double imbalance() const { return mean > 0.0 ? max / mean : 1.0; }  // 1 when all are equal
};

// What was run, and on how many processes.
struct RunSetup {
  GridSize grid;
  int processes = 0;
  Split split = Split::strips;
  ProcessGrid procs;
  Exchange exchange = Exchange::blocking;
  Method method = Method::explicit_update;
  int first_step = 0;  // steps done before this run (a restart's record)
  int steps = 0;       // steps done at the end, counted from the start
  double dt = 0.0;
};

// Where the time went, over the processes.
struct TimeFigures {
  double wall_seconds = 0.0;    // the time loop on the slowest process, from MPI_Wtime
  double exchange_share = 0.0;  // of the time loop spent exchanging, largest over the processes
  double save_seconds = 0.0;    // saving fields, slowest process
  Spread update;                // seconds each process spent updating cells
  Spread exchange;              // exchanging halos, waiting included
  Spread save;                  // saving fields, waiting for the others included
  int busiest = 0;              // the rank that spent the longest updating
};

// What the process that sends the most sent, per step (averaged over passes and solves).
struct TrafficFigures {
  long long bytes_per_step = 0;
  double messages_per_step = 0.0;
};

struct ThreadFigures {
  int threads = 1;               // in each process
  int asked = 1;                 // per process, before a crowded host took some away
  int cores = 0;                 // the fewest any process may run on; 0 when unknown
  double host_load = 0.0;        // threads per online core on the most crowded host; 0: unknown
  std::vector<long long> cells;  // computed by each thread of rank 0
};

// How the explicit update ran.
struct PassFigures {
  int pass_length = 1;     // steps per pass and ghost depth
  int tile_width = 0;      // columns of a tile in passes of several steps; 0 for none
  int tiles = 0;           // tiles a pass sweeps; 1: the whole block at once
  bool automatic = false;  // chosen by --fuse auto
  bool streamed = false;   // whether single steps wrote past the caches
  std::string kernel;      // the span kernel of the update
  std::string cache;       // the last-level cache size and where it was learnt
};

// How the linear solves of an implicit method went, over the whole run.
struct SolveFigures {
  long long solves = 0;
  long long cycles = 0;                  // V-cycles in all
  int most_cycles = 0;                   // in one solve
  double reduction = 0.0;                // of the residual per cycle, geometric mean
  double cycle_seconds = 0.0;            // per cycle, slowest process
  std::vector<double> level_shares;      // of a cycle's time, finest level first
  std::vector<std::string> level_grids;  // each level's grid, "1024 x 1024"
  int distributed_levels = 0;            // spread over the processes; the rest on one
  double messages_per_cycle = 0.0;       // of the process that sends the most
  std::vector<double> level_messages;    // per cycle on each level, most of any process
};

struct RunFigures {
  RunSetup setup;
  TimeFigures time;
  TrafficFigures traffic;
  ThreadFigures threads;
  PassFigures passes;
  SolveFigures solves;      // implicit methods only
  int fields_saved = 0;     // --save and --save-every files written
  double peak_bytes = 0.0;  // resident in memory at most, largest over the processes
  bool exact = true;        // whether the exact solution applies (heat2d's starting field)
  double max_error = 0.0;   // largest difference from the exact solution at steps * dt
};

// What one process measured of its time loop.
struct ProcessTimes {
  double loop_seconds = 0.0;
  double update_seconds = 0.0;
  double exchange_seconds = 0.0;
  double save_seconds = 0.0;
};

// The run's time figures from every process's (in rank order): the slowest time loop, the largest
// share of its own loop that any process spent exchanging, the slowest saving of fields, the
// spread of each time over the processes, and the busiest process. Pure.
TimeFigures time_figures(const std::vector<ProcessTimes>& times);

// A few lines for people, or (json) one JSON object on one line, both ending with a newline. Pure.
std::string summary(const RunFigures& figures, bool json);
