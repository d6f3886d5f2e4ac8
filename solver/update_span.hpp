// The update of part of one row: the kernel every solver path shares, strips and blocks alike.
#pragma once

#include "solver/scheme.hpp"
#include "solver/span.hpp"
#include "solver/stream_span.hpp"
#include "solver/update_cell.hpp"

// Cells [begin, end) of a row that is not held. `left_side` says that cell `begin` is the grid's
// first column and `right_side` that cell end - 1 is its last: such an insulated cell copies its
// inner neighbour from the current layer, so the side boundary lags one step behind. Every other
// cell is updated from its four neighbours, which may be ghost cells beyond a block's edge.
// A branch-free inner loop the compiler vectorises.
inline void cached_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  double* __restrict out = row.out;
  const double* __restrict up = row.up;
  const double* __restrict centre = row.centre;
  const double* __restrict down = row.down;
  const double rx = scheme.rx;
  const double ry = scheme.ry;
  const int first = span.begin + span.left_side;
  const int last = span.end - span.right_side;
  for (int j = first; j < last; ++j) {
    out[j] = update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
  if (span.left_side) out[span.begin] = centre[span.begin + 1];
  if (span.right_side) out[span.end - 1] = centre[span.end - 2];
}

// The same cells, written past the caches when Stream and where that is possible.
template <bool Stream>
inline void update_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  if (!Stream || !stream_span(row, span, scheme)) cached_span(row, span, scheme);
}
