// The figures each process contributes to the summary, brought together over the processes.
#pragma once

#include <mpi.h>

#include <vector>

#include "common/block.hpp"
#include "multigrid/multigrid.hpp"
#include "stepping/stepper.hpp"
#include "study/summary.hpp"

// Collective over `comm`: every process's times, in rank order, on rank 0 (empty elsewhere).
std::vector<ProcessTimes> gather_process_times(const ProcessTimes& mine, MPI_Comm comm);

// Collective over `comm`: the bytes and messages per step of the process that sends the most.
TrafficFigures most_traffic(const StepCounts& counts, MPI_Comm comm);

// Collective over `comm`: the largest difference of any block of T from the exact solution at
// time t.
double largest_error(double** T, const Block& block, double t, MPI_Comm comm);

// Collective over `comm`: whether every cell of every block of T is finite.
bool field_is_finite(double** T, const Block& block, MPI_Comm comm);

// Collective over `comm`: how the multigrid's solves went over the run (cycles and their
// reduction, the same on every process), the time per cycle of the slowest process, the shares of
// the levels on rank 0 (which computes every level), and the messages per cycle of the process
// that sends the most.
SolveFigures solve_figures(const Multigrid& multigrid, MPI_Comm comm);

// Collective over `comm`: the most memory any process has held resident, in bytes.
double peak_resident_bytes(MPI_Comm comm);
