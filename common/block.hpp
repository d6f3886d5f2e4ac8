// A process's block of the grid: the grid around it, the cells it owns, the ring of ghost cells
// around them and the processes beyond its sides. The explicit update, the halo exchange, the
// saved fields and every level of the multigrid take their geometry from one.
#pragma once

#include <mpi.h>

#include "common/region.hpp"
#include "common/side.hpp"
#include "problem/problem.hpp"

struct Block {
  GridSize grid;      // the whole grid (of this level, for the multigrid's coarser ones)
  int first_row = 0;  // the grid row of the block's row 0
  int first_col = 0;  // the grid column of the block's column 0
  int rows = 0;       // rows the block owns
  int cols = 0;       // columns it owns
  int ghost = 1;      // depth of the ring of ghost cells around them
  MPI_Comm comm = MPI_COMM_NULL;  // of which the neighbours are ranks
  PerSide<int> neighbour = {{MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL}};

  Region owned() const { return {0, rows, 0, cols}; }
  // Every cell a layer of the block holds, ghost cells included.
  Region allocated() const { return owned().grown(ghost); }

  // Whether the block's side lies on the grid's edge (its first or last row or column).
  bool on_edge(Side side) const {
    switch (side) {
      case Side::top:
        return first_row == 0;
      case Side::bottom:
        return first_row + rows == grid.nx;
      case Side::left:
        return first_col == 0;
      case Side::right:
        return first_col + cols == grid.ny;
    }
    return false;
  }

  // The owned cells and `depth` more beyond each side that is not on the grid's edge: the cells a
  // ghost zone `depth` deep lets the block compute.
  Region with_ghosts(int depth) const {
    Region region = owned();
    for (Side side : SIDES) {
      if (!on_edge(side)) region = region.grown(side, depth);
    }
    return region;
  }

  bool has_neighbour(Side side) const { return neighbour[side] != MPI_PROC_NULL; }
  bool has_neighbours() const {
    for (Side side : SIDES) {
      if (has_neighbour(side)) return true;
    }
    return false;
  }

  // Whether the block's row i (a ghost row too) is one of the grid's held rows.
  bool held(int i) const { return held_row(grid, first_row + i); }
  // Whether the block's column j is the grid's first or last column.
  bool first_column(int j) const { return first_col + j == 0; }
  bool last_column(int j) const { return first_col + j == grid.ny - 1; }
};
