// One explicit time step of the heat equation on one process's strip.
#pragma once

// Writes every cell of T1 from T0 and the rows just above (ghost_top) and below (ghost_bottom) the
// strip. The first row of the grid (rank 0) and its last row (last rank) are held: they copy their
// ghost row, which holds the strip's own edge row there. Side columns copy their inner neighbour
// from T0. Requires sizeX >= 2 and sizeY >= 2.
void compute(double** T0, double** T1, const int& sizeX, const int& sizeY, const double* ghost_top,
             const double* ghost_bottom, const double& dx, const double& dy, const double& dt,
             const int& rank, const int& process_count);
