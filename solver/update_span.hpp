// The update of part of one row: the kernel every solver path shares, strips and blocks alike.
#pragma once

#include "solver/stream_span.hpp"
#include "solver/update_cell.hpp"

// Cells [begin, end) of a row that is not held, `width` cells wide. A row that reaches the grid's
// left side (left_side) has an insulated cell 0, and one that reaches its right side an insulated
// cell width - 1: each copies its inner neighbour from the current layer, so the side boundary lags
// one step behind. Every other cell is updated from its four neighbours; where the row is part of a
// block, those beyond its ends come from ghost cells at centre[-1] and centre[width]. A branch-free
// inner loop the compiler vectorises.
inline void cached_span(double* __restrict out, const double* __restrict up,
                        const double* __restrict centre, const double* __restrict down, int begin,
                        int end, int width, bool left_side, bool right_side, double rx, double ry) {
  if (begin >= end) return;
  const int first = begin == 0 && left_side ? 1 : begin;
  const int last = end == width && right_side ? width - 1 : end;
  for (int j = first; j < last; ++j) {
    out[j] = update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
  if (first != begin) out[0] = centre[1];
  if (last != end) out[width - 1] = centre[width - 2];
}

// The same cells, written past the caches when Stream and where that is possible.
template <bool Stream>
inline void update_span(double* out, const double* up, const double* centre, const double* down,
                        int begin, int end, int width, bool left_side, bool right_side, double rx,
                        double ry) {
  if (!Stream ||
      !stream_span(out, up, centre, down, begin, end, width, left_side, right_side, rx, ry)) {
    cached_span(out, up, centre, down, begin, end, width, left_side, right_side, rx, ry);
  }
}
