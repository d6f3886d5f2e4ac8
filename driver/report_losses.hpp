// The run's account of its lost snapshots, agreed by all processes before they leave MPI.
#pragma once

#include "output/snapshot_losses.hpp"

// Collective over MPI_COMM_WORLD. A process that lost snapshots says how many, with the first and
// the last; rank 0 then sums up the whole run in one line. Returns the exit status this process
// should give: only rank 0 carries the failure, so that the launcher does not end the other
// processes while they still finish (Open MPI ends a job once one process exits non-zero).
int report_losses(const SnapshotLosses& losses, const int& rank, const int& process_count);
