// A level's work between two visits of the coarser level, in one pass over memory: the
// correction's interpolation, the smoothing's half-sweeps, and the residual restricted to the
// coarser level, as a wavefront down the rows.
#include "multigrid/pass.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "multigrid/stencil.hpp"

namespace {

// The columns [begin, end) of a band of the widest stage's columns that one thread takes; `left`
// and `right` say that other bands lie beside it.
struct Band {
  int begin;
  int end;
  bool left;
  bool right;
};

// A stage's columns in a band: all of the band's, but `shrink` fewer beside another band (a stage
// `shrink` stages into the pass needs that many of the next band's columns done).
void band_columns(const Region& region, const Band& band, int shrink, int& begin, int& end) {
  begin = std::max(region.col_begin, band.left ? band.begin + shrink : region.col_begin);
  end = std::min(region.col_end, band.right ? band.end - shrink : region.col_end);
}

// The correction along y of the coarse rows the last fine rows were interpolated from: a coarse
// row serves two or three fine rows in turn.
struct CoarseRows {
  int row[2] = {INT_MIN, INT_MIN};
  std::vector<double> values[2];
  int oldest = 0;
};

// Coarse row `I` (its grid row) interpolated along y onto the fine columns [begin, end):
// w0 * E(I, q0) + w1 * E(I, q1) for each fine column's two coarse parents q0 and q1.
const double* interpolated_row(const Level& fine, const Correction& c, int I, int begin, int end,
                               CoarseRows& cache) {
  for (int k = 0; k < 2; ++k) {
    if (cache.row[k] == I) return cache.values[k].data() - begin;
  }
  const int k = cache.oldest;
  cache.oldest = 1 - k;
  cache.row[k] = I;
  std::vector<double>& values = cache.values[k];
  values.resize(end - begin);
  const Block& coarse = *c.coarse.block;
  interpolate_along_y(c.coarse.values[I - coarse.first_row], *c.y, fine.block.first_col,
                      coarse.first_col, begin, end, values.data() - begin);
  return values.data() - begin;
}

// Fine row i gains wx0 * (its first coarse row's interpolation) + wx1 * (its second's).
void prolong_row(const Level& fine, const Correction& c, int i, int begin, int end,
                 CoarseRows& cache) {
  const int row = fine.block.first_row + i;
  const AxisTransfer& x = *c.x;
  const double* first = interpolated_row(fine, c, x.parent[0][row], begin, end, cache);
  const double* second = interpolated_row(fine, c, x.parent[1][row], begin, end, cache);
  add_between(fine.u[i], first, second, x.part[0][row], x.part[1][row], begin, end);
}

// The last three residual rows over a range of columns, each kept until the coarse rows that need
// it are restricted, with each row already gathered along y onto the coarse columns the thread
// restricts. Rows and columns outside the span, which have no residual, read as zero (a margin of
// zeros either side of the range, as wide as the vector loops read past it).
struct ResidualRows {
  static constexpr int MARGIN = 8;
  int begin = 0;  // the fine columns computed
  int end = 0;
  int coarse_begin = 0;  // the coarse columns gathered onto
  int coarse_end = 0;
  int row[3] = {INT_MIN, INT_MIN, INT_MIN};
  std::vector<double> values[3];
  std::vector<double> gathered[3];
  std::vector<double> zero;
  int next = 0;

  void reset(int first, int last, int coarse_first, int coarse_last) {
    begin = first;
    end = std::max(first, last);
    coarse_begin = coarse_first;
    coarse_end = std::max(coarse_first, coarse_last);
    for (int k = 0; k < 3; ++k) {
      row[k] = INT_MIN;
      values[k].assign(end - begin + 2 * MARGIN, 0.0);
      gathered[k].assign(coarse_end - coarse_begin, 0.0);
    }
    zero.assign(coarse_end - coarse_begin, 0.0);
  }
  // The slot for row r: its fine values, indexed by the block's columns.
  int slot(int r) {
    const int k = next;
    next = (next + 1) % 3;
    row[k] = r;
    return k;
  }
  double* fine(int k) { return values[k].data() + MARGIN - begin; }
  double* coarse(int k) { return gathered[k].data() - coarse_begin; }
  // Row r gathered along y, indexed by the coarse block's columns.
  const double* at(int r) const {
    for (int k = 0; k < 3; ++k) {
      if (row[k] == r) return gathered[k].data() - coarse_begin;
    }
    return zero.data() - coarse_begin;
  }
};

// The coarse columns [begin, end) (the coarse block's) that one part of the pass restricts.
struct Columns {
  int begin = INT_MAX;
  int end = INT_MIN;

