// How far a strip is from the exact solution.
#pragma once

// The largest |T0[i][j] - T(x, t)| over the strip's cells, with x = (row_begin + i) * dx, the exact
// solution T on 0 <= x <= L where L = (NUMBER_OF_NODES_X - 1) * dx is the last row, and t the
// time reached. The exact solution depends on x alone, so it is evaluated once per row.
double largest_difference(double** T0, const int& sizeX, const int& sizeY, const int& row_begin,
                          const int& NUMBER_OF_NODES_X, const double& dx, const double& t);
