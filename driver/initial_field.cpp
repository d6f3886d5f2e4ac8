// The initial temperature field of the fixed problem.
#include "driver/initial_field.hpp"

#include "common/allocate_field.hpp"
#include "problem/problem.hpp"

double** initial_field(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
  double** T = allocate_field(NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y);
  for (int j = 0; j < NUMBER_OF_NODES_Y; ++j) T[0][j] = HOT_EDGE;
  return T;
}
