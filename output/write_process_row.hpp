// A snapshot of one row of blocks, written as one strip file.
#pragma once

#include <mpi.h>

#include <vector>

#include "output/snapshot_file.hpp"

// Collective over `row`, the processes of one process row in column order. A strip file lists
// the strip's columns one per line, so the blocks of the row own consecutive runs of its lines:
// the first process of the row opens the file labelled (rank_label, step_label), writes the text of
// its own columns, then that of each other block as it arrives in column order; the others only
// make and send theirs. A strip thus gives the same file whether it is one process or several.
// `widths` holds the column count of every block in the row; all blocks have `rows` rows. Returns,
// on the first process, 0 or the errno value that kept the file from being written in full (the
// others' text is still received, so no process waits on a failed one); 0 on the others.
int write_process_row(double** field, const int& rows, const std::vector<int>& widths,
                      const int& rank_label, double step_label, SnapshotMode mode, MPI_Comm row);
