// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#include "output/write_layer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

namespace {

bool report_failure(const char* name, int error) {
  std::fprintf(stderr, "heat2d: snapshot %s not written: %s\n", name, std::strerror(error));
  return false;
}

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

bool write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                 double step_label) {
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);

  // Kept between calls: the first call (the whole initial field) sizes it for every strip after.
  static std::vector<char> text;
  const std::size_t length = layer_text(field, rows, cols, text);

  // One append of the whole text: every process appends its copy of the initial field to the same
  // file at about the same moment, and O_APPEND makes each write land whole at the end.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return report_failure(name, errno);
  const int write_error = write_all(fd, text.data(), length);
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  if (write_error != 0) return report_failure(name, write_error);
  if (close_error != 0) return report_failure(name, close_error);
  return true;
}
