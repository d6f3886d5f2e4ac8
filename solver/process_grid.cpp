// The processes as a grid of blocks: which rows and columns of the grid each one owns.
#include "solver/process_grid.hpp"

#include "solver/strip_bounds.hpp"

Block block_of(const GridSize& grid, const ProcessGrid& processes, int process_row,
               int process_col) {
  Block block;
  block.grid = grid;
  int end = 0;
  strip_bounds(grid.nx, process_row, processes.px, block.first_row, end);
  block.rows = end - block.first_row;
  strip_bounds(grid.ny, process_col, processes.py, block.first_col, end);
  block.cols = end - block.first_col;
  return block;
}

namespace {

bool fits(const GridSize& grid, int px, int py) {
  return grid.nx / px >= 2 && grid.ny / py >= 2;
}

// The factorisation px x py of the processes that fits the grid with the most square blocks, or
// an empty string when none does.
std::string fitting_grid(const GridSize& grid, int processes) {
  int best = 0;
  double best_shape = 0.0;
  for (int px = 1; px <= processes; ++px) {
    if (processes % px != 0 || !fits(grid, px, processes / px)) continue;
    const double height = static_cast<double>(grid.nx) / px;
    const double width = static_cast<double>(grid.ny) * px / processes;
    const double shape = height < width ? height / width : width / height;
    if (best == 0 || shape > best_shape) {
      best = px;
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

std::string check_process_grid(const GridSize& grid, const ProcessGrid& processes) {
  if (fits(grid, processes.px, processes.py)) return "";
  const std::string broken = grid.nx / processes.px < 2
                                 ? too_many("rows", processes.px, grid.nx, "row")
                                 : too_many("columns", processes.py, grid.ny, "column");
  const int count = processes.px * processes.py;
  const std::string fitting = fitting_grid(grid, count);
  return "the " + std::to_string(processes.px) + "x" + std::to_string(processes.py) +
         " process grid does not fit a " + std::to_string(grid.nx) + " x " +
         std::to_string(grid.ny) + " grid: " + broken +
         ", and every block needs at least two rows and two columns; " +
         (fitting.empty()
              ? "no process grid of " + std::to_string(count) + " processes fits, at most " +
                    std::to_string((grid.nx / 2) * (grid.ny / 2)) + " processes do"
              : "--procs " + fitting + " fits");
}
