// One run of heat2d-study: its options settled, its processes placed, its field advanced from one
// written step to the next, and its figures reported.
#pragma once

#include <mpi.h>

#include <memory>
#include <string>
#include <vector>

#include "checkpoint/save_lock.hpp"
#include "common/block.hpp"
#include "output/snapshot_losses.hpp"
#include "solver/pass_plan.hpp"
#include "stepping/explicit_stepper.hpp"
#include "stepping/stepper.hpp"
#include "study/options.hpp"
#include "study/start.hpp"
#include "study/summary.hpp"

// Where this process stands among the others.
struct Placement {
  int rank = 0;
  int process_count = 1;
  ProcessGrid processes;
  MPI_Comm cart = MPI_COMM_NULL;  // the processes as the process grid, ranks as in the world
  MPI_Comm row = MPI_COMM_NULL;   // the processes of this one's process row, in column order
  // The processes that save and read fields together: all of them.
  MPI_Comm files = MPI_COMM_WORLD;
  int process_row = 0;
  Block block;              // this process's, with its neighbours on `cart`
  std::vector<int> widths;  // the columns of every block in this process row
};

// The threads of each process: what was asked, and what the host's cores allow.
struct Threads {
  int asked = 1;
  int taken = 1;
  int cores = 0;  // the fewest any process may run on; 0 when unknown
};

// What the run has written, and what writing cost.
struct Writing {
  SnapshotLosses losses;
  double save_seconds = 0.0;  // in save_field, waiting for the others included
  int fields_saved = 0;
  SaveLock save_lock;  // rank 0's, on --save's path, for the whole run
};

struct Run {
  StudyOptions options;
  Start start;
  Placement place;
  Threads threads;
  PassPlan passes;  // of the explicit update
  bool automatic_passes = false;
  std::unique_ptr<Stepper> stepper;
  Writing writing;
};

// The explicit update's configuration for a block: its exchange and stores as the options say, and
// its passes as planned. Pure.
ExplicitConfig explicit_config(const StudyOptions& options, const PassPlan& passes);

// The pass length of a run that takes `steps` steps: as given, or (auto) from the smallest block
// and the core's L2; never longer than the run, nor than a block has rows, nor above 1 where a pass
// cannot combine (the overlapped exchange, an implicit method). Pure.
int pass_length_for(const StudyOptions& options, const ProcessGrid& processes, int steps,
                    double l2_bytes);

// Collective. Reads and checks the command line and the start; problems that are the same on every
// process stop them all before anything is written. Returns an empty string or the problem.
std::string settle(Run& run, int argc, char** argv, int thread_level);

// Collective. Places the processes, checks the memory, allocates the method's arrays, gives them
// their first layer, and checks and locks the --save path. Returns an empty string or the problem.
std::string prepare(Run& run);

// Collective. Writes the initial snapshot and its record, then advances the field from the steps
// already done to the last, writing and reporting on the way. Returns an empty string, or why the
// run stopped early; `seconds` gets the time loop's time.
std::string run_steps(Run& run, double& seconds);

// Collective. Saves the final field when asked, gathers the figures and (rank 0) prints the
// summary. `problem` is why the run stopped early, if it did. Returns this process's exit status.
int finish(Run& run, std::string problem, double loop_seconds);
