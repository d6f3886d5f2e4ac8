// The processes as a grid of blocks: which rows and columns of the field each one holds.
#include "solver/process_grid.hpp"

#include "solver/strip_bounds.hpp"

Block block_of(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const ProcessGrid& grid,
               const int& process_row, const int& process_col) {
  Block block;
  block.grid_rows = NUMBER_OF_NODES_X;
  block.grid_cols = NUMBER_OF_NODES_Y;
  strip_bounds(NUMBER_OF_NODES_X, process_row, grid.rows, block.row_begin, block.row_end);
  strip_bounds(NUMBER_OF_NODES_Y, process_col, grid.cols, block.col_begin, block.col_end);
  block.top_held = process_row == 0;
  block.bottom_held = process_row == grid.rows - 1;
  block.left_side = process_col == 0;
  block.right_side = process_col == grid.cols - 1;
  return block;
}

namespace {

bool fits(const int& NX, const int& NY, int rows, int cols) {
  return NX / rows >= 2 && NY / cols >= 2;
}

// The factorisation of rows x cols processes that fits the grid with the most square blocks, or an
// empty string when none does.
std::string fitting_grid(const int& NX, const int& NY, int processes) {
  int best = 0;
  double best_shape = 0.0;
  for (int rows = 1; rows <= processes; ++rows) {
    if (processes % rows != 0 || !fits(NX, NY, rows, processes / rows)) continue;
    const double height = static_cast<double>(NX) / rows;
    const double width = static_cast<double>(NY) * rows / processes;
    const double shape = height < width ? height / width : width / height;
    if (best == 0 || shape > best_shape) {
      best = rows;
      best_shape = shape;
    }
  }
  if (best == 0) return "";
  return std::to_string(best) + "x" + std::to_string(processes / best);
}

std::string too_many(const char* what, int count, int nodes, const char* noun) {
  return std::to_string(count) + " process " + what + " leave blocks of " +
         std::to_string(nodes / count) + " " + noun + (nodes / count == 1 ? "" : "s") + " on " +
         std::to_string(nodes) + " " + noun + "s";
}

}  // namespace

std::string check_process_grid(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y,
                               const ProcessGrid& grid) {
  const int NX = NUMBER_OF_NODES_X;
  const int NY = NUMBER_OF_NODES_Y;
  if (fits(NX, NY, grid.rows, grid.cols)) return "";
  const std::string broken = NX / grid.rows < 2 ? too_many("rows", grid.rows, NX, "row")
                                                : too_many("columns", grid.cols, NY, "column");
  const std::string fitting = fitting_grid(NX, NY, grid.rows * grid.cols);
  return "the " + std::to_string(grid.rows) + "x" + std::to_string(grid.cols) +
         " process grid does not fit a " + std::to_string(NX) + " x " + std::to_string(NY) +
         " grid: " + broken + ", and every block needs at least two rows and two columns; " +
         (fitting.empty() ? "no process grid of " + std::to_string(grid.rows * grid.cols) +
                                " processes fits, at most " + std::to_string((NX / 2) * (NY / 2)) +
                                " processes do"
                          : "--procs " + fitting + " fits");
}
