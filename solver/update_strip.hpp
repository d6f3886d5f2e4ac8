// The update of every row of a strip, a block as wide as the grid.
#pragma once

#include <algorithm>

#include "solver/scheme.hpp"
#include "solver/span.hpp"

// What lies above and below a strip: the rows beyond its edges, and whether its own first and
// last rows are the grid's held ones (those ghost rows then hold the strip's own edge rows).
struct StripEdges {
  const double* ghost_top;
  const double* ghost_bottom;
  bool top_held;
  bool bottom_held;
};

using SpanFunction = void (*)(const RowSet& row, const Span& span, const Scheme& scheme);

// Every row of the strip through `update_span`, inlined (so that each kernel's strip is compiled
// for the kernel's own target). A strip spans the grid's width, so both ends of every row are
// insulated side cells. The case analysis happens once per row, not per cell: the grid's held rows
// copy their ghost row, which holds their own values.
template <SpanFunction update_span>
__attribute__((always_inline)) inline void update_strip(double** T0, double** T1, int sizeX,
                                                        int sizeY, const StripEdges& edges,
                                                        const Scheme& scheme) {
  const Span whole = {0, sizeY, true, true};
  const int end = sizeX - 1;
  if (edges.top_held) {
    std::copy(edges.ghost_top, edges.ghost_top + sizeY, T1[0]);
  } else {
    update_span({T1[0], edges.ghost_top, T0[0], T0[1]}, whole, scheme);
  }
  for (int i = 1; i < end; ++i) update_span({T1[i], T0[i - 1], T0[i], T0[i + 1]}, whole, scheme);
  if (edges.bottom_held) {
    std::copy(edges.ghost_bottom, edges.ghost_bottom + sizeY, T1[end]);
  } else {
    update_span({T1[end], T0[end - 1], T0[end], edges.ghost_bottom}, whole, scheme);
  }
}
