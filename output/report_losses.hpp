// The run's account of its lost snapshots, agreed by all processes before they leave MPI.
#pragma once

#include "output/snapshot_losses.hpp"

// Collective over MPI_COMM_WORLD. A process that lost snapshots says how many, with the first and
// the last; rank 0 then sums up the whole run in one line. Returns the exit status this process
// should give: only rank 0 carries the failure, so that the launcher does not end the other
// processes while they still finish (Open MPI ends a job once one process exits non-zero).
int report_losses(const SnapshotLosses& losses, const int& rank, const int& process_count);

// Open MPI's launcher ends every process still running once one exits non-zero. The others only
// have their last line left to print after MPI_Finalize, but on a busy machine they may not have
// been scheduled yet, so the process that carries a failure gives them a moment before it exits.
void leave_the_others_time_to_finish();
