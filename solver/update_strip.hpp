// The update of every row of a strip, a block as wide as the grid.
#pragma once

#include <algorithm>

#include "solver/update_span.hpp"

// A strip spans the grid's width, so both ends of every row are insulated side cells.
template <bool Stream>
inline void update_row(double* out, const double* up, const double* centre, const double* down,
                       int sizeY, double rx, double ry) {
  update_span<Stream>(out, up, centre, down, 0, sizeY, sizeY, true, true, rx, ry);
}

// Every row of the strip. The case analysis happens once per row, not per cell: the first row of
// the grid (first process) and its last row (last process) are held by copying their ghost row,
// which holds their own values. Inlined into its callers, so that it is compiled for AVX2 with
// them.
template <bool Stream>
__attribute__((always_inline)) inline void update_strip(double** T0, double** T1, int sizeX,
                                                        int sizeY, const double* ghost_top,
                                                        const double* ghost_bottom, double rx,
                                                        double ry, bool first, bool last) {
  const int end = sizeX - 1;
  if (first) {
    std::copy(ghost_top, ghost_top + sizeY, T1[0]);
  } else {
    update_row<Stream>(T1[0], ghost_top, T0[0], T0[1], sizeY, rx, ry);
  }
  for (int i = 1; i < end; ++i) {
    update_row<Stream>(T1[i], T0[i - 1], T0[i], T0[i + 1], sizeY, rx, ry);
  }
  if (last) {
    std::copy(ghost_bottom, ghost_bottom + sizeY, T1[end]);
  } else {
    update_row<Stream>(T1[end], T0[end - 1], T0[end], ghost_bottom, sizeY, rx, ry);
  }
}
