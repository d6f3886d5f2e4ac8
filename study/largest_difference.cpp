// How far a strip is from the exact solution.
#include "study/largest_difference.hpp"

#include <algorithm>
#include <cmath>

#include "study/exact_solution.hpp"

double largest_difference(double** T0, const int& sizeX, const int& sizeY, const int& row_begin,
                          const int& NUMBER_OF_NODES_X, const double& dx, const double& t) {
  const double L = (NUMBER_OF_NODES_X - 1) * dx;
  double largest = 0.0;
  for (int i = 0; i < sizeX; ++i) {
    const double exact = exact_solution((row_begin + i) * dx, L, t);
    for (int j = 0; j < sizeY; ++j) largest = std::max(largest, std::fabs(T0[i][j] - exact));
  }
  return largest;
}