  void add(int J) {
    begin = std::min(begin, J);
    end = std::max(end, J + 1);
  }
};

// The pass of one thread: its stages in its band, then the boundary it finishes.
struct Runner {
  const Level& level;
  const std::vector<Stage>& stages;
  const Correction* correction;
  const Restriction* restriction;
  CoarseRows cache;
  ResidualRows residuals;
  long long cells = 0;
  double largest = 0.0;

  int count() const { return static_cast<int>(stages.size()); }

  void stage_row(int s, int r, int begin, int end) {
    const Stage& stage = stages[s];
    if (r < stage.region.row_begin || r >= stage.region.row_end || begin >= end) return;
    if (stage.kind == StageKind::prolong) {
      prolong_row(level, *correction, r, begin, end, cache);
      cells += end - begin;
    } else {
      cells += relax_row(level, r, begin, end, stage.kind == StageKind::red ? 0 : 1);
    }
  }

  // The residual of row r over the kept columns, gathered along y onto the coarse ones; its
  // largest magnitude on the unknowns.
  void residual_row_of(int r) {
    const Region& span = restriction->span;
    if (r < span.row_begin || r >= span.row_end || residuals.begin >= residuals.end) return;
    const int k = residuals.slot(r);
    double* out = residuals.fine(k);
    residual_row(level, r, residuals.begin, residuals.end, out);
    restrict_along_y(out, *restriction->y, level.block.first_col,
                     restriction->coarse.block->first_col, residuals.coarse_begin,
                     residuals.coarse_end, residuals.coarse(k));
    const Region unknowns = level.unknowns();
    if (r < unknowns.row_begin || r >= unknowns.row_end) return;
    const int first = std::max(residuals.begin, unknowns.col_begin);
    const int last = std::min(residuals.end, unknowns.col_end);
    if (first < last) largest = std::max(largest, largest_magnitude(out, first, last));
  }

  // Coarse row I (the coarse block's own) at the coarse columns the residual rows were gathered
  // onto: ((0 + x0 R(F - 1)) + x1 R(F)) + x2 R(F + 1), R the rows gathered along y.
  void restrict_row(int I) {
    const Block& c = *restriction->coarse.block;
    const int row = c.first_row + I;
    const int F = restriction->x->anchor[row] - level.block.first_row;
    const std::array<double, 3>& gx = restriction->x->gather[row];
    const double* __restrict r0 = residuals.at(F - 1);
    const double* __restrict r1 = residuals.at(F);
    const double* __restrict r2 = residuals.at(F + 1);
    double* __restrict out = restriction->coarse.values[I];
    for (int J = residuals.coarse_begin; J < residuals.coarse_end; ++J) {
      out[J] = ((0.0 + gx[0] * r0[J]) + gx[1] * r1[J]) + gx[2] * r2[J];
    }
    cells += residuals.coarse_end - residuals.coarse_begin;
  }

  // The fine row whose residual completes coarse row I's: its anchor's next, or the span's last.
  int ready_at(int I) const {
    const Block& c = *restriction->coarse.block;
    const int F = restriction->x->anchor[c.first_row + I] - level.block.first_row;
    return std::min(F + 1, restriction->span.row_end - 1);
  }

  // The stages in the band as a wavefront from row `top`, then the residual rows and the coarse
  // rows whose columns `columns` the band restricts.
  void band(const Band& b, int top, const Region& coarse_rows, const Columns& columns) {
    const int n = count();
    std::vector<int> begin(n);
    std::vector<int> end(n);
    int bottom = top;
    for (int s = 0; s < n; ++s) {
      band_columns(stages[s].region, b, s, begin[s], end[s]);
      bottom = std::max(bottom, stages[s].region.row_end + s);
    }
    int next_coarse = coarse_rows.row_begin;
    if (restriction != nullptr) {
      int first = 0;
      int last = 0;
      band_columns(restriction->span, b, n, first, last);
      residuals.reset(first, last, columns.begin, columns.end);
      bottom = std::max(bottom, restriction->span.row_end + n);
    }
    for (int p = top; p < bottom; ++p) {
      for (int s = 0; s < n; ++s) stage_row(s, p - s, begin[s], end[s]);
      if (restriction == nullptr) continue;
      residual_row_of(p - n);
      while (next_coarse < coarse_rows.row_end && ready_at(next_coarse) <= p - n) {
        restrict_row(next_coarse++);
      }
    }
  }

