// How many steps a pass takes and how wide its tiles are, from the size of the core's cache.
#include "solver/pass_plan.hpp"

#include <algorithm>

namespace {

constexpr int LINE_CELLS = 8;
constexpr int SKEW = 8;  // as the tiled pass moves its tiles' edges at every step
constexpr int NARROWEST = 64;

int automatic_fuse(const Block& block, const ProcessGrid& grid, double l2_bytes) {
  const double layers = 2.0 * block.rows() * block.cols() * sizeof(double);
  if (layers <= l2_bytes / 2) return 1;
  int fuse = AUTO_FUSE;
  if (grid.rows > 1) fuse = std::min(fuse, block.rows() / 8);
  if (grid.cols > 1) fuse = std::min(fuse, block.cols() / 8);
  return std::max(1, fuse);
}

}  // namespace

PassPlan plan_passes(const Block& block, const ProcessGrid& grid, int fuse, int threads,
                     double l2_bytes) {
  PassPlan plan;
  plan.fuse = fuse > 0 ? fuse : automatic_fuse(block, grid, l2_bytes);
  const double rows_in_use = 2.0 * (plan.fuse + 3);
  const int fitting = std::max(
      NARROWEST, static_cast<int>(l2_bytes / 2 / (rows_in_use * 8)) - SKEW * (plan.fuse - 1));
  // Whole tiles for every thread, as few as fit.
  const int columns = block.cols() + SKEW * (plan.fuse - 1) / 2;
  int tiles = (columns + fitting - 1) / fitting;
  tiles = (tiles + threads - 1) / threads * threads;
  const int width = (columns + tiles - 1) / tiles;
  plan.tile = std::max(2 * LINE_CELLS, (width + LINE_CELLS - 1) / LINE_CELLS * LINE_CELLS);
  return plan;
}
