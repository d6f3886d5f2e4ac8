// How far a block is from the exact solution.
#pragma once

#include "common/block.hpp"

// The largest |T[i][j] - T(x, t)| over the block's own cells, with x the row's place on the grid
// (spacing 1/nx), the exact solution T on 0 <= x <= L where L is the last row's place, and t the
// time reached. The exact solution depends on x alone, so it is evaluated once per row.
double largest_difference(double** T, const Block& block, double t);
