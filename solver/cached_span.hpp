// The update of a span of a row as a plain loop, which the compiler vectorises for whatever target
// the function it is inlined into is compiled for.
#pragma once

#include "solver/scheme.hpp"
#include "solver/span.hpp"
#include "solver/update_cell.hpp"

// Pointers as __restrict parameters (which the compiler honours more reliably than restrict
// locals), so that the loop vectorises without run-time alias checks.
__attribute__((always_inline)) inline void cached_cells(double* __restrict out,
                                                        const double* __restrict up,
                                                        const double* __restrict centre,
                                                        const double* __restrict down, int first,
                                                        int last, double rx, double ry) {
  for (int j = first; j < last; ++j) {
    out[j] = update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
}

// Cells [begin, end) of a row that is not held: an insulated side cell copies its inner neighbour
// from the current layer (so the side boundary lags one step behind), every other cell is updated
// from its four neighbours, which may be ghost cells beyond a block's edge.
__attribute__((always_inline)) inline void cached_span(const RowSet& row, const Span& span,
                                                       const Scheme& scheme) {
  cached_cells(row.out, row.up, row.centre, row.down, span.begin + span.left_side,
               span.end - span.right_side, scheme.rx, scheme.ry);
  if (span.left_side) row.out[span.begin] = row.centre[span.begin + 1];
  if (span.right_side) row.out[span.end - 1] = row.centre[span.end - 2];
}
