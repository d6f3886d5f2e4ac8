// The residual of a level passed down to the next coarser one.
#pragma once

#include "common/block.hpp"
#include "multigrid/axis.hpp"
#include "multigrid/level.hpp"
#include "solver/team.hpp"

// The coarse level's cells that this process computes: its block there (its unknowns are the
// coarse nodes anchored on the fine block's rows and columns), with a layer of it.
struct CoarsePart {
  const Block* block;
  double** values;
};

// Restricts the fine level's residual onto the unknowns of `coarse`: coarse (I, J), anchored at
// fine (F, G), gets sum over a of x[I][a] * (sum over b of y[J][b] * r(F + a, G + b)), a and b
// from -1 to 1, in that order. With `zero_guess`, u is 0 and the residual is f (on the coarser
// levels, which start each cycle from nothing); else the residual rows are computed as needed,
// the rows and columns of the fine block's ring too (u's ghost cells two deep and f's one deep
// must be filled). The coarse rows are shared among the team's threads. Returns the largest
// magnitude of the fine residual over the fine block's unknowns.
double restrict_residual(const Level& fine, const AxisTransfer& x, const AxisTransfer& y,
                         const CoarsePart& coarse, bool zero_guess, Team& team);
