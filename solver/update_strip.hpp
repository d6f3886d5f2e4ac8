// The update of every row of a strip, a block as wide as the grid.
#pragma once

#include <algorithm>

#include "solver/update_span.hpp"

// What lies above and below a strip: the rows beyond its edges, and whether its own first and
// last rows are the grid's held ones (those ghost rows then hold the strip's own edge rows).
struct StripEdges {
  const double* ghost_top;
  const double* ghost_bottom;
  bool top_held;
  bool bottom_held;
};

// A strip spans the grid's width, so both ends of every row are insulated side cells.
template <bool Stream>
inline void update_row(double* out, const double* up, const double* centre, const double* down,
                       int sizeY, const Scheme& scheme) {
  update_span<Stream>({out, up, centre, down}, {0, sizeY, true, true}, scheme);
}

// Every row of the strip. The case analysis happens once per row, not per cell: the grid's held
// rows copy their ghost row, which holds their own values. Inlined into its callers, so that it is
// compiled for AVX2 with them.
template <bool Stream>
__attribute__((always_inline)) inline void update_strip(double** T0, double** T1, int sizeX,
                                                        int sizeY, const StripEdges& edges,
                                                        const Scheme& scheme) {
  const int end = sizeX - 1;
  if (edges.top_held) {
    std::copy(edges.ghost_top, edges.ghost_top + sizeY, T1[0]);
  } else {
    update_row<Stream>(T1[0], edges.ghost_top, T0[0], T0[1], sizeY, scheme);
  }
  for (int i = 1; i < end; ++i) {
    update_row<Stream>(T1[i], T0[i - 1], T0[i], T0[i + 1], sizeY, scheme);
  }
  if (edges.bottom_held) {
    std::copy(edges.ghost_bottom, edges.ghost_bottom + sizeY, T1[end]);
  } else {
    update_row<Stream>(T1[end], T0[end - 1], T0[end], edges.ghost_bottom, sizeY, scheme);
  }
}
