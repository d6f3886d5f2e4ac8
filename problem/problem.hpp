// The problem both programs solve: the heat equation T_t = T_xx + T_yy on the unit square, on a
// grid of nodes whose first and last rows are held and whose side columns are insulated.
#pragma once

// The nodes of the whole grid: nx rows along x (the first index), ny columns along y.
struct GridSize {
  int nx = 0;
  int ny = 0;
};

// The starting field: the first row hot, every other node cold.
constexpr double HOT_EDGE = 100.0;
constexpr double COLD = 0.0;

// The spacing divides the unit length by the number of nodes, not of intervals (0.1 on a 10 x 10
// grid), so the last row lies at x = (nx - 1) / nx, which is where the exact solution puts the
// cold edge.
inline double spacing(int nodes) {
  return 1.0 / nodes;
}

// The first and last rows keep the values they start with (Dirichlet). The first and last columns
// are insulated (Neumann): each copies its inner neighbour, one step behind in the explicit update
// and at the new time in an implicit one.
inline bool held_row(const GridSize& grid, int row) {
  return row == 0 || row == grid.nx - 1;
}
inline bool insulated_column(const GridSize& grid, int col) {
  return col == 0 || col == grid.ny - 1;
}
