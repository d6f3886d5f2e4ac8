// The initial-field snapshot of a grid of any size, without holding the grid.
#pragma once

#include "problem/problem.hpp"

// Appends to rank-100_0.000000 exactly the text that the whole starting field (the first row hot,
// the others cold) gives as a snapshot. Returns 0, or the errno value that kept it from being
// written in full.
int write_initial_field(const GridSize& grid);
