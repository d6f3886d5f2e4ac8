// Whether a problem of heat2d-study makes sense for the processes that run it.
#pragma once

#include <string>

#include "problem/problem.hpp"
#include "solver/process_grid.hpp"
#include "study/options.hpp"

// Whether the explicit scheme is stable with this time step on the grid: dt*(1/dx^2 + 1/dy^2) <=
// 1/2 with dx = 1/nx and dy = 1/ny, evaluated in this order.
bool stable_time_step(double dt, const GridSize& grid);

// The largest time step the explicit scheme keeps stable on the grid, rounded down to six
// significant digits so that the value as printed passes the check itself.
double largest_stable_dt(const GridSize& grid);

// Threads per process at most, on a host with `cores` cores: beyond a few per core they only take
// turns, and the operating system's limits come into sight.
int most_threads(int cores);

// The steps that reach time `until` with steps of `dt`: the last one ends at `until`, or just past
// it where `until` is not a whole number of steps (a relative 1e-9 of rounding is forgiven). 0
// when more than an int counts.
int steps_to_reach(double until, double dt);

// Returns an empty string, or one line saying what is wrong: a grid of fewer than three rows or
// columns, no steps, a negative interval, --save-every without --save, a time step that is not
// positive or (explicit update) not stable, a tolerance or cycle count out of range, --procs with
// strips or for another number of processes, blocks (`processes`, as the split gives them) too
// small for the grid, fewer than one thread or more than most_threads(cores), passes deeper than
// the blocks or combined with the overlapped exchange or an implicit method.
std::string check_problem(const StudyOptions& options, int process_count,
                          const ProcessGrid& processes, int cores);
