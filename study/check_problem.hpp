// Whether a problem of heat2d-study makes sense for the processes that run it.
#pragma once

#include <string>

#include "solver/process_grid.hpp"
#include "study/parse_options.hpp"

// Whether the explicit scheme is stable with this time step on the grid: dt*(1/dx^2 + 1/dy^2) <=
// 1/2 with dx = 1/NX and dy = 1/NY, evaluated in this order.
bool stable_time_step(const double& dt, const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);

// The largest time step this explicit scheme keeps stable on the grid, dt*(1/dx^2 + 1/dy^2) <= 1/2
// with dx = 1/NX and dy = 1/NY, rounded down to six significant digits so that the value as
// printed passes the check itself.
double largest_stable_dt(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);

// Returns an empty string, or one line saying what is wrong: a grid of fewer than three rows or
// columns, no steps, a negative interval, --save-every without --save, a time step that is not
// positive or not stable, --procs with strips or for another number of processes, blocks
// (`grid`, as the split gives it) too small for the grid, fewer than one thread, a tile that is not
// whole cache lines, or passes deeper than the blocks or combined with the overlapped exchange.
std::string check_problem(const StudyOptions& options, const int& process_count,
                          const ProcessGrid& grid);
