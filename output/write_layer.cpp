// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#include "output/write_layer.hpp"

#include "output/snapshot_file.hpp"

int write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                double step_label) {
  const int fd = open_snapshot(rank_label, step_label, SnapshotMode::append);
  if (fd < 0) return -fd;
  return close_snapshot(fd, write_columns(fd, field, rows, 0, cols));
}
