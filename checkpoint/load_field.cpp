// A field read back from a .npy file, for a restart or as a starting field.
#include "checkpoint/load_field.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <fstream>
#include <sstream>

#include "checkpoint/field_checksum.hpp"
#include "checkpoint/field_io.hpp"
#include "checkpoint/npy_header.hpp"
#include "checkpoint/quoted_path.hpp"
#include "checkpoint/save_field.hpp"
#include "common/agreement.hpp"

namespace {

// A header is a few hundred bytes; NumPy refuses ones beyond this too.
constexpr std::size_t LONGEST_HEADER = 64 * 1024;

std::string read_start(const std::string& path, std::size_t length, int& error) {
  std::string bytes(length, '\0');
  // Non-blocking: a FIFO put in the file's place after it was looked at must not hang the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return "";
  }
  const ssize_t got = ::pread(fd, &bytes[0], length, 0);
  error = got < 0 ? errno : 0;
  ::close(fd);
  bytes.resize(got < 0 ? 0 : got);
  return bytes;
}

std::string shape_text(long long rows, long long cols) {
  return std::to_string(rows) + " x " + std::to_string(cols);
}

// The text of a record: a regular file of at most LONGEST_RECORD bytes, else why not. Opened
// without blocking and looked at through its descriptor, so that a FIFO or a device (a link to
// /dev/zero) in its place is named, not read.
std::string record_file_text(const std::string& name, std::string& text) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  std::string problem;
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    problem = "cannot be read (" + in_words(errno) +
              "): a restart needs the record that heat2d-study writes beside every saved field";
  } else if (!S_ISREG(info.st_mode)) {
    problem = "is " + file_kind(info.st_mode) + ", not a regular file";
  } else if (static_cast<std::size_t>(info.st_size) > LONGEST_RECORD) {
    problem = "is " + std::to_string(info.st_size) + " bytes, more than a record can be (" +
              std::to_string(LONGEST_RECORD) + " at most)";
  } else {
    text.resize(info.st_size);
    const ssize_t got = ::pread(fd, &text[0], text.size(), 0);
    if (got != static_cast<ssize_t>(text.size())) problem = "cannot be read in full";
  }
  if (fd >= 0) ::close(fd);
  return problem.empty() ? "" : "the record " + quoted_path(name) + " " + problem;
}

// Rank 0's verdict on the bytes read, whose checksum is `sum`, against the record's CRC-32; ""
// elsewhere.
std::string checksum_problem(const std::string& path, const FieldFile& file,
                             const BlockChecksum& sum, MPI_Comm comm) {
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  int error = 0;
  const std::string header = rank == 0 ? read_start(path, file.data_offset, error) : "";
  const std::uint32_t crc32 = sum.file_crc32(header, comm);
  if (rank != 0 || crc32 == file.crc32) return "";
  return quoted_path(path) + " is not the field its record " + quoted_path(record_path(path)) +
         " describes: the file's CRC-32 is " + std::to_string(crc32) + ", the record's " +
         std::to_string(file.crc32) +
         " (a save cut short between the two renames, or another run's field or record)";
}

// Every process reads its block, adding up the checksum as it goes. Returns 0, an errno value or
// SHORT_TRANSFER.
int read_field(const std::string& path, const FieldFile& file, double** T, const Block& block,
               BlockChecksum& sum) {
  // Non-blocking: a FIFO put in the file's place after rank 0 looked at it must not hang the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  const int error = read_block(fd, file.data_offset, T, block, sum);
  ::close(fd);
  return error;
}

}  // namespace

