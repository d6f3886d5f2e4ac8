// Division of the grid's rows into one horizontal strip per process.
#include "solver/strip_bounds.hpp"

void strip_bounds(const int& NUMBER_OF_NODES_X, const int& rank, const int& process_count,
                  int& row_begin, int& row_end) {
  const int rows_per_process = NUMBER_OF_NODES_X / process_count;
  row_begin = rows_per_process * rank;
  row_end = rank == process_count - 1 ? NUMBER_OF_NODES_X : row_begin + rows_per_process;
}
