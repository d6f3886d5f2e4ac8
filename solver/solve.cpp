// The fixed problem's time loop: this process's strip advanced 25000 steps, a snapshot every tenth.
#include "solver/solve.hpp"

#include <algorithm>
#include <iostream>

#include "common/allocate_field.hpp"
#include "solver/advance.hpp"
#include "solver/strip_bounds.hpp"

namespace {
constexpr int NUMBER_OF_STEPS = 25000;
constexpr int OUTPUT_INTERVAL = 10;
}  // namespace

void solve(double** T, const double& a, const double& b, const double& c, const double& d,
           const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank,
           const int& process_count, SnapshotLosses& losses) {
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

  double** T0 = allocate_field(sizeX, sizeY);
  double** T1 = allocate_field(sizeX, sizeY);
  for (int k = row_begin; k < row_end; ++k) {
    std::copy(T[k], T[k] + sizeY, T0[k - row_begin]);
    std::copy(T[k], T[k] + sizeY, T1[k - row_begin]);
  }
  double exchange_seconds = 0.0;
  advance(T0, T1, sizeX, sizeY, dx, dy, dt, rank, process_count, NUMBER_OF_STEPS, OUTPUT_INTERVAL,
          losses, exchange_seconds);
}
