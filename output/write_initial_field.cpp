// The initial-field snapshot of a grid of any size, without holding the grid.
#include "output/write_initial_field.hpp"

#include <vector>

#include "output/snapshot_name.hpp"
#include "output/write_layer.hpp"

int write_initial_field(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
  // Row 0 is hot and every other row is zeros, so all of those can point at one row of zeros: two
  // rows of memory stand for the whole grid.
  std::vector<double> hot(NUMBER_OF_NODES_Y, 100.0);
  std::vector<double> cold(NUMBER_OF_NODES_Y, 0.0);
  std::vector<double*> T(NUMBER_OF_NODES_X, cold.data());
  T[0] = hot.data();
  return write_layer(T.data(), NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y, INITIAL_FIELD_RANK, 0.0);
}
