// The update of part of one row of a block, its boundaries decided in the grid's coordinates.
#pragma once

#include <algorithm>

#include "common/block.hpp"
#include "solver/span_kernel.hpp"

// Columns [begin, end) of the block's row i (a ghost row too) in T1 from T0: a held row of the grid
// copies itself, the grid's insulated side columns copy their inner neighbour, and every other
// cell is updated from its four neighbours, ghost cells included. Deciding by grid coordinates
// gives a ghost cell that a block computes for its neighbour the neighbour's own bits.
inline void update_block_row(double** T0, double** T1, const Block& block, int i, int begin,
                             int end, const Scheme& scheme, const SpanKernel& kernel) {
  if (block.held(i)) {
    std::copy(T0[i] + begin, T0[i] + end, T1[i] + begin);
    return;
  }
  kernel.span({T1[i], T0[i - 1], T0[i], T0[i + 1]},
              {begin, end, block.first_column(begin), block.last_column(end - 1)}, scheme);
}
