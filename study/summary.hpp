// The figures of a heat2d-study run, for people or for scripts.
#pragma once

#include <string>
#include <vector>

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
  double messages_per_step = 0.0;       // sent to neighbours, most of any process, over a pass
  int threads = 1;                      // in each process
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
  double exchange_seconds = 0.0;
  double save_seconds = 0.0;
};

// The run's time figures from every process's: the slowest time loop, the largest share of its
// own loop that any process spent trading edges, and the slowest saving of fields.
void set_times(RunFigures& figures, const std::vector<ProcessTimes>& times);

// A few lines for people, or (json) one JSON object on one line, both ending with a newline.
std::string summary(const RunFigures& figures, bool json);
