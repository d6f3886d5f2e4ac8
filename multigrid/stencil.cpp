// The five-point operator of a level on one row of its block: relaxation, the residual, and the
// explicit half of a step.
#include "multigrid/stencil.hpp"

#include <algorithm>
#include <cmath>

namespace {

// The coefficients of block row i, and of its columns from the block's column 0.
struct RowView {
  double x_lower;
  double x_upper;
  double x_sum;
  const double* y_lower;
  const double* y_upper;
  const double* y_sum;
  const double* inverse_diagonal;
};

RowView row_view(const Level& level, int i) {
  const Coefficients& a = level.a;
  const int row = level.block.first_row + i;
  const int col = level.block.first_col;
  return {a.x_lower[row],
          a.x_upper[row],
          a.x_sum[row],
          a.y_lower.data() + col,
          a.y_upper.data() + col,
          a.y_sum.data() + col,
          a.inverse_diagonal[a.row_kind[row]].data() + col};
}

inline double neighbours(const RowView& c, const double* up, const double* centre,
                         const double* down, int j) {
  return ((c.x_lower * up[j] + c.x_upper * down[j]) + c.y_lower[j] * centre[j - 1]) +
         c.y_upper[j] * centre[j + 1];
}

inline double diagonal(const RowView& c, int j) {
  return (1.0 + c.x_sum) + c.y_sum[j];
}

}  // namespace

int relax_row(const Level& level, int i, int begin, int end, int colour) {
  const RowView c = row_view(level, i);
  double* row = level.u[i];
  const double* up = level.u[i - 1];
  const double* down = level.u[i + 1];
  const double* f = level.f[i];
  const int parity = (level.block.first_row + i + level.block.first_col + begin + colour) & 1;
  int cells = 0;
  for (int j = begin + parity; j < end; j += 2, ++cells) {
    const double gauss_seidel = (f[j] + neighbours(c, up, row, down, j)) * c.inverse_diagonal[j];
    row[j] += OVER_RELAXATION * (gauss_seidel - row[j]);
  }
  return cells;
}

void residual_row(const Level& level, int i, int begin, int end, double* out) {
  const RowView c = row_view(level, i);
  double** u = level.u;
  const double* f = level.f[i];
  for (int j = begin; j < end; ++j) {
    out[j] = f[j] - (diagonal(c, j) * u[i][j] - neighbours(c, u[i - 1], u[i], u[i + 1], j));
  }
}

double right_hand_side_row_norm(const Level& level, int i, int begin, int end) {
  const RowView c = row_view(level, i);
  const int row = level.block.first_row + i;
  const bool above = row - 1 == 0;
  const bool below = row + 1 == level.block.grid.nx - 1;
  double largest = 0.0;
  for (int j = begin; j < end; ++j) {
    double b = level.f[i][j];
    if (above) b += c.x_lower * level.u[i - 1][j];
    if (below) b += c.x_upper * level.u[i + 1][j];
    largest = std::max(largest, std::fabs(b));
  }
  return largest;
}

void explicit_part_row(const Level& level, double** u, int i, int begin, int end, double* out) {
  const RowView c = row_view(level, i);
  for (int j = begin; j < end; ++j) {
    out[j] =
        u[i][j] + (neighbours(c, u[i - 1], u[i], u[i + 1], j) - (c.x_sum + c.y_sum[j]) * u[i][j]);
  }
}
