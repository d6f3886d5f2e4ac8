// How a block is advanced through several steps at once: how many steps a pass takes, and the
// tiles of columns that the pass sweeps and the threads share.
#pragma once

#include <vector>

#include "common/block.hpp"
#include "solver/process_grid.hpp"

// Columns a tile's edges move left at every step of a pass: a cache line, so that spans start on
// one.
constexpr int SKEW = 8;

// The pass length --fuse auto aims for on blocks too large for the cache.
constexpr int AUTO_PASS_LENGTH = 32;

struct PassPlan {
  int pass_length = 1;  // steps per pass
  int tile_width = 0;   // columns of a tile at the middle step of a full pass; 0 for single steps
  int threads = 1;      // that share the tiles, each taking every threads-th tile in turn
  // Where each tile begins at the first step of a full pass, in the block's columns: tile t spans
  // [tile_starts[t], tile_starts[t + 1]), the first reaching left to the edge of what the step
  // computes and the last right to its other edge. A shorter pass (before a step whose field is
  // written) keeps the same tiles.
  std::vector<int> tile_starts;
};

// The pass length --fuse auto gives a block: one step where its two layers already fit in half of
// an L2 cache of `l2_bytes` (a pass gains nothing in the cache), else AUTO_PASS_LENGTH steps, but
// no deeper than an eighth of the block on a side that faces a neighbour (ghost zones that deep
// would add more than a quarter of the block's cells again in redundant updates). Pure.
int automatic_pass_length(const Block& block, const ProcessGrid& processes, double l2_bytes);

// The tiles of passes of `pass_length` steps over `block` for `threads` threads: `tile_width`
// columns wide where it is given (not 0), else as wide as lets the rows a tile's wavefront keeps
// in use (a few more than the pass length of each layer) fill about half of an L2 cache of
// `l2_bytes`; and as many as make every thread's share whole and equal, and every tile at least
// two cache lines wide where the block allows. Pure.
PassPlan plan_passes(const Block& block, int pass_length, int tile_width, int threads,
                     double l2_bytes);

// The columns [begin, end) of tile t at step `level` (from 1) of a pass whose step computes
// `region`: the tile's edges SKEW columns further left at every step, the first tile reaching the
// region's first column and the last its last, whatever the skew. Empty (begin >= end) where the
// tile has no columns at that step. Pure.
void tile_columns(const PassPlan& plan, const Region& region, int level, int t, int& begin,
                  int& end);
