// The residual of a level passed down to the next coarser one.
#include "multigrid/transfer.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "multigrid/stencil.hpp"

namespace {

// The columns of fine residual one thread keeps: three rows, for the anchor row and the rows
// beside it, each with one column of ring on either side.
struct ResidualRows {
  int first_col;  // the block column of element 0
  std::vector<double> rows[3];
  int row_of[3] = {0, 0, 0};  // the block row each holds
  bool filled[3] = {false, false, false};
};

// Fine row i of the residual into `row` (zero outside the grid's unknowns); the largest magnitude
// over the block's own unknowns.
double fill_row(const Level& fine, bool zero_guess, int i, const Region& unknowns,
                const Region& span, ResidualRows& rows, int slot) {
  std::vector<double>& row = rows.rows[slot];
  std::fill(row.begin(), row.end(), 0.0);
  rows.row_of[slot] = i;
  rows.filled[slot] = true;
  const int grid_row = fine.block.first_row + i;
  if (grid_row < 1 || grid_row > fine.grid().nx - 2) return 0.0;
  double* out = row.data() - rows.first_col;
  if (zero_guess) {
    std::copy(fine.f[i] + span.col_begin, fine.f[i] + span.col_end, out + span.col_begin);
  } else {
    residual_row(fine, i, span.col_begin, span.col_end, out);
  }
  if (i < unknowns.row_begin || i >= unknowns.row_end) return 0.0;
  double largest = 0.0;
  for (int j = unknowns.col_begin; j < unknowns.col_end; ++j) {
    largest = std::max(largest, std::fabs(out[j]));
  }
  return largest;
}

// The residual row i, from the three kept rows or computed into the one that is least needed.
const double* residual(const Level& fine, bool zero_guess, int i, const Region& unknowns,
                       const Region& span, ResidualRows& rows, double& largest) {
  for (int slot = 0; slot < 3; ++slot) {
    if (rows.filled[slot] && rows.row_of[slot] == i) return rows.rows[slot].data() - rows.first_col;
  }
  // Rows are asked for in increasing order: the lowest kept row is no longer needed.
  int slot = 0;
  for (int s = 1; s < 3; ++s) {
    if (!rows.filled[s] || (rows.filled[slot] && rows.row_of[s] < rows.row_of[slot])) slot = s;
  }
  largest = std::max(largest, fill_row(fine, zero_guess, i, unknowns, span, rows, slot));
  return rows.rows[slot].data() - rows.first_col;
}

// The unknowns of a block, the fine one's ring included where it has neighbours.
Region with_ring(const Level& fine) {
  Region span = fine.unknowns();
  for (Side side : SIDES) {
    if (fine.block.has_neighbour(side)) span = span.grown(side, 1);
  }
  return intersection(span, {1 - fine.block.first_row, fine.grid().nx - 1 - fine.block.first_row,
                             1 - fine.block.first_col, fine.grid().ny - 1 - fine.block.first_col});
}

}  // namespace

double restrict_residual(const Level& fine, const AxisTransfer& x, const AxisTransfer& y,
                         const CoarsePart& coarse, bool zero_guess, Team& team) {
  const Block& c = *coarse.block;
  const Region unknowns = fine.unknowns();
  const Region span = with_ring(fine);
  // The coarse unknowns this process owns.
  const Region mine = intersection(c.owned(), {1 - c.first_row, c.grid.nx - 1 - c.first_row,
                                               1 - c.first_col, c.grid.ny - 1 - c.first_col});
  std::vector<double> largest(team.threads, 0.0);
#pragma omp parallel num_threads(team.threads) if (team.threads > 1)
  {
    const int thread = thread_number();
    int first = 0;
    int last = 0;
    share(mine.row_begin, mine.rows(), thread, team_size(), first, last);
    ResidualRows rows;
    rows.first_col = span.col_begin - 1;
    for (std::vector<double>& row : rows.rows) row.assign(span.cols() + 2, 0.0);
    double mine_largest = 0.0;
    for (int I = first; I < last; ++I) {
      const int row = c.first_row + I;
      const int F = x.anchor[row] - fine.block.first_row;
      const double* r[3];
      for (int a = 0; a < 3; ++a) {
        r[a] = residual(fine, zero_guess, F - 1 + a, unknowns, span, rows, mine_largest);
      }
      const std::array<double, 3>& gx = x.gather[row];
      double* out = coarse.values[I];
      for (int J = mine.col_begin; J < mine.col_end; ++J) {
        const int col = c.first_col + J;
        const int G = y.anchor[col] - fine.block.first_col;
        const std::array<double, 3>& gy = y.gather[col];
        double sum = 0.0;
        for (int a = 0; a < 3; ++a) {
          sum += gx[a] * ((gy[0] * r[a][G - 1] + gy[1] * r[a][G]) + gy[2] * r[a][G + 1]);
        }
        out[J] = sum;
      }
      team.cells[thread] += mine.cols();
    }
    largest[thread] = mine_largest;
  }
  return *std::max_element(largest.begin(), largest.end());
}
