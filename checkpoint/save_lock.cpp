// A lock on the path a run saves to: a second run saving there, or to a field of its series,
// while the first lives is refused.
#include "checkpoint/save_lock.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "checkpoint/field_names.hpp"
#include "checkpoint/quoted_path.hpp"
#include "checkpoint/save_field.hpp"

namespace {

constexpr char LOCK[] = ".lock";
constexpr off_t FIELD_BYTE = 0;   // locked by every run saving to the path
constexpr off_t SERIES_BYTE = 1;  // locked too while the run saves FILE.S.npy every few steps

bool lock_byte(int fd, off_t byte) {
  struct flock one = {};
  one.l_type = F_WRLCK;
  one.l_whence = SEEK_SET;
  one.l_start = byte;
  one.l_len = 1;
  return ::fcntl(fd, F_SETLK, &one) == 0;
}

// Whether another process holds `byte` of the lock file `name` (a missing file holds nothing).
bool held_by_another(const std::string& name, off_t byte) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock one = {};
  one.l_type = F_WRLCK;
  one.l_whence = SEEK_SET;
  one.l_start = byte;
  one.l_len = 1;
  const bool held = ::fcntl(fd, F_GETLK, &one) == 0 && one.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

// Whether `fd` is still the file at `name`: the run that held the lock removes the file as it lets
// go, and a run that opened it just before must not hold a lock on a file no longer there.
bool still_named(int fd, const std::string& name) {
  struct stat held, named;
  return ::fstat(fd, &held) == 0 && ::stat(name.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Why the lock file cannot be opened: what is in its place, naming it, or else the folder's
// fault, as the field itself would meet it.
std::string unopenable(const std::string& name, int error) {
  struct stat info;
  if (::lstat(name.c_str(), &info) != 0) return in_words(error);
  if (!S_ISREG(info.st_mode)) {
    return "its lock file " + quoted_path(name) + " is " + file_kind(info.st_mode) +
           ", not the empty file heat2d-study locks: remove it, or save elsewhere";
  }
  return "its lock file " + quoted_path(name) + " cannot be opened (" + in_words(error) + ")";
}

// Another run saving the series `path` is a field of: its lock is FILE.npy.lock (or FILE.lock
// for --save FILE) with the series' byte held.
std::string series_owner(const std::string& path) {
  std::string stem;
  long step = 0;
  if (!series_step(path, stem, step)) return "";
  for (const std::string& owner : {stem + ".npy", stem}) {
    if (held_by_another(owner + LOCK, SERIES_BYTE)) {
      return "another run is saving the series " + quoted_path(stem) +
             ".S.npy, of which it is "
             "the field after " +
             std::to_string(step) + " steps (it holds " + quoted_path(owner + LOCK) + ")";
    }
  }
  return "";
}

// Another run saving a field of this run's series FILE.S.npy alone: the lock of a FILE.S.npy this
// run writes, held.
std::string series_field_owner(const std::string& path, const SeriesSteps& series) {
  if (series.every <= 0) return "";
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
  if (listing == nullptr) return "";
  const std::size_t suffix = sizeof LOCK - 1;
  std::string problem;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = folder + entry->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, LOCK) != 0) continue;
    const std::string field = name.substr(0, name.size() - suffix);
    std::string stem;
    long step = 0;
    const bool ours = series_step(field, stem, step) && step > series.first &&
                      step <= series.last && step % series.every == 0 &&
                      field == series_path(path, static_cast<int>(step));
    if (ours && held_by_another(name, FIELD_BYTE)) {
      problem = "another run is saving " + quoted_path(field) +
                ", a field of this run's series (it holds " + quoted_path(name) + ")";
      break;
    }
  }
  ::closedir(listing);
  return problem;
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

std::string SaveLock::take(const std::string& path, const SeriesSteps& series,
                           std::string& warning) {
  const std::string name = path + LOCK;
  // A few tries: each one that fails met a file removed by the run letting go of it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd =
        ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return unopenable(name, errno);
    if (!lock_byte(fd, FIELD_BYTE) || (series.every > 0 && !lock_byte(fd, SERIES_BYTE))) {
      const int error = errno;
      ::close(fd);
      if (error == EACCES || error == EAGAIN) {
        return "another run is saving to it (it holds " + quoted_path(name) + ")";
      }
      warning = "the file system does not lock " + quoted_path(name) + " (" + in_words(error) +
                "): a second run saving to " + quoted_path(path) +
                " at the same time would not be stopped";
      return "";
    }
    if (!still_named(fd, name)) {
      ::close(fd);
      continue;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0) {
      ::close(fd);
      return "its lock file " + quoted_path(name) +
             " is not the empty file heat2d-study locks: remove it, or save elsewhere";
    }
    fd_ = fd;
    name_ = name;
    // Each run looks for the other after taking its own lock, so that of two starting together
    // at least one sees the other.
    std::string problem = series_owner(path);
    if (problem.empty()) problem = series_field_owner(path, series);
    return problem;
  }
  return quoted_path(name) + " keeps being removed as it is locked";
}
