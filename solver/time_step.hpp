// One step of the time loop up to the new layer: edge rows out, neighbours' rows in, update.
#pragma once

// Copies the strip's first and last rows of T0 into the send buffers and into the ghost rows (where
// a neighbour exists, exchange then overwrites the ghost row), trades rows with the neighbours and
// computes T1. The first process thus keeps its own first row in ghost_top and the last process its
// own last row in ghost_bottom, which is what holds the grid's top and bottom rows fixed. The
// seconds spent trading rows, waiting for the neighbours included, are added to exchange_seconds.
void time_step(double** T0, double** T1, const int& sizeX, const int& sizeY, double* send_top,
               double* send_bottom, double* ghost_top, double* ghost_bottom, const double& dx,
               const double& dy, const double& dt, const int& rank, const int& process_count,
               double& exchange_seconds);