std::string inspect_field_file(const std::string& path, FieldFile& file) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return quoted_path(path) + ": " + in_words(errno);
  if (S_ISDIR(info.st_mode)) return quoted_path(path) + " is a folder, not a .npy file";
  if (!S_ISREG(info.st_mode))
    return quoted_path(path) + " is " + file_kind(info.st_mode) + ", not a regular file";
  int error = 0;
  const std::string start = read_start(path, 12, error);
  if (error != 0) return quoted_path(path) + ": " + in_words(error);
  const std::size_t length = npy_header_length(start);
  if (length == 0) return quoted_path(path) + " is not a NumPy .npy file";
  if (length > LONGEST_HEADER)
    return quoted_path(path) + " has a .npy header too long to be a field's";
  NpyLayout layout;
  std::string problem = parse_npy_header(read_start(path, length, error), layout);
  if (problem.empty()) problem = check_field_layout(layout);
  if (!problem.empty()) return quoted_path(path) + ": " + problem;
  if (layout.shape[0] > INT_MAX || layout.shape[1] > INT_MAX) {
    return quoted_path(path) + " holds a " + shape_text(layout.shape[0], layout.shape[1]) +
           " field, larger than heat2d-study takes";
  }
  // The first and last rows are held and the side columns copy their neighbours: a field of
  // fewer than three of either never changes, and heat2d-study never writes one.
  if (layout.shape[0] < 3 || layout.shape[1] < 3) {
    return quoted_path(path) + " holds a " + shape_text(layout.shape[0], layout.shape[1]) +
           " field: a field has at least 3 x 3 values (held first and last rows with a row "
           "between them, insulated side columns with a column between them)";
  }
  const double needed = layout.data_offset + 8.0 * layout.shape[0] * layout.shape[1];
  const double size = static_cast<double>(info.st_size);
  if (size != needed) {
    std::ostringstream text;
    text.precision(15);
    text << quoted_path(path) << (size < needed ? " is cut short: " : " is longer than its field: ")
         << size << " bytes, where a " << shape_text(layout.shape[0], layout.shape[1])
         << " float64 field takes " << needed;
    return text.str();
  }
  file.rows = static_cast<int>(layout.shape[0]);
  file.cols = static_cast<int>(layout.shape[1]);
  file.data_offset = layout.data_offset;
  return "";
}

std::string read_record(const std::string& path, const FieldFile& file, FieldRecord& record) {
  const std::string name = record_path(path);
  std::string text;
  std::string problem = record_file_text(name, text);
  if (!problem.empty()) return problem;
  problem = parse_record(text, record);
  if (!problem.empty()) return "the record " + quoted_path(name) + " is damaged: " + problem;
  if (record.rows != file.rows || record.cols != file.cols) {
    return "the record " + quoted_path(name) + " describes a " +
           shape_text(record.rows, record.cols) + " field, but " + quoted_path(path) + " holds " +
           shape_text(file.rows, file.cols);
  }
  return "";
}

std::string load_field(const std::string& path, const FieldFile& file, double** T,
                       const Block& block, MPI_Comm comm) {
  BlockChecksum sum(block);
  const int error = read_field(path, file, T, block, sum);
  std::string problem =
      error == 0 ? ""
      : error == SHORT_TRANSFER
          ? quoted_path(path) + " could not be read in full: it is shorter than its header says"
          : quoted_path(path) + " could not be read: " + in_words(error);
  problem = first_problem(problem, comm);
  if (!problem.empty()) return problem;
  if (file.has_crc32) {
    problem = first_problem(checksum_problem(path, file, sum, comm), comm);
    if (!problem.empty()) return problem;
  }

  // The first cell, in the file's order, that is not finite.
  long long first = LLONG_MAX;
  for (int i = 0; i < block.rows && first == LLONG_MAX; ++i) {
    for (int j = 0; j < block.cols; ++j) {
      if (!std::isfinite(T[i][j])) {
        first = static_cast<long long>(block.first_row + i) * file.cols + block.first_col + j;
        break;
      }
    }
  }
  MPI_Allreduce(MPI_IN_PLACE, &first, 1, MPI_LONG_LONG, MPI_MIN, comm);
  if (first == LLONG_MAX) return "";
  return quoted_path(path) + " holds a value that is not finite (NaN or infinity) at row " +
         std::to_string(first / file.cols) + ", column " + std::to_string(first % file.cols);
}
