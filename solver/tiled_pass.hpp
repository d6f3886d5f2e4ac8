// Several steps of a block in one pass over memory: tiles of columns, each advanced through every
// step of the pass while its rows are in the cache.
#pragma once

#include "common/block.hpp"
#include "common/region.hpp"
#include "solver/pass_plan.hpp"
#include "solver/scheme.hpp"
#include "solver/span_kernel.hpp"
#include "solver/team.hpp"

// The cells a pass of `steps` steps computes at its step `level` (1 to steps): the block and,
// beyond each side that faces a neighbour, the steps - level ghost rows or columns that the ghost
// zone `steps` deep received before the pass still determines.
inline Region level_region(const Block& block, int steps, int level) {
  return block.with_ghosts(steps - level);
}

// Advances the block `steps` steps (at most the plan's pass length) over the plan's tiles, with
// `kernel` (which must not stream: the rows are meant to stay in the cache). layer[0] holds the
// field, with ghost zones `steps` deep where the block faces a neighbour; afterwards
// layer[steps % 2] holds the field that many steps on, and the other layer the step before.
//
// Each tile is a band of columns whose edges move SKEW columns left at every step, and it is swept
// from top to bottom as a wavefront: at each position, step 1 of one row, step 2 of the row above,
// and so on, so that a row's new values are used by the next step while they are in the cache.
// Two layers suffice: a step overwrites the values of two steps before only once the cells that
// read them (the same tile one position back, and the tile to its left, finished earlier) are
// done, and the tile to its right, which still needs those values, reads only columns to the right
// of what is overwritten. Every cell is computed from the same operands in the same order as in a
// step-by-step sweep, so the bits are the same. The team's threads take the tiles in turn (thread
// n the tiles n, n + threads, ...); each tile trails the one before it by a few wavefront
// positions. Adds the cells each thread computed to the team's count.
void tiled_pass(double** const (&layer)[2], const Block& block, const Scheme& scheme,
                const PassPlan& plan, int steps, const SpanKernel& kernel, Team& team);
