// How far a block is from the exact solution.
#include "study/largest_difference.hpp"

#include <algorithm>
#include <cmath>

#include "problem/exact_solution.hpp"

double largest_difference(double** T, const Block& block, double t) {
  const double dx = spacing(block.grid.nx);
  const double L = (block.grid.nx - 1) * dx;
  double largest = 0.0;
  for (int i = 0; i < block.rows; ++i) {
    const double exact = exact_solution((block.first_row + i) * dx, L, t);
    for (int j = 0; j < block.cols; ++j) largest = std::max(largest, std::fabs(T[i][j] - exact));
  }
  return largest;
}
