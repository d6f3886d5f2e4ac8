// The time loop of one process: its strip advanced 25000 steps, a snapshot every tenth step.
#include "solver/solve.hpp"

#include <algorithm>
#include <iostream>

#include "common/allocate_field.hpp"
#include "output/write_layer.hpp"
#include "solver/strip_bounds.hpp"
#include "solver/swap_layers.hpp"
#include "solver/time_step.hpp"

namespace {
constexpr int NUMBER_OF_STEPS = 25000;
constexpr int OUTPUT_INTERVAL = 10;
}  // namespace

int solve(double** T, const double& a, const double& b, const double& c, const double& d,
          const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank,
          const int& process_count) {
  // The spacing divides by the number of nodes, not of intervals: 0.1 on the 10 x 10 grid.
  const double dx = (b - a) / NUMBER_OF_NODES_X;
  const double dy = (d - c) / NUMBER_OF_NODES_Y;
  std::cout << "dx = " << dx << std::endl;
  const double dt = 1e-5;

  int row_begin = 0;
  int row_end = 0;
  strip_bounds(NUMBER_OF_NODES_X, rank, process_count, row_begin, row_end);
  const int sizeX = row_end - row_begin;
  const int sizeY = NUMBER_OF_NODES_Y;

  // Everything the loop touches is allocated here, once; the loop itself allocates nothing.
  double** T0 = allocate_field(sizeX, sizeY);
  double** T1 = allocate_field(sizeX, sizeY);
  for (int k = row_begin; k < row_end; ++k) {
    std::copy(T[k], T[k] + sizeY, T0[k - row_begin]);
    std::copy(T[k], T[k] + sizeY, T1[k - row_begin]);
  }
  double* send_top = new double[sizeY]();
  double* send_bottom = new double[sizeY]();
  double* ghost_top = new double[sizeY]();
  double* ghost_bottom = new double[sizeY]();

  int lost_snapshots = 0;
  for (int step = 0; step < NUMBER_OF_STEPS; ++step) {
    time_step(T0, T1, sizeX, sizeY, send_top, send_bottom, ghost_top, ghost_bottom, dx, dy, dt,
              rank, process_count);
    // T1 now holds the strip after step + 1 updates; that is what the file labelled `step` holds.
    if (step % OUTPUT_INTERVAL == 0 && !write_layer(T1, sizeX, sizeY, rank, step)) {
      ++lost_snapshots;
    }
    swap_layers(T0, T1);
  }
  return lost_snapshots;
}
