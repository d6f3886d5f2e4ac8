// Progress of a long run, on one line: the step reached, the simulated time, the time per step so
// far and the time left.
#pragma once

#include <string>

struct Progress {
  int every = 0;       // steps between two reports; none when 0
  int first_step = 0;  // the step the run started from (a restart's)
  int steps = 0;       // the last step
  double dt = 0.0;
  bool terminal = false;  // rewrite the line in place, or append one line per report
};

// "step 4000 of 10000 (t = 0.04), 1.52 ms per step, about 9.1 s left", for `done` steps after
// `elapsed` seconds of this run.
std::string progress_line(const Progress& progress, int done, double elapsed);

// Writes the line to standard error: over the previous one on a terminal (the last one ends the
// line), one line per report in a log. Standard output keeps only the summary.
void report_progress(const Progress& progress, int done, double elapsed);
