// A snapshot file opened, filled with the text of a block's columns, and closed.
#include "output/snapshot_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

namespace {
// Text is made and written this many values at a time (about 11 bytes each). Any strip of a small
// grid goes out in one write.
constexpr int CHUNK_VALUES = 1 << 19;
}  // namespace

int open_snapshot(const int& rank_label, double step_label, SnapshotMode mode) {
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);
  // O_APPEND makes each write land whole at the end of the file. Every process appends its copy of
  // the initial field to the same file at about the same moment: on a small grid that copy is one
  // write, so the copies cannot interleave; on a larger grid they can only interleave in whole
  // lines, and all its lines are the same.
  const int how = mode == SnapshotMode::append ? O_APPEND : O_TRUNC;
  const int fd = ::open(name, O_WRONLY | O_CREAT | how | O_CLOEXEC, 0666);
  return fd < 0 ? -errno : fd;
}

int write_text(int fd, const char* text, std::size_t length) {
  // On a regular file a write only falls short when it hits a limit, and the next attempt then
  // reports which.
  while (length > 0) {
    const ssize_t written = ::write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
  return 0;
}

int columns_per_chunk(const int& rows) {
  return std::max(1, CHUNK_VALUES / std::max(rows, 1));
}

int write_columns(int fd, double** field, const int& rows, const int& column_begin,
                  const int& column_end) {
  // Kept between calls: the first call sizes it for every block after.
  static std::vector<char> text;
  const int chunk = columns_per_chunk(rows);
  int error = 0;
  for (int k = column_begin, end = 0; k < column_end && error == 0; k = end) {
    end = column_end - k <= chunk ? column_end : k + chunk;
    // The text first: making it may move the buffer.
    const std::size_t length = layer_text(field, rows, k, end, text);
    error = write_text(fd, text.data(), length);
  }
  return error;
}

int close_snapshot(int fd, int error) {
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  return error != 0 ? error : close_error;
}
