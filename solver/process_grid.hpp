// The processes as a grid of blocks: which rows and columns of the grid each one owns.
#pragma once

#include <string>

#include "common/block.hpp"

// px process rows by py process columns; strips are the process grid P x 1.
struct ProcessGrid {
  int px = 1;
  int py = 1;
};

// The block of the process at (process_row, process_col), without its neighbours: rows split as
// heat2d splits them into strips (nx / px each, truncating, the last process row also taking the
// remainder), and columns the same way.
Block block_of(const GridSize& grid, const ProcessGrid& processes, int process_row,
               int process_col);

// Every block needs two rows and two columns: its first and last row (and column) are updated from
// different neighbours, and an insulated side column copies the column next to it. Returns an empty
// string, or one line saying which limit `processes` breaks on the grid and what would fit.
std::string check_process_grid(const GridSize& grid, const ProcessGrid& processes);
