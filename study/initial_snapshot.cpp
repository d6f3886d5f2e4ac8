// The initial-field snapshot of a run that starts from a user's field.
#include "study/initial_snapshot.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "output/snapshot_file.hpp"
#include "output/snapshot_name.hpp"

namespace {

// Columns [first, first + width) of every row of the file, as a field of `width` columns.
int read_columns(int fd, const FieldFile& file, int first, int width, std::vector<double>& values,
                 std::vector<double*>& rows) {
  for (int i = 0; i < file.rows; ++i) {
    rows[i] = values.data() + static_cast<std::size_t>(i) * width;
    const off_t at = file.data_offset + (static_cast<off_t>(i) * file.cols + first) * 8;
    const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(double);
    const ssize_t got = ::pread(fd, rows[i], bytes, at);
    if (got != static_cast<ssize_t>(bytes)) return got < 0 ? errno : EIO;
  }
  return 0;
}

int write_copy(int snapshot, int npy, const FieldFile& file) {
  const int chunk = columns_per_chunk(file.rows);
  std::vector<double> values(static_cast<std::size_t>(file.rows) * std::min(chunk, file.cols));
  std::vector<double*> rows(file.rows);
  int error = 0;
  for (int k = 0; k < file.cols && error == 0; k += chunk) {
    const int width = std::min(chunk, file.cols - k);
    error = read_columns(npy, file, k, width, values, rows);
    if (error == 0) error = write_columns(snapshot, rows.data(), file.rows, 0, width);
  }
  return error;
}

}  // namespace

int write_initial_copies(const std::string& path, const FieldFile& file, const int& copies) {
  const int npy = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (npy < 0) return errno;
  const int snapshot = open_snapshot(INITIAL_FIELD_RANK, 0.0, SnapshotMode::append);
  int error = snapshot < 0 ? -snapshot : 0;
  for (int copy = 0; copy < copies && error == 0; ++copy) error = write_copy(snapshot, npy, file);
  if (snapshot >= 0) error = close_snapshot(snapshot, error);
  ::close(npy);
  return error;
}
