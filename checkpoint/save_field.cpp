// A field saved as a NumPy .npy file with its record, by all processes together, whole or not at
// all.
#include "checkpoint/save_field.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "checkpoint/field_io.hpp"
#include "checkpoint/field_names.hpp"
#include "checkpoint/npy_header.hpp"
#include "checkpoint/quoted_path.hpp"
#include "common/agreement.hpp"

namespace {

// "" when `path` is absent or a regular file; else why a rename must not replace it, said of
// `subject` ("it", or "its record PATH").
std::string not_replaceable(const std::string& path, const std::string& subject) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? "" : in_words(errno);
  }
  if (S_ISREG(info.st_mode)) return "";
  return subject + " is " + file_kind(info.st_mode) +
         ", not a regular file (only a new file or a regular file is "
         "replaced)";
}

// Both the field's path and its record's.
std::string not_replaceable(const std::string& path) {
  std::string problem = not_replaceable(path, "it");
  const std::string record = record_path(path);
  if (problem.empty()) problem = not_replaceable(record, "its record " + quoted_path(record));
  return problem;
}

// A new file "PATH.part-XXXXXX" beside `path` with the mode an ordinary new file gets, `bytes`
// long and, where the file system can, with its blocks reserved. Returns its name, or "" with
// `error` set.
std::string reserve(const std::string& path, double bytes, int& error) {
  std::vector<char> name(path.begin(), path.end());
  const char suffix[] = ".part-XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = errno;
    return "";
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  const off_t size = static_cast<off_t>(bytes);
  if (error == 0) error = ::posix_fallocate(fd, 0, size);
  if (error == EOPNOTSUPP || error == EINVAL) error = ::ftruncate(fd, size) == 0 ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(name.data());
  return error == 0 ? std::string(name.data()) : "";
}

// Writes `text` into a new file reserved beside `path`; returns its name, or "" with `error`.
std::string write_beside(const std::string& path, const std::string& text, int& error) {
  const std::string name = reserve(path, 0.0, error);
  if (name.empty()) return "";
  const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
  error = fd < 0 ? errno : 0;
  errno = 0;
  if (error == 0 && ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    error = errno != 0 ? errno : EIO;
  }
  if (fd >= 0 && ::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(name.c_str());
  return error == 0 ? name : "";
}

// Rank 0's part before the data: the paths checked and the field's file reserved.
std::string begin_save(const std::string& path, double bytes, std::string& temporary) {
  const std::string problem = not_replaceable(path);
  if (!problem.empty()) return problem;
  int error = 0;
  temporary = reserve(path, bytes, error);
  return error == 0 ? "" : in_words(error);
}

// Rank 0's part after the data: the record written, then both renamed into place.
std::string end_save(const std::string& path, const std::string& temporary,
                     const FieldRecord& record) {
  int error = 0;
  const std::string record_file = record_path(path);
  const std::string record_temporary = write_beside(record_file, record_text(record), error);
  if (error != 0) return in_words(error);
  std::string problem = not_replaceable(path);
  if (problem.empty() && std::rename(record_temporary.c_str(), record_file.c_str()) != 0) {
    problem = in_words(errno);
  }
  if (!problem.empty()) {
    ::unlink(record_temporary.c_str());
    return problem;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0 ? "" : in_words(errno);
}

// Every process writes its rows into the file rank 0 reserved, and rank 0 the header, adding up
// the file's CRC-32 as they go, into `record`. Returns "" or why not, the same on every process.
std::string write_data(const std::string& temporary, double** T, const Block& block,
                       FieldRecord& record, MPI_Comm comm, int rank) {
  const std::string header = npy_header({record.rows, record.cols});
  BlockChecksum sum(block);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  if (error == 0 && rank == 0) error = write_at(fd, header, 0);
  if (error == 0) error = write_block(fd, header.size(), T, block, sum);
  // A file system that writes back later (NFS) reports what went wrong when the file is closed.
  if (fd >= 0 && ::close(fd) != 0 && error == 0) error = errno;
  // Collective: every process takes part, whatever happened to its writes.
  record.crc32 = sum.file_crc32(header, comm);
  record.has_crc32 = true;
  return first_problem(error == 0 ? "" : in_words(error), comm);
}

}  // namespace

std::string in_words(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string file_kind(unsigned mode) {
  return S_ISREG(mode)    ? "a regular file"
         : S_ISLNK(mode)  ? "a symbolic link"
         : S_ISDIR(mode)  ? "a folder"
         : S_ISFIFO(mode) ? "a FIFO"
         : S_ISSOCK(mode) ? "a socket"
                          : "a device";
}

std::string check_save_path(const std::string& path, const SeriesSteps& series, MPI_Comm comm,
                            SaveLock& lock) {
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  std::string problem;
  if (rank == 0) {
    const std::string longest = series.every > 0 ? series_path(path, series.last) : path;
    problem = name_room_problem("--save", path, longest, SAVE_ROOM);
    if (!problem.empty()) return first_problem(problem, comm);
    std::string warning;
    problem = lock.take(path, series, warning);
    if (!warning.empty()) std::fprintf(stderr, "heat2d-study: warning: %s\n", warning.c_str());
    if (problem.empty()) problem = not_replaceable(path);
    int error = 0;
    const std::string trial = problem.empty() ? reserve(path, 0.0, error) : "";
    if (error != 0) problem = in_words(error);
    if (!trial.empty()) ::unlink(trial.c_str());
    if (!problem.empty()) problem = "cannot write " + quoted_path(path) + ": " + problem;
    // Let go before the others learn of the refusal: once one of them exits non-zero, the
    // launcher may end this process before it gets to its destructors.
    if (!problem.empty()) lock.release();
  }
  return first_problem(problem, comm);
}

std::string save_field(const std::string& path, double** T, const Block& block,
                       const FieldRecord& field, MPI_Comm comm) {
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  const std::string header = npy_header({field.rows, field.cols});
  FieldRecord record = field;
  const double bytes = header.size() + static_cast<double>(record.rows) * record.cols * 8;
  std::string temporary;
  std::string problem = first_problem(rank == 0 ? begin_save(path, bytes, temporary) : "", comm);
  if (problem.empty()) {
    int length = static_cast<int>(temporary.size());
    MPI_Bcast(&length, 1, MPI_INT, 0, comm);
    temporary.resize(length);
    MPI_Bcast(&temporary[0], length, MPI_CHAR, 0, comm);
    problem = write_data(temporary, T, block, record, comm, rank);
    if (problem.empty())
      problem = first_problem(rank == 0 ? end_save(path, temporary, record) : "", comm);
    if (!problem.empty() && rank == 0) ::unlink(temporary.c_str());
  }
  return problem.empty() ? "" : quoted_path(path) + " not written: " + problem;
}
