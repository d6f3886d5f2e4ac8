// The processes as a grid of blocks: which rows and columns of the field each one holds.
#pragma once

#include <string>

// PX process rows by PY process columns; strips are the grid P x 1.
struct ProcessGrid {
  int rows = 1;
  int cols = 1;
};

// What one process holds: grid rows [row_begin, row_end) and columns [col_begin, col_end) of a
// grid_rows x grid_cols grid, and which of the grid's edges its block lies on. The first and last
// rows of the grid are held; its first and last columns are insulated. A block's own row i is
// grid row row_begin + i, ghost rows included, so a ghost cell knows what the grid holds there.
struct Block {
  int grid_rows = 0;
  int grid_cols = 0;
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
  // Whether the block's row i (a ghost row too) is one of the grid's held rows.
  bool held(int i) const {
    const int row = row_begin + i;
    return row == 0 || row == grid_rows - 1;
  }
  // Whether the block's column j is the grid's first or last column.
  bool first_column(int j) const { return col_begin + j == 0; }
  bool last_column(int j) const { return col_begin + j == grid_cols - 1; }
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
