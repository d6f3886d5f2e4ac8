// One time step of a rectangle of a block.
#pragma once

#include "solver/process_grid.hpp"
#include "solver/region.hpp"
#include "solver/scheme.hpp"

// Writes every cell of `region` (the block's own coordinates, ghost cells allowed) in T1 from T0,
// row by row as update_block_row does; `stream` writes past the caches where it can. Every path
// gives the same bits.
void update_region(double** T0, double** T1, const Block& block, const Region& region,
                   const Scheme& scheme, bool stream);
