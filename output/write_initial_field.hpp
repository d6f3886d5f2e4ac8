// The initial-field snapshot of a grid of any size, without holding the grid.
#pragma once

// Appends to rank-100_0.000000 exactly the text that the whole initial field (row 0 at 100.0, the
// other rows at 0.0) gives as a snapshot. Returns 0, or the errno value that kept it from being
// written in full.
int write_initial_field(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);
