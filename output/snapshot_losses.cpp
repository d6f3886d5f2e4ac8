// Snapshots that could not be written: each distinct reason reported once, the rest only counted.
#include "output/snapshot_losses.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "output/snapshot_name.hpp"

void note_loss(SnapshotLosses& losses, const int& rank_label, int step_label, int error) {
  if (losses.count == 0) {
    losses.first_rank_label = rank_label;
    losses.first_step_label = step_label;
  }
  ++losses.count;
  losses.last_rank_label = rank_label;
  losses.last_step_label = step_label;

  std::vector<int>& reported = losses.reported_errors;
  if (std::find(reported.begin(), reported.end(), error) != reported.end()) return;
  reported.push_back(error);
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);
  std::fprintf(stderr,
               "%s: snapshot %s not written: %s (later snapshots lost for this reason are only "
               "counted)\n",
               losses.program, name, std::strerror(error));
}
