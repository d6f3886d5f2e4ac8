// How many steps a pass takes and how wide its tiles are, from the size of the core's cache.
#pragma once

#include "solver/process_grid.hpp"

struct PassPlan {
  int fuse = 1;  // steps per pass
  int tile = 0;  // columns of a tile at a pass's first step
};

// Tiles for passes of `fuse` steps, as wide as lets the rows a tile's wavefront keeps in use (a few
// more than `fuse` of each layer, over the tile and its skew) fill about half of the core's L2 of
// `l2_bytes`, but narrower where that leaves fewer tiles than `threads` (each thread's share of
// the tiles being whole and equal). With `fuse` 0 the pass length is chosen too: one step where the
// block's two layers already fit in that half (a pass gains nothing in the cache), else AUTO_FUSE
// steps, but no deeper than an eighth of the block on a side that faces a neighbour (ghost zones
// that deep would add more than a quarter of the block's cells again in redundant updates). Pure.
PassPlan plan_passes(const Block& block, const ProcessGrid& grid, int fuse, int threads,
                     double l2_bytes);

// The pass length --fuse auto aims for on blocks too large for the cache.
constexpr int AUTO_FUSE = 32;
