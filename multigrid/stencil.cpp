// The five-point operator of a level on one row of its block: relaxation, the residual, and the
// explicit half of a step.
#include "multigrid/stencil.hpp"

#include <algorithm>
#include <cmath>

#include "solver/span_kernel.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HEAT2D_X86 1
#endif

namespace {

// The coefficients of block row i, of its columns from the block's column 0, and of the columns
// [uniform_begin, uniform_end) of the block where every y coefficient (and so the inverse
// diagonal) is the same, which the vector loops take as constants.
struct RowView {
  double x_lower;
  double x_upper;
  double x_sum;
  const double* y_lower;
  const double* y_upper;
  const double* y_sum;
  const double* inverse_diagonal;
  int uniform_begin;
  int uniform_end;
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
          a.inverse_diagonal[a.row_kind[row]].data() + col,
          a.y_uniform[0] - col,
          a.y_uniform[1] - col};
}

inline double neighbours(const RowView& c, const double* up, const double* centre,
                         const double* down, int j) {
  return ((c.x_lower * up[j] + c.x_upper * down[j]) + c.y_lower[j] * centre[j - 1]) +
         c.y_upper[j] * centre[j + 1];
}

inline double diagonal(const RowView& c, int j) {
  return (1.0 + c.x_sum) + c.y_sum[j];
}

inline double relaxed(const RowView& c, const double* up, const double* centre, const double* down,
                      const double* f, int j) {
  const double gauss_seidel = (f[j] + neighbours(c, up, centre, down, j)) * c.inverse_diagonal[j];
  return centre[j] + OVER_RELAXATION * (gauss_seidel - centre[j]);
}

inline double residual(const RowView& c, const double* up, const double* centre, const double* down,
                       const double* f, int j) {
  return f[j] - (diagonal(c, j) * centre[j] - neighbours(c, up, centre, down, j));
}

inline double explicit_part(const RowView& c, const double* up, const double* centre,
                            const double* down, int j) {
  return centre[j] + (neighbours(c, up, centre, down, j) - (c.x_sum + c.y_sum[j]) * centre[j]);
}

// The part of [begin, end) that the vector loops take: the uniform columns, from a whole piece of
// eight cells on (so that the pieces of a row start where the row's cache lines do).
void middle(const RowView& c, int begin, int end, int& first, int& last) {
  first = (std::max(begin, c.uniform_begin) + 7) / 8 * 8;
  last = std::min(end, c.uniform_end);
  last = first + std::max(0, last - first) / 8 * 8;
  if (last <= first) first = last = end;
}

#if HEAT2D_X86

// GCC 12 takes the undefined vectors that some AVX-512 intrinsics start from for uninitialised
// ones.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// The rows a vector loop reads, and the constants of the uniform columns, eight lanes each.
struct Lanes {
  __m512d x_lower, x_upper, y_lower, y_upper, sum, diagonal, inverse, omega;
};

__attribute__((target("avx512f"))) Lanes lanes(const RowView& c, int j) {
  return {_mm512_set1_pd(c.x_lower),
          _mm512_set1_pd(c.x_upper),
          _mm512_set1_pd(c.y_lower[j]),
          _mm512_set1_pd(c.y_upper[j]),
          _mm512_set1_pd(c.x_sum + c.y_sum[j]),
          _mm512_set1_pd(diagonal(c, j)),
          _mm512_set1_pd(c.inverse_diagonal[j]),
          _mm512_set1_pd(OVER_RELAXATION)};
}

__attribute__((target("avx512f"))) inline __m512d neighbours8(const Lanes& k, const double* up,
                                                              const double* centre,
                                                              const double* down, int j) {
  const __m512d vertical = _mm512_add_pd(_mm512_mul_pd(k.x_lower, _mm512_loadu_pd(up + j)),
                                         _mm512_mul_pd(k.x_upper, _mm512_loadu_pd(down + j)));
  return _mm512_add_pd(
      _mm512_add_pd(vertical, _mm512_mul_pd(k.y_lower, _mm512_loadu_pd(centre + j - 1))),
      _mm512_mul_pd(k.y_upper, _mm512_loadu_pd(centre + j + 1)));
}

