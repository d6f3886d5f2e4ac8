// Agreement of all processes on a verdict each reached alone.
#pragma once

#include <mpi.h>

#include <string>

// Collective over MPI_COMM_WORLD: true on every process when `mine` is true on every process, so
// that all of them go on, or stop, together.
bool on_every_process(bool mine);

// Collective over `comm`: on every process, the problem of the lowest-ranked process that has one
// (a non-empty `mine`), or an empty string when none has.
std::string first_problem(const std::string& mine, MPI_Comm comm = MPI_COMM_WORLD);
