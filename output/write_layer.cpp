// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#include "output/write_layer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

namespace {

// Text is made and written this many values at a time (about 11 bytes each), so that a large
// strip needs no second copy of itself as text. Any strip of a small grid goes out in one write.
constexpr int CHUNK_VALUES = 1 << 19;

// Writes all of `length` bytes; returns 0 or the error that stopped it. On a regular file a write
// only falls short when it hits a limit, and the next attempt then reports which.
int write_all(int fd, const char* text, std::size_t length) {
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

}  // namespace

int write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                double step_label) {
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);

  // O_APPEND makes each write land whole at the end of the file. Every process appends its copy of
  // the initial field to the same file at about the same moment: on a small grid that copy is one
  // write, so the copies cannot interleave; on a larger grid they can only interleave in whole
  // lines, and all its lines are the same.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  // Kept between calls: the first call sizes it for every strip after.
  static std::vector<char> text;
  const int columns_per_chunk = std::max(1, CHUNK_VALUES / std::max(rows, 1));
  int write_error = 0;
  for (int k = 0, end = 0; k < cols && write_error == 0; k = end) {
    end = cols - k <= columns_per_chunk ? cols : k + columns_per_chunk;
    const std::size_t length = layer_text(field, rows, k, end, text);
    write_error = write_all(fd, text.data(), length);
  }
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  return write_error != 0 ? write_error : close_error;
}
