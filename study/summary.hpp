// The figures of a heat2d-study run, for people or for scripts.
#pragma once

#include <string>
#include <vector>

// One figure over the processes, as a profiler gives it.
struct Spread {
  double min = 0.0;
  double mean = 0.0;
  double max = 0.0;
  double imbalance() const { return mean > 0.0 ? max / mean : 1.0; }  // 1 when all are equal
};

struct RunFigures {
  int rows = 0;
  int cols = 0;
  int processes = 0;
  std::string split;      // "strips" or "blocks"
  int procs[2] = {0, 0};  // process rows and columns
  std::string exchange;   // "blocking" or "overlap"
  int first_step = 0;     // steps done before this run (a restart's record)
  int steps = 0;          // steps done at the end, counted from the start
  double dt = 0.0;
  double wall_seconds = 0.0;     // the time loop on the slowest process, from MPI_Wtime
  double exchange_share = 0.0;   // of the time loop spent trading edges, largest over the processes
  long long bytes_per_step = 0;  // sent to neighbours, most of any process
  int fields_saved = 0;          // --save and --save-every files written
  double save_seconds = 0.0;     // writing them, slowest process
  Spread update;                 // seconds each process spent updating cells
  Spread exchange_time;          // trading edges, waiting included
  Spread save;                   // saving fields, waiting for the others included
  int busiest = 0;               // the rank that spent the longest updating
  double messages_per_step = 0.0;       // sent to neighbours, most of any process, over a pass
  int threads = 1;                      // in each process
  int cores = 0;                        // the fewest any process may run on; 0 when unknown
  double host_load = 0.0;  // threads per online core on the most crowded host; 0 when unknown
  std::vector<long long> thread_cells;  // cells computed by each thread of rank 0
  int fuse = 1;                         // steps per pass and ghost depth
  int tile = 0;                         // columns of a tile in passes of several steps; 0 for none
  bool streamed = false;                // whether the update wrote past the caches
  std::string cache;                    // the last-level cache size and where it was learnt
  bool exact = true;       // whether the exact solution applies (heat2d's starting field)
  double max_error = 0.0;  // largest difference from the exact solution at steps * dt
};

// What one process measured of its time loop.
struct ProcessTimes {
  double loop_seconds = 0.0;
  double update_seconds = 0.0;
  double exchange_seconds = 0.0;
  double save_seconds = 0.0;
};

// The run's time figures from every process's (in rank order): the slowest time loop, the largest
// share of its own loop that any process spent trading edges, the slowest saving of fields, the
// spread of each time over the processes, and the busiest process.
void set_times(RunFigures& figures, const std::vector<ProcessTimes>& times);

// A few lines for people, or (json) one JSON object on one line, both ending with a newline.
std::string summary(const RunFigures& figures, bool json);
