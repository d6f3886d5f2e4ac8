// The update of part of one row: the kernel every solver path shares, strips and blocks alike.
#pragma once

#include "solver/scheme.hpp"
#include "solver/span.hpp"
#include "solver/stream_span.hpp"
#include "solver/update_cell.hpp"

// The loop of cached_span: pointers as __restrict parameters (which the compiler honours more
// reliably than restrict locals), so that it vectorises without run-time alias checks.
inline void cached_cells(double* __restrict out, const double* __restrict up,
                         const double* __restrict centre, const double* __restrict down, int first,
                         int last, double rx, double ry) {
  for (int j = first; j < last; ++j) {
    out[j] = update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
}

// Cells [begin, end) of a row that is not held. `left_side` says that cell `begin` is the grid's
// first column and `right_side` that cell end - 1 is its last: such an insulated cell copies its
// inner neighbour from the current layer, so the side boundary lags one step behind. Every other
// cell is updated from its four neighbours, which may be ghost cells beyond a block's edge.
// A branch-free inner loop the compiler vectorises.
inline void cached_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  cached_cells(row.out, row.up, row.centre, row.down, span.begin + span.left_side,
               span.end - span.right_side, scheme.rx, scheme.ry);
  if (span.left_side) row.out[span.begin] = row.centre[span.begin + 1];
  if (span.right_side) row.out[span.end - 1] = row.centre[span.end - 2];
}

// The same cells, written past the caches when Stream and where that is possible.
template <bool Stream>
inline void update_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  if (!Stream || !stream_span(row, span, scheme)) cached_span(row, span, scheme);
}
