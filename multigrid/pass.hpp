// A level's work between two visits of the coarser level, in one pass over memory: the
// correction's interpolation, the smoothing's half-sweeps, and the residual restricted to the
// coarser level, as a wavefront down the rows.
#pragma once

#include <vector>

#include "common/block.hpp"
#include "common/region.hpp"
#include "multigrid/axis.hpp"
#include "multigrid/level.hpp"
#include "solver/team.hpp"

// What a stage does to a row: add the interpolated correction, or relax the cells of one colour.
enum class StageKind { prolong, red, black };

// A stage, on the rows and columns of `region` (the block's own coordinates, ghost cells too).
// A stage's cell reads the previous stage's cell and its four neighbours, so its region must lie
// inside the previous stage's, one cell in from each side where that one has neighbours' cells.
struct Stage {
  StageKind kind;
  Region region;
};

// The coarse level's cells that this process computes: its block there (its unknowns are the
// coarse nodes anchored on the fine block's rows and columns), with a layer of it.
struct CoarsePart {
  const Block* block;
  double** values;
};

// Where the correction comes from, for a prolongation stage.
struct Correction {
  const AxisTransfer* x;
  const AxisTransfer* y;
  CoarsePart coarse;
};

// Where the residual goes after the stages: f - A u on `span` (the unknowns and, where the block
// has neighbours, one ring of theirs, which u's last stage must have covered a ring further) is
// restricted onto the coarse unknowns of `coarse`: coarse (I, J), anchored at fine (F, G), gets
// sum over a of x[I][a] * (sum over b of y[J][b] * r(F + a, G + b)), a and b from -1 to 1, in that
// order.
struct Restriction {
  const AxisTransfer* x;
  const AxisTransfer* y;
  CoarsePart coarse;
  Region span;
};

// Runs the stages, then the restriction when there is one, in one pass: at wavefront position p,
// stage s does its row p - s, for every s in order, and the residual row p - stages follows, so
// that each stage reads its rows from the stage before while they are in the cache and none reads
// a row the stage after it has changed; a coarse row is restricted as soon as its fine rows'
// residual is there. With several threads, each takes a band of columns for every stage but the
// few columns near the band's edges that need the next band; once all are done, each finishes the
// columns about one boundary, stage by stage, and the coarse columns restricted from them. Every
// cell is computed once from the same values (a few residuals twice, alike), so the bits do not
// depend on the threads. Adds the cells computed, by thread, to the team's count, and returns the
// largest magnitude of the residual over the block's unknowns (0 without a restriction).
double run_pass(const Level& level, const std::vector<Stage>& stages, const Correction* correction,
                const Restriction* restriction, Team& team);
