// The fixed problem's time loop: this process's strip advanced 25000 steps, a snapshot every tenth.
#include "solver/solve.hpp"

#include <algorithm>
#include <iostream>
#include <vector>

#include "common/allocate_field.hpp"
#include "output/write_layer.hpp"
#include "solver/compute.hpp"
#include "solver/exchange.hpp"
#include "solver/strip_bounds.hpp"
#include "solver/swap_layers.hpp"

namespace {

constexpr int NUMBER_OF_STEPS = 25000;
constexpr int OUTPUT_INTERVAL = 10;

// The ghost rows start every step as copies of the strip's own edge rows: where a neighbour exists,
// exchange then overwrites them; the first process keeps its own first row in ghost_top and the
// last process its own last row in ghost_bottom, which is what holds the grid's top and bottom rows
// fixed. One pass for all four buffers: rows are short, and four library copies cost more.
void copy_edge_rows(double** T0, const int& sizeX, const int& sizeY, double* send_top,
                    double* send_bottom, double* ghost_top, double* ghost_bottom) {
  const double* first_row = T0[0];
  const double* last_row = T0[sizeX - 1];
  for (int n = 0; n < sizeY; ++n) {
    send_top[n] = first_row[n];
    send_bottom[n] = last_row[n];
    ghost_top[n] = first_row[n];
    ghost_bottom[n] = last_row[n];
  }
}

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
  // Allocated once for the whole loop; the loop itself allocates nothing.
  std::vector<double> send_top(sizeY), send_bottom(sizeY), ghost_top(sizeY), ghost_bottom(sizeY);

  for (int step = 0; step < NUMBER_OF_STEPS; ++step) {
    copy_edge_rows(T0, sizeX, sizeY, send_top.data(), send_bottom.data(), ghost_top.data(),
                   ghost_bottom.data());
    exchange(send_top.data(), send_bottom.data(), ghost_top.data(), ghost_bottom.data(), sizeY,
             rank, process_count);
    compute(T0, T1, sizeX, sizeY, ghost_top.data(), ghost_bottom.data(), dx, dy, dt, rank,
            process_count);
    // T1 now holds the strip after step + 1 updates; that is what the file labelled `step` holds.
    if (step % OUTPUT_INTERVAL == 0) {
      const int error = write_layer(T1, sizeX, sizeY, rank, step);
      if (error != 0) note_loss(losses, rank, step, error);
    }
    swap_layers(T0, T1);
  }
}