// The row moved by one cell either way: lanes 1..7 of `c` and lane 0 of `next`, or lane 7 of
// `previous` and lanes 0..6 of `c`.
__attribute__((target("avx512f"))) inline __m512d right_of(__m512d c, __m512d next) {
  return _mm512_castsi512_pd(
      _mm512_alignr_epi64(_mm512_castpd_si512(next), _mm512_castpd_si512(c), 1));
}
__attribute__((target("avx512f"))) inline __m512d left_of(__m512d previous, __m512d c) {
  return _mm512_castsi512_pd(
      _mm512_alignr_epi64(_mm512_castpd_si512(c), _mm512_castpd_si512(previous), 7));
}

// The cells of one colour in [first, last), a multiple of eight long: every lane is computed,
// the other colour's lanes are not stored. The neighbours in the row are shifted out of the
// pieces loaded before anything is stored (a load that overlapped a store just made would wait
// for it); they are all of the other colour, which this loop does not change.
__attribute__((target("avx512f"))) void relax8(const RowView& c, double* row, const double* up,
                                               const double* down, const double* f, int first,
                                               int last, __mmask8 colour) {
  const Lanes k = lanes(c, first);
  __m512d previous = _mm512_loadu_pd(row + first - 8);
  __m512d centre = _mm512_loadu_pd(row + first);
  for (int j = first; j < last; j += 8) {
    const __m512d next = _mm512_loadu_pd(row + j + 8);
    const __m512d vertical = _mm512_add_pd(_mm512_mul_pd(k.x_lower, _mm512_loadu_pd(up + j)),
                                           _mm512_mul_pd(k.x_upper, _mm512_loadu_pd(down + j)));
    const __m512d around =
        _mm512_add_pd(_mm512_add_pd(vertical, _mm512_mul_pd(k.y_lower, left_of(previous, centre))),
                      _mm512_mul_pd(k.y_upper, right_of(centre, next)));
    const __m512d gauss_seidel =
        _mm512_mul_pd(_mm512_add_pd(_mm512_loadu_pd(f + j), around), k.inverse);
    const __m512d moved =
        _mm512_add_pd(centre, _mm512_mul_pd(k.omega, _mm512_sub_pd(gauss_seidel, centre)));
    _mm512_mask_storeu_pd(row + j, colour, moved);
    previous = centre;
    centre = next;
  }
}

__attribute__((target("avx512f"))) void residual8(const RowView& c, double* const* u,
                                                  const double* f, int first, int last,
                                                  double* out) {
  const Lanes k = lanes(c, first);
  const double* up = u[-1];
  const double* centre = u[0];
  const double* down = u[1];
  for (int j = first; j < last; j += 8) {
    const __m512d product = _mm512_mul_pd(k.diagonal, _mm512_loadu_pd(centre + j));
    const __m512d applied = _mm512_sub_pd(product, neighbours8(k, up, centre, down, j));
    _mm512_storeu_pd(out + j, _mm512_sub_pd(_mm512_loadu_pd(f + j), applied));
  }
}

__attribute__((target("avx512f"))) void explicit_part8(const RowView& c, double* const* u,
                                                       int first, int last, double* out) {
  const Lanes k = lanes(c, first);
  const double* up = u[-1];
  const double* centre = u[0];
  const double* down = u[1];
  for (int j = first; j < last; j += 8) {
    const __m512d here = _mm512_loadu_pd(centre + j);
    const __m512d change =
        _mm512_sub_pd(neighbours8(k, up, centre, down, j), _mm512_mul_pd(k.sum, here));
    _mm512_storeu_pd(out + j, _mm512_add_pd(here, change));
  }
}

__attribute__((target("avx512f"))) double largest_magnitude8(const double* x, int begin, int end) {
  // Four running maxima, so that no comparison waits for the one before.
  __m512d most[4] = {_mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd(),
                     _mm512_setzero_pd()};
  int j = begin;
  for (; j + 32 <= end; j += 32) {
    for (int k = 0; k < 4; ++k)
      most[k] = _mm512_max_pd(most[k], _mm512_abs_pd(_mm512_loadu_pd(x + j + 8 * k)));
  }
  double largest = _mm512_reduce_max_pd(
      _mm512_max_pd(_mm512_max_pd(most[0], most[1]), _mm512_max_pd(most[2], most[3])));
  for (; j < end; ++j) largest = std::max(largest, std::fabs(x[j]));
  return largest;
}

__attribute__((target("avx512f"))) void add_between8(double* __restrict u, const double* a,
                                                     const double* b, double w0, double w1,
                                                     int begin, int end) {
  for (int j = begin; j < end; ++j) u[j] += w0 * a[j] + w1 * b[j];
}

