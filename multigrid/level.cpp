// One level of the multigrid on one process: its grid, this process's block of it, the operator's
// coefficients, and its two layers.
#include "multigrid/level.hpp"

#include <algorithm>
#include <new>

#include "common/allocate_field.hpp"

namespace {

void scale(const Axis& axis, double k, std::vector<double>& lower, std::vector<double>& upper,
           std::vector<double>& sum) {
  lower.resize(axis.nodes);
  upper.resize(axis.nodes);
  sum.resize(axis.nodes);
  for (int n = 0; n < axis.nodes; ++n) {
    lower[n] = k * axis.lower[n];
    upper[n] = k * axis.upper[n];
    sum[n] = lower[n] + upper[n];
  }
}

}  // namespace

Coefficients coefficients(const Axis& x, const Axis& y, double k) {
  Coefficients a;
  scale(x, k, a.x_lower, a.x_upper, a.x_sum);
  scale(y, k, a.y_lower, a.y_upper, a.y_sum);
  // The columns around the middle one whose coefficients are the middle one's.
  const int middle = y.nodes / 2;
  const auto alike = [&](int j) {
    return a.y_lower[j] == a.y_lower[middle] && a.y_upper[j] == a.y_upper[middle] &&
           a.y_sum[j] == a.y_sum[middle];
  };
  int begin = middle;
  int end = middle + 1;
  while (begin > 0 && alike(begin - 1)) --begin;
  while (end < y.nodes && alike(end)) ++end;
  a.y_uniform[0] = begin;
  a.y_uniform[1] = end;
  std::vector<double> kinds;
  a.row_kind.assign(x.nodes, 0);
  for (int i = 0; i < x.nodes; ++i) {
    const auto same = std::find(kinds.begin(), kinds.end(), a.x_sum[i]);
    a.row_kind[i] = static_cast<int>(same - kinds.begin());
    if (same != kinds.end()) continue;
    kinds.push_back(a.x_sum[i]);
    std::vector<double> inverse(y.nodes);
    for (int j = 0; j < y.nodes; ++j) inverse[j] = 1.0 / ((1.0 + a.x_sum[i]) + a.y_sum[j]);
    a.inverse_diagonal.push_back(std::move(inverse));
  }
  return a;
}

Region Level::unknowns() const {
  const Region owned = block.owned();
  const Region inside = {1 - block.first_row, block.grid.nx - 1 - block.first_row,
                         1 - block.first_col, block.grid.ny - 1 - block.first_col};
  return intersection(owned, inside);
}

double layer_bytes(const Block& block) {
  return block_bytes(block);
}

bool allocate_level(Level& level) {
  try {
    level.u = allocate_block(level.block, 0);
    level.f = allocate_block(level.block, 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const Region all = level.block.allocated();
  for (double** T : {level.u, level.f}) {
    for (int i = all.row_begin; i < all.row_end; ++i) {
      std::fill(T[i] + all.col_begin, T[i] + all.col_end, 0.0);
    }
  }
  return true;
}
