// Which steps of a run write or report something: snapshots, saved fields, progress, the end.
#pragma once

#include "study/options.hpp"

// Whether the field after `done` steps is a snapshot: the file labelled L holds the field after
// L + 1 steps, for every L a multiple of --every.
bool snapshot_after(const OutputOptions& output, int done);

// Whether the field after `done` steps is saved as FILE.S.npy (--save-every).
bool saved_after(const OutputOptions& output, int done);

// Whether progress is reported after `done` steps: every --monitor steps, and at the `last`.
bool reported_after(const OutputOptions& output, int done, int last);

// The first step after `done` (and at most `last`) after which the field is written or progress
// reported. Pure, and right for every count up to the largest int.
int next_written(const OutputOptions& output, int done, int last);
