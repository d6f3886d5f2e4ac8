// The run's account of its lost snapshots, agreed by all processes before they leave MPI.
#include "output/report_losses.hpp"

#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "output/snapshot_name.hpp"

namespace {

constexpr int FIELDS = 5;  // count, first rank label, first step label, last rank and step labels

std::pair<int, int> first_key(const int* entry) {
  return {entry[2], entry[1]};
}
std::pair<int, int> last_key(const int* entry) {
  return {entry[4], entry[3]};
}

// "1 snapshot (NAME)" or "N snapshots, first NAME, last NAME".
std::string count_and_names(long long count, int first_rank, int first_step, int last_rank,
                            int last_step) {
  char first[SNAPSHOT_NAME_SIZE];
  char last[SNAPSHOT_NAME_SIZE];
  snapshot_name(first_rank, first_step, first);
  snapshot_name(last_rank, last_step, last);
  if (count == 1) return std::string("1 snapshot (") + first + ")";
  return std::to_string(count) + " snapshots, first " + first + ", last " + last;
}

}  // namespace

int report_losses(const SnapshotLosses& losses, const int& rank, const int& process_count) {
  if (losses.count > 0) {
    // One write per line: stderr is unbuffered, and the lines of all processes meet in one stream.
    std::fprintf(stderr, "%s: process %d lost %s\n", losses.program, rank,
                 count_and_names(losses.count, losses.first_rank_label, losses.first_step_label,
                                 losses.last_rank_label, losses.last_step_label)
                     .c_str());
  }
  const int mine[FIELDS] = {losses.count, losses.first_rank_label, losses.first_step_label,
                            losses.last_rank_label, losses.last_step_label};
  std::vector<int> all(rank == 0 ? FIELDS * process_count : 0);
  MPI_Gather(mine, FIELDS, MPI_INT, all.data(), FIELDS, MPI_INT, 0, MPI_COMM_WORLD);
  if (rank != 0) return 0;

  // Files are ordered by step label, then rank label: the initial field comes first.
  long long total = 0;
  int processes = 0;
  const int* first = nullptr;
  const int* last = nullptr;
  for (int r = 0; r < process_count; ++r) {
    const int* entry = &all[FIELDS * r];
    if (entry[0] == 0) continue;
    total += entry[0];
    ++processes;
    if (first == nullptr || first_key(entry) < first_key(first)) first = entry;
    if (last == nullptr || last_key(entry) > last_key(last)) last = entry;
  }
  if (total == 0) return 0;
  std::fprintf(stderr, "%s: %d of %d processes lost snapshots; the run lost %s\n", losses.program,
               processes, process_count,
               count_and_names(total, first[1], first[2], last[3], last[4]).c_str());
  return 1;
}

void leave_the_others_time_to_finish() {
  std::this_thread::sleep_for(std::chrono::seconds(1));
}
