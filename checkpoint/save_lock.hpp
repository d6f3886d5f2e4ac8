// A lock on the path a run saves to: a second run saving there, or to a field of its series,
// while the first lives is refused.
#pragma once

#include <string>

// The fields FILE.S.npy a run saves besides FILE.npy: after every `every` steps past `first`, up to
// `last`; none where `every` is 0.
struct SeriesSteps {
  int every = 0;
  int first = 0;
  int last = 0;
};

// A kernel lock (fcntl) on the empty file "PATH.lock" beside the path, held by one process for
// the whole run: the kernel lets go when the process ends in any way, SIGKILL included, so a lock
// file left by a killed run holds nothing and the next run takes it. Its first byte is locked for
// the field, its second too while the run saves a series, so that a run saving FILE.S.npy alone
// can tell. Released (and its file removed) when the SaveLock goes.
class SaveLock {
 public:
  SaveLock() = default;
  SaveLock(const SaveLock&) = delete;
  SaveLock& operator=(const SaveLock&) = delete;
  ~SaveLock();

  // Takes the lock for `path`, and refuses a path that another run's series holds (FILE.S.npy while
  // another saves FILE.npy every few steps) or a series of which another run saves a field.
  // Returns an empty string, or why not in words ("another run is saving to it ..."). Where the
  // file system keeps no locks (NFS without its lock daemon) the run goes on unlocked, and
  // `warning` says so.
  std::string take(const std::string& path, const SeriesSteps& series, std::string& warning);

  // Lets go and removes the file, if held.
  void release();

 private:
  int fd_ = -1;
  std::string name_;
};
