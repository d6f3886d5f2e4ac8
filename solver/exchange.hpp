// Exchange of edge rows between neighbouring strips.
#pragma once

// Sends the strip's last row down and its first row up, and receives the row above the strip into
// ghost_top and the row below into ghost_bottom. A ghost row without a neighbour is left untouched.
// Rows travel downwards first, then upwards, so blocking sends can never deadlock.
void exchange(const double* send_top, const double* send_bottom, double* ghost_top,
              double* ghost_bottom, const int& sizeY, const int& rank, const int& process_count);
