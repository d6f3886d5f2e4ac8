// Snapshots that could not be written: each distinct reason reported once, the rest only counted.
#pragma once

#include <vector>

// What one process lost. Names are kept as their two labels, so that the processes can send them
// as numbers; the first and last loss are in the order the process wrote (step label order).
struct SnapshotLosses {
  const char* program = "heat2d";  // the name the messages begin with
  int count = 0;
  int first_rank_label = 0;
  int first_step_label = 0;
  int last_rank_label = 0;
  int last_step_label = 0;
  std::vector<int> reported_errors;  // errno values already reported in full
};

// Counts the snapshot labelled (rank_label, step_label) as lost with `error` (an errno value).
// The first loss of each distinct reason gets one line on standard error naming the file; later
// losses of the same reason are only counted, so a folder that cannot be written costs a handful
// of lines, not one per snapshot.
void note_loss(SnapshotLosses& losses, const int& rank_label, int step_label, int error);