// Lanes 0, 2, .., 14 of (a, b), or lanes 1, 3, .., 15: every other value of sixteen.
__attribute__((target("avx512f"))) inline __m512d every_other(__m512d a, __m512d b, int odd) {
  const __m512i index = odd ? _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1)
                            : _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
  return _mm512_permutex2var_pd(a, index, b);
}

// Eight coarse columns at a time from J, whose anchors are 2 apart from G: the three values about
// each anchor taken out of the residual row by every other value.
__attribute__((target("avx512f"))) void restrict_along_y8(const double* r, int G, int count,
                                                          const std::array<double, 3>& g,
                                                          double* out) {
  const __m512d g0 = _mm512_set1_pd(g[0]);
  const __m512d g1 = _mm512_set1_pd(g[1]);
  const __m512d g2 = _mm512_set1_pd(g[2]);
  for (int k = 0; k + 8 <= count; k += 8, G += 16) {
    const __m512d low = _mm512_loadu_pd(r + G - 1);
    const __m512d high = _mm512_loadu_pd(r + G + 7);
    const __m512d before = every_other(low, high, 0);
    const __m512d at = every_other(low, high, 1);
    const __m512d after = every_other(_mm512_loadu_pd(r + G + 1), _mm512_loadu_pd(r + G + 9), 0);
    const __m512d sum = _mm512_add_pd(
        _mm512_add_pd(_mm512_mul_pd(g0, before), _mm512_mul_pd(g1, at)), _mm512_mul_pd(g2, after));
    _mm512_storeu_pd(out + k, sum);
  }
}

// Eight fine columns at a time from an anchor, four coarse values apart: on an anchor the coarse
// value whole, between two anchors half of each.
__attribute__((target("avx512f"))) void interpolate_along_y8(const double* E, int count,
                                                             double* out) {
  const __m512i first = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
  const __m512i second = _mm512_set_epi64(4, 3, 3, 2, 2, 1, 1, 0);
  const __m512d w0 = _mm512_set_pd(0.5, 1.0, 0.5, 1.0, 0.5, 1.0, 0.5, 1.0);
  const __m512d w1 = _mm512_set_pd(0.5, 0.0, 0.5, 0.0, 0.5, 0.0, 0.5, 0.0);
  for (int k = 0; k + 8 <= count; k += 8, E += 4) {
    const __m512d coarse = _mm512_loadu_pd(E);
    const __m512d sum = _mm512_add_pd(_mm512_mul_pd(w0, _mm512_permutexvar_pd(first, coarse)),
                                      _mm512_mul_pd(w1, _mm512_permutexvar_pd(second, coarse)));
    _mm512_storeu_pd(out + k, sum);
  }
}

#endif

// Whether the vector loops run here (a processor with AVX-512, and not a test that asks for the
// cell-by-cell loops alone).
bool vectors(bool wide) {
  static const bool avx512 = this_cpu().avx512;
  return wide && avx512;
}

}  // namespace

int relax_row(const Level& level, int i, int begin, int end, int colour, bool wide) {
  const RowView c = row_view(level, i);
  double* row = level.u[i];
  const double* up = level.u[i - 1];
  const double* down = level.u[i + 1];
  const double* f = level.f[i];
  // Cell j has this colour where (grid row + grid column + colour) is even.
  const int offset = (level.block.first_row + i + level.block.first_col + colour) & 1;
  int first = end;
  int last = end;
  if (vectors(wide)) middle(c, begin, end, first, last);
  const auto scalar = [&](int from, int to) {
    for (int j = from + ((from + offset) & 1); j < to; j += 2) {
      row[j] = relaxed(c, up, row, down, f, j);
    }
  };
  scalar(begin, first);
#if HEAT2D_X86
  if (first < last) {
    // Lane l of a piece starting at j (a multiple of eight) is column j + l.
    const __mmask8 mask = (offset & 1) == 0 ? 0x55 : 0xAA;
    relax8(c, row, up, down, f, first, last, mask);
  }
#endif
  scalar(last, end);
  const int parity_of_begin = (begin + offset) & 1;
  return (end - begin + 1 - parity_of_begin) / 2;
}

