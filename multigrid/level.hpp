// One level of the multigrid on one process: its grid, this process's block of it, the operator's
// coefficients, and its two layers.
#pragma once

#include <vector>

#include "common/block.hpp"
#include "multigrid/axis.hpp"
#include "solver/halo.hpp"

// The operator (I - k L) of an implicit step, k = theta * dt, on a level: for the unknown (i, j),
// with the level's grid indices,
//   (A u)(i, j) = diagonal * u(i, j) - neighbours,
//   neighbours  = ((x_lower[i] * u(i-1, j) + x_upper[i] * u(i+1, j)) + y_lower[j] * u(i, j-1))
//                 + y_upper[j] * u(i, j+1),
//   diagonal    = (1 + x_sum[i]) + y_sum[j],
// evaluated in exactly this order everywhere, so that every process and thread gives the same
// bits. The held rows enter through their values (the field's on the finest level, 0 on the
// coarser ones, which solve for corrections); the insulated columns do not enter at all.
struct Coefficients {
  std::vector<double> x_lower, x_upper, x_sum;  // by grid row
  std::vector<double> y_lower, y_upper, y_sum;  // by grid column
  int y_uniform[2] = {0, 0};  // grid columns [begin, end) where the y coefficients are all alike
  // 1 / diagonal, by grid column, for each kind of row (rows whose x_sum is the same share one).
  std::vector<int> row_kind;
  std::vector<std::vector<double>> inverse_diagonal;
};

// The operator's coefficients on a level of directions x and y, for k = theta * dt.
Coefficients coefficients(const Axis& x, const Axis& y, double k);

struct Level {
  Axis x;
  Axis y;
  Block block;  // this process's (the whole grid on a level that one process solves), ghost 2
  Coefficients a;
  double** u = nullptr;  // the solution (on the coarser levels, the correction)
  double** f = nullptr;  // the right-hand side
  Halo halo;
  double seconds = 0.0;  // spent on this level (coarser levels not included)

  GridSize grid() const { return block.grid; }
  // The unknowns of the block, in its own coordinates: its cells off the grid's end rows and
  // columns.
  Region unknowns() const;
};

// Bytes one layer of a level's block takes.
double layer_bytes(const Block& block);

// Allocates and zeroes the level's two layers; false where the memory is not there.
bool allocate_level(Level& level);
