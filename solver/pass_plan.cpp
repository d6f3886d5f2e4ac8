// How a block is advanced through several steps at once: how many steps a pass takes, and the
// tiles of columns that the pass sweeps and the threads share.
#include "solver/pass_plan.hpp"

#include <algorithm>

namespace {

constexpr int NARROWEST = 64;

// The multiple of SKEW at or below `column`.
int line_floor(long long column) {
  const long long below = column >= 0 ? column / SKEW : -((-column + SKEW - 1) / SKEW);
  return static_cast<int>(below * SKEW);
}

// Columns wide enough that the rows in use fill half the L2 cache.
long long fitting_width(int pass_length, double l2_bytes) {
  const double rows_in_use = 2.0 * (pass_length + 3);
  return std::max<long long>(NARROWEST, static_cast<long long>(l2_bytes / 2 / (rows_in_use * 8)) -
                                            static_cast<long long>(SKEW) * (pass_length - 1));
}

}  // namespace

int automatic_pass_length(const Block& block, const ProcessGrid& processes, double l2_bytes) {
  const double layers = 2.0 * block.rows * block.cols * sizeof(double);
  if (layers <= l2_bytes / 2) return 1;
  int length = AUTO_PASS_LENGTH;
  if (processes.px > 1) length = std::min(length, block.rows / 8);
  if (processes.py > 1) length = std::min(length, block.cols / 8);
  return std::max(1, length);
}

PassPlan plan_passes(const Block& block, int pass_length, int tile_width, int threads,
                     double l2_bytes) {
  PassPlan plan;
  plan.pass_length = pass_length;
  plan.threads = threads;
  if (pass_length == 1) return plan;
  // What the first step of a full pass computes, and the columns a tile crosses over the pass.
  const Region first = block.with_ghosts(pass_length - 1);
  const long long drift = static_cast<long long>(SKEW) * (pass_length - 1) / 2;
  const long long span = first.cols() + drift;
  const long long width = tile_width > 0 ? tile_width : fitting_width(pass_length, l2_bytes);
  // Whole shares for every thread, but no tile narrower than two cache lines where that can be.
  long long tiles = std::max<long long>(1, (span + width - 1) / width);
  tiles = (tiles + threads - 1) / threads * threads;
  while (tiles > threads && span / tiles < 2 * SKEW) tiles -= threads;
  tiles = std::max<long long>(1, std::min(tiles, span / SKEW));
  plan.tile_width =
      static_cast<int>(std::max<long long>(2 * SKEW, (span / tiles + SKEW - 1) / SKEW * SKEW));
  plan.tile_starts = {first.col_begin};
  for (long long t = 1; t < tiles; ++t) {
    plan.tile_starts.push_back(line_floor(first.col_begin + drift + t * span / tiles));
  }
  return plan;
}

void tile_columns(const PassPlan& plan, const Region& region, int level, int t, int& begin,
                  int& end) {
  const std::vector<int>& starts = plan.tile_starts;
  const int shift = SKEW * (level - 1);
  const int last = static_cast<int>(starts.size()) - 1;
  begin = t == 0 ? region.col_begin : std::max(region.col_begin, starts[t] - shift);
  end = t == last ? region.col_end : std::min(region.col_end, starts[t + 1] - shift);
}
