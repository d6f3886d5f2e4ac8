// Where a run of heat2d-study starts: heat2d's field, a user's field, or a saved field to continue.
#pragma once

#include <mpi.h>

#include <string>

#include "checkpoint/load_field.hpp"
#include "study/options.hpp"

struct Start {
  int steps_done = 0;                  // steps before the first of this run (a restart's record)
  std::string initial = HEAT2D_START;  // the run's starting field, carried into saved records
  std::string file;                    // the .npy to read the first layer from; empty: heat2d's
  FieldFile layout;                    // that file's shape and where its values begin
};

// Collective over `comm`; rank 0 reads. With --restart, the grid, dt and steps done come from the
// file's record, and the grid, dt and --steps the command line gives must agree with it; with
// --initial, the grid comes from the file. Fills `options` and `start`. Returns an empty string
// or one line saying what is wrong, the same on every process.
std::string resolve_start(StudyOptions& options, Start& start, MPI_Comm comm);
