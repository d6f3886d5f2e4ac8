// The fixed problem's time loop: this process's strip advanced 25000 steps, a snapshot every tenth.
#pragma once

#include "output/snapshot_losses.hpp"

// Prints the grid spacing, takes this process's strip of the initial field T (left unchanged) and
// advances it, exchanging edge rows with the neighbouring processes before every step. Snapshots
// that cannot be written are counted in `losses`.
void solve(double** T, const double& a, const double& b, const double& c, const double& d,
           const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank,
           const int& process_count, SnapshotLosses& losses);
