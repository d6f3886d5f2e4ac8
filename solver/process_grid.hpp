// The processes as a grid of blocks: which rows and columns of the field each one holds.
#pragma once

#include <string>

// PX process rows by PY process columns; strips are the grid P x 1.
struct ProcessGrid {
  int rows = 1;
  int cols = 1;
};

// What one process holds: grid rows [row_begin, row_end) and columns [col_begin, col_end), and
// which of the grid's edges its block lies on. The first and last rows of the grid are held; its
// first and last columns are insulated.
struct Block {
  int row_begin = 0;
  int row_end = 0;
  int col_begin = 0;
  int col_end = 0;
  bool top_held = false;
  bool bottom_held = false;
  bool left_side = false;
  bool right_side = false;

  int rows() const { return row_end - row_begin; }
  int cols() const { return col_end - col_begin; }
};

// The block of the process at (process_row, process_col): rows split as strips split them (NX / PX
// each, truncating, the last process row also taking the remainder), and columns the same way.
Block block_of(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const ProcessGrid& grid,
               const int& process_row, const int& process_col);

// Every block needs two rows and two columns: its first and last row (and column) are updated from
// different neighbours, and an insulated side column copies the column next to it. Returns an empty
// string, or one line saying which limit `grid` breaks on an NX x NY grid and what would fit.
std::string check_process_grid(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y,
                               const ProcessGrid& grid);
