// A lock on the path a run saves to: a second run saving there while the first lives is refused.
#include "checkpoint/save_lock.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "checkpoint/save_field.hpp"

namespace {

// Whether `fd` is still the file at `name`: the run that held the lock removes the file as it lets
// go, and a run that opened it just before must not hold a lock on a file no longer there.
bool still_named(int fd, const std::string& name) {
  struct stat held, named;
  return ::fstat(fd, &held) == 0 && ::stat(name.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

SaveLock::~SaveLock() {
  release();
}

void SaveLock::release() {
  if (fd_ < 0) return;
  // Removed while still held, so that no other run can lock the file about to disappear.
  ::unlink(name_.c_str());
  ::close(fd_);
  fd_ = -1;
}

std::string SaveLock::take(const std::string& path, std::string& warning) {
  const std::string name = path + ".lock";
  // A few tries: each one that fails met a file removed by the run letting go of it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd =
        ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return in_words(errno);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &whole) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EACCES || error == EAGAIN) {
        return "another run is saving to it (it holds " + name + ")";
      }
      warning = "the file system does not lock " + name + " (" + in_words(error) +
                "): a second run saving to " + path + " at the same time would not be stopped";
      return "";
    }
    if (!still_named(fd, name)) {
      ::close(fd);
      continue;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0) {
      ::close(fd);
      return name + " is not the empty file of heat2d-study's lock: remove it, or save elsewhere";
    }
    fd_ = fd;
    name_ = name;
    return "";
  }
  return name + " keeps being removed as it is locked";
}
