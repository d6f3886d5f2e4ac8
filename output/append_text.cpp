// Appending text to a snapshot file, checking every step.
#include "output/append_text.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

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

int append_text(const char* name, const char* text, std::size_t length, std::size_t times) {
  // O_APPEND makes each write land whole at the end of the file, even when several processes
  // append to the same file at the same moment.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int write_error = 0;
  for (std::size_t k = 0; k < times && write_error == 0; ++k) {
    write_error = write_all(fd, text, length);
  }
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  return write_error != 0 ? write_error : close_error;
}
