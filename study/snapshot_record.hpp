// The record heat2d-study leaves beside its snapshot files: the grid, dt and starting field, and
// the steps and process rows of every run that wrote into the folder, so that heat2d-view gives
// the right times and reads each label with the strips of the run that wrote it.
#pragma once

#include <string>

#include "study/options.hpp"
#include "study/start.hpp"

// Its name in the working directory, beside the snapshot files.
constexpr const char* SNAPSHOT_RECORD = "snapshots.json";

// What one run wrote: the labels from first_step to steps - 1 that are multiples of every, each
// as process_rows strip files (a strip run's processes, a block run's process rows).
struct SnapshotRun {
  int first_step = 0;
  int steps = 0;
  int every = 0;
  int process_rows = 0;
};

// The problem every run listed in one record solves.
struct SnapshotProblem {
  int rows = 0;
  int cols = 0;
  double dt = 0.0;
  std::string initial;
};

// The record's text after `run`: the runs of `previous` (the record found in the folder, or "")
// and then `run`, when `run` continues a saved run (first_step > 0) and `previous` is a sound
// record of the same problem; otherwise `run` alone. One JSON object on one line.
std::string snapshot_record(const std::string& previous, const SnapshotProblem& problem,
                            const SnapshotRun& run);

// Rank 0 of a run that writes snapshot files: puts the record after this run into the working
// directory, whole (written beside it, then renamed). A record that cannot be written costs the
// viewer its times and restarts, not the run: one line on standard error says so.
void record_snapshot_run(const StudyOptions& options, const Start& start, int process_rows);
