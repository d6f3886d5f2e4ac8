// Whether a problem of heat2d-study makes sense for the number of processes.
#pragma once

#include <string>

#include "study/parse_options.hpp"

// The largest time step this explicit scheme keeps stable on the grid, dt*(1/dx^2 + 1/dy^2) <= 1/2
// with dx = 1/NX and dy = 1/NY, rounded down to six significant digits so that the value as
// printed passes the check itself.
double largest_stable_dt(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);

// Returns an empty string, or one line saying what is wrong: too few rows for the processes (every
// strip needs two), fewer than two columns, no steps, a time step that is not positive or not
// stable, a negative snapshot interval.
std::string check_problem(const StudyOptions& options, const int& process_count);
