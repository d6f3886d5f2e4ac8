// One time step of a rectangle of a block.
#pragma once

#include "common/block.hpp"
#include "common/region.hpp"
#include "solver/scheme.hpp"
#include "solver/span_kernel.hpp"

// Writes every cell of `region` (the block's own coordinates, ghost cells allowed) in T1 from T0,
// row by row as update_block_row does, with `kernel`. A streaming kernel's stores are ordered
// before the function returns.
void update_region(double** T0, double** T1, const Block& block, const Region& region,
                   const Scheme& scheme, const SpanKernel& kernel);
