// Which steps of a run write or report something: snapshots, saved fields, progress, the end.
#include "study/schedule.hpp"

#include <algorithm>

namespace {

// The first multiple of `every` at or after `from`, in 64 bits, so that it cannot overflow.
long long next_multiple(long long from, int every) {
  return (from + every - 1) / every * every;
}

}  // namespace

bool snapshot_after(const OutputOptions& output, int done) {
  return output.every > 0 && done >= 1 && (done - 1) % output.every == 0;
}

bool saved_after(const OutputOptions& output, int done) {
  return output.save_every > 0 && done % output.save_every == 0;
}

bool reported_after(const OutputOptions& output, int done, int last) {
  return output.monitor > 0 && (done % output.monitor == 0 || done == last);
}

int next_written(const OutputOptions& output, int done, int last) {
  long long next = last;
  // The snapshot labelled L = s - 1 after step s.
  if (output.every > 0) next = std::min(next, next_multiple(done, output.every) + 1);
  if (output.save_every > 0) next = std::min(next, next_multiple(done + 1LL, output.save_every));
  if (output.monitor > 0) next = std::min(next, next_multiple(done + 1LL, output.monitor));
  return static_cast<int>(next);
}
