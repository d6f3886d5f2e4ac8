// The initial temperature field of the fixed problem.
#pragma once

// Whole grid: row 0 (the hot edge, x = a) at 100.0, every other row at 0.0.
double** initial_field(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);
