// A lock on the path a run saves to: a second run saving there while the first lives is refused.
#pragma once

#include <string>

// A kernel lock (fcntl) on the empty file "PATH.lock" beside the path, held by one process for
// the whole run: the kernel lets go when the process ends in any way, SIGKILL included, so a lock
// file left by a killed run holds nothing and the next run takes it. Released (and its file
// removed) when the SaveLock goes.
class SaveLock {
 public:
  SaveLock() = default;
  SaveLock(const SaveLock&) = delete;
  SaveLock& operator=(const SaveLock&) = delete;
  ~SaveLock();

  // Takes the lock for `path`. Returns an empty string, or why not in words ("another run is
  // saving to it ..."). Where the file system keeps no locks (NFS without its lock daemon) the run
  // goes on unlocked, and `warning` says so.
  std::string take(const std::string& path, std::string& warning);

  // Lets go and removes the file, if held.
  void release();

 private:
  int fd_ = -1;
  std::string name_;
};