void residual_row(const Level& level, int i, int begin, int end, double* out, bool wide) {
  const RowView c = row_view(level, i);
  double** u = level.u;
  const double* f = level.f[i];
  int first = end;
  int last = end;
  if (vectors(wide)) middle(c, begin, end, first, last);
  for (int j = begin; j < first; ++j) out[j] = residual(c, u[i - 1], u[i], u[i + 1], f, j);
#if HEAT2D_X86
  if (first < last) residual8(c, u + i, f, first, last, out);
#endif
  for (int j = last; j < end; ++j) out[j] = residual(c, u[i - 1], u[i], u[i + 1], f, j);
}

double right_hand_side_row_norm(const Level& level, int i, int begin, int end) {
  const int row = level.block.first_row + i;
  const bool above = row - 1 == 0;
  const bool below = row + 1 == level.block.grid.nx - 1;
  double largest = largest_magnitude(level.f[i], begin, end);
  if (above) largest = std::max(largest, largest_magnitude(level.u[i - 1], begin, end));
  if (below) largest = std::max(largest, largest_magnitude(level.u[i + 1], begin, end));
  return largest;
}

void explicit_part_row(const Level& level, double** u, int i, int begin, int end, double* out,
                       bool wide) {
  const RowView c = row_view(level, i);
  int first = end;
  int last = end;
  if (vectors(wide)) middle(c, begin, end, first, last);
  for (int j = begin; j < first; ++j) out[j] = explicit_part(c, u[i - 1], u[i], u[i + 1], j);
#if HEAT2D_X86
  if (first < last) explicit_part8(c, u + i, first, last, out);
#endif
  for (int j = last; j < end; ++j) out[j] = explicit_part(c, u[i - 1], u[i], u[i + 1], j);
}

double largest_magnitude(const double* x, int begin, int end) {
#if HEAT2D_X86
  if (vectors(true)) return largest_magnitude8(x, begin, end);
#endif
  double largest = 0.0;
  for (int j = begin; j < end; ++j) largest = std::max(largest, std::fabs(x[j]));
  return largest;
}

void add_between(double* __restrict u, const double* a, const double* b, double w0, double w1,
                 int begin, int end) {
#if HEAT2D_X86
  if (vectors(true)) {
    add_between8(u, a, b, w0, w1, begin, end);
    return;
  }
#endif
  for (int j = begin; j < end; ++j) u[j] += w0 * a[j] + w1 * b[j];
}

void restrict_along_y(const double* r, const AxisTransfer& y, int fine_col, int coarse_col,
                      int first, int last, double* out) {
  int J = first;
  const auto scalar = [&](int to) {
    for (; J < to; ++J) {
      const int G = y.anchor[coarse_col + J] - fine_col;
      const std::array<double, 3>& g = y.gather[coarse_col + J];
      out[J] = (g[0] * r[G - 1] + g[1] * r[G]) + g[2] * r[G + 1];
    }
  };
#if HEAT2D_X86
  const int begin = std::max(first, y.regular[0] - coarse_col);
  const int end = std::min(last, y.regular[1] - coarse_col);
  if (vectors(true) && end - begin >= 8) {
    scalar(begin);
    const int count = (end - begin) / 8 * 8;
    restrict_along_y8(r, y.anchor[coarse_col + J] - fine_col, count, y.gather[coarse_col + J],
                      out + J);
    J += count;
  }
#endif
  scalar(last);
}

void interpolate_along_y(const double* E, const AxisTransfer& y, int fine_col, int coarse_col,
                         int begin, int end, double* out) {
  int j = begin;
  const auto scalar = [&](int to) {
    for (; j < to; ++j) {
      const int col = fine_col + j;
      out[j] = y.part[0][col] * E[y.parent[0][col] - coarse_col] +
               y.part[1][col] * E[y.parent[1][col] - coarse_col];
    }
  };
#if HEAT2D_X86
  if (vectors(true) && y.regular[1] - y.regular[0] >= 8) {
    // From the first regular anchor at or after j to the fine column after the last one.
    int c = std::max(y.regular[0], y.parent[0][fine_col + j] + 1);
    const int stop = std::min(end, y.anchor[y.regular[1] - 1] + 2 - fine_col);
    if (c < y.regular[1] && y.anchor[c] - fine_col < stop) {
      scalar(y.anchor[c] - fine_col);
      const int count = (stop - j) / 8 * 8;
      if (count > 0) interpolate_along_y8(E + c - coarse_col, count, out + j);
      j += std::max(0, count);
    }
  }
#endif
  scalar(end);
}
