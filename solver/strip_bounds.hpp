// Division of the grid's rows into one horizontal strip per process.
#pragma once

// Process `rank` owns grid rows [row_begin, row_end): NUMBER_OF_NODES_X / process_count rows
// (truncating), and the last process also takes the remainder.
void strip_bounds(const int& NUMBER_OF_NODES_X, const int& rank, const int& process_count,
                  int& row_begin, int& row_end);

// Every strip needs two rows (its first and last row are updated from different neighbours), so a
// grid of NUMBER_OF_NODES_X rows supports at most this many processes.
inline int max_process_count(const int& NUMBER_OF_NODES_X) {
  return NUMBER_OF_NODES_X / 2;
}