  // The columns about boundary `b` that neither band could do alone, stage by stage; then the
  // residual over `strip` and the coarse columns `columns` restricted from it.
  void boundary(int b, const Region& coarse_rows, int strip_begin, int strip_end,
                const Columns& columns) {
    for (int s = 1; s < count(); ++s) {
      const Region& region = stages[s].region;
      const int begin = std::max(region.col_begin, b - s);
      const int end = std::min(region.col_end, b + s);
      for (int r = region.row_begin; r < region.row_end; ++r) stage_row(s, r, begin, end);
    }
    if (restriction == nullptr || columns.begin >= columns.end) return;
    residuals.reset(strip_begin, strip_end, columns.begin, columns.end);
    int done = INT_MIN;
    for (int I = coarse_rows.row_begin; I < coarse_rows.row_end; ++I) {
      const int F =
          restriction->x->anchor[restriction->coarse.block->first_row + I] - level.block.first_row;
      for (int r = std::max(done + 1, F - 1); r <= F + 1; ++r) residual_row_of(r);
      done = F + 1;
      restrict_row(I);
    }
  }
};

// The coarse unknowns this process owns, in its coarse block's coordinates.
Region coarse_unknowns(const Block& c) {
  return intersection(c.owned(), {1 - c.first_row, c.grid.nx - 1 - c.first_row, 1 - c.first_col,
                                  c.grid.ny - 1 - c.first_col});
}

}  // namespace

double run_pass(const Level& level, const std::vector<Stage>& stages, const Correction* correction,
                const Restriction* restriction, Team& team) {
  const int n = static_cast<int>(stages.size());
  const Region widest = n > 0 ? stages[0].region : restriction->span;
  // Bands wide enough that the columns one boundary's stages and residual need do not reach the
  // next boundary's.
  const int narrowest = 2 * (n + 4);
  const int bands = std::max(1, std::min(team.threads, widest.cols() / narrowest));
  std::vector<Band> all(bands);
  for (int t = 0; t < bands; ++t) {
    share(widest.col_begin, widest.cols(), t, bands, all[t].begin, all[t].end);
    all[t].left = t > 0;
    all[t].right = t + 1 < bands;
  }
  // Each coarse column goes to the band whose own residual columns hold its three fine columns,
  // or else to the boundary nearest its anchor.
  Region coarse_rows;
  std::vector<Columns> band_columns_of(bands);
  std::vector<Columns> boundary_columns(bands);
  std::vector<int> strip_begin(bands, INT_MAX);
  std::vector<int> strip_end(bands, INT_MIN);
  if (restriction != nullptr) {
    const Block& c = *restriction->coarse.block;
    const Region mine = coarse_unknowns(c);
    coarse_rows = mine;
    for (int J = mine.col_begin; J < mine.col_end; ++J) {
      const int G = restriction->y->anchor[c.first_col + J] - level.block.first_col;
      const Region& span = restriction->span;
      int owner = -1;
      for (int t = 0; t < bands && owner < 0; ++t) {
        int first = 0;
        int last = 0;
        band_columns(span, all[t], n, first, last);
        // A fine column outside the span has no residual: it reads as zero anywhere.
        const auto held = [&](int column) {
          return (column >= first && column < last) || column < span.col_begin ||
                 column >= span.col_end;
        };
        if (held(G - 1) && held(G) && held(G + 1)) owner = t;
      }
      if (owner >= 0) {
        band_columns_of[owner].add(J);
        continue;
      }
      // Boundary t lies between bands t and t + 1.
      int nearest = 0;
      for (int t = 1; t + 1 < bands; ++t) {
        if (std::abs(G - all[t].end) < std::abs(G - all[nearest].end)) nearest = t;
      }
      boundary_columns[nearest].add(J);
      strip_begin[nearest] = std::max(span.col_begin, std::min(strip_begin[nearest], G - 1));
      strip_end[nearest] = std::min(span.col_end, std::max(strip_end[nearest], G + 2));
    }
  }
  double largest = 0.0;
#pragma omp parallel num_threads(bands) if (bands > 1) reduction(max : largest)
  {
    const int t = thread_number();
    Runner runner{level, stages, correction, restriction, {}, {}, 0, 0.0};
    runner.band(all[t], widest.row_begin, coarse_rows, band_columns_of[t]);
#pragma omp barrier
    if (all[t].right) {
      runner.boundary(all[t].end, coarse_rows, strip_begin[t], strip_end[t], boundary_columns[t]);
    }
    team.cells[t] += runner.cells;
    largest = runner.largest;
  }
  return largest;
}
