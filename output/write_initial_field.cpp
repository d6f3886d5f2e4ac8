// The initial-field snapshot of a grid of any size, without holding the grid.
#include "output/write_initial_field.hpp"

#include <vector>

#include "output/snapshot_name.hpp"
#include "output/write_layer.hpp"

int write_initial_field(const GridSize& grid) {
  // Row 0 is hot and every other row is cold, so all of those can point at one cold row: two rows
  // of memory stand for the whole grid.
  std::vector<double> hot(grid.ny, HOT_EDGE);
  std::vector<double> cold(grid.ny, COLD);
  std::vector<double*> T(grid.nx, cold.data());
  T[0] = hot.data();
  return write_layer(T.data(), grid.nx, grid.ny, INITIAL_FIELD_RANK, 0.0);
}
