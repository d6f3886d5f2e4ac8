// The time loop of one process: its strip advanced 25000 steps, a snapshot every tenth step.
#pragma once

// Prints the grid spacing, takes this process's strip of the initial field T (left unchanged) and
// advances it, trading edge rows with the neighbouring processes before every step. Returns the
// number of snapshots that could not be written.
int solve(double** T, const double& a, const double& b, const double& c, const double& d,
          const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank,
          const int& process_count);
