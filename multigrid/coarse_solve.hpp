// The coarsest level's system solved exactly, on the one process that holds the level.
#pragma once

#include <vector>

#include "multigrid/level.hpp"

// The LU factors of the coarsest level's operator over its unknowns (row by row), without
// pivoting: the operator is diagonally dominant.
struct CoarseSolver {
  int rows = 0;  // unknown rows and columns of the level
  int cols = 0;
  std::vector<double> lu;  // n x n, n = rows * cols
};

// Factors the operator of `level`, a whole grid on one process.
CoarseSolver factor(const Level& level);

// Solves A u = f on the level's unknowns, the end rows' values (0 on a coarse level) entering the
// right-hand side, and writes u there.
void solve_coarsest(const CoarseSolver& solver, Level& level);
