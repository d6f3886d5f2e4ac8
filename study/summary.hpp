// The figures of a heat2d-study run, for people or for scripts.
#pragma once

#include <string>

struct RunFigures {
  int rows = 0;
  int cols = 0;
  int processes = 0;
  int steps = 0;
  double dt = 0.0;
  double wall_seconds = 0.0;    // the time loop on the slowest process, from MPI_Wtime
  double exchange_share = 0.0;  // of the time loop spent trading rows, largest over the processes
  double max_error = 0.0;       // largest difference from the exact solution at steps * dt
};

// A few lines for people, or (json) one JSON object on one line, both ending with a newline.
std::string summary(const RunFigures& figures, bool json);
