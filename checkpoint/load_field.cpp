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

#include "checkpoint/field_io.hpp"
#include "checkpoint/npy_header.hpp"
#include "checkpoint/save_field.hpp"
#include "common/agreement.hpp"

namespace {

// A header is a few hundred bytes; NumPy refuses ones beyond this too.
constexpr std::size_t LONGEST_HEADER = 64 * 1024;

std::string read_start(const std::string& path, std::size_t length, int& error) {
  std::string bytes(length, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

}  // namespace

std::string inspect_field_file(const std::string& path, FieldFile& file) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return path + ": " + in_words(errno);
  if (S_ISDIR(info.st_mode)) return path + " is a folder, not a .npy file";
  if (!S_ISREG(info.st_mode)) return path + " is not a regular file";
  int error = 0;
  const std::string start = read_start(path, 12, error);
  if (error != 0) return path + ": " + in_words(error);
  const std::size_t length = npy_header_length(start);
  if (length == 0) return path + " is not a NumPy .npy file";
  if (length > LONGEST_HEADER) return path + " has a .npy header too long to be a field's";
  NpyLayout layout;
  std::string problem = parse_npy_header(read_start(path, length, error), layout);
  if (problem.empty()) problem = check_field_layout(layout);
  if (!problem.empty()) return path + ": " + problem;
  if (layout.shape[0] > INT_MAX || layout.shape[1] > INT_MAX) {
    return path + " holds a " + shape_text(layout.shape[0], layout.shape[1]) +
           " field, larger than heat2d-study takes";
  }
  const double needed = layout.data_offset + 8.0 * layout.shape[0] * layout.shape[1];
  const double size = static_cast<double>(info.st_size);
  if (size != needed) {
    std::ostringstream text;
    text.precision(15);
    text << path << (size < needed ? " is cut short: " : " is longer than its field: ") << size
         << " bytes, where a " << shape_text(layout.shape[0], layout.shape[1])
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
  std::ifstream stream(name, std::ios::binary);
  if (!stream) {
    return "the record " + name + " cannot be read (" + in_words(errno) +
           "): a restart needs the record that heat2d-study writes beside every saved field";
  }
  std::ostringstream text;
  text << stream.rdbuf();
  const std::string problem = parse_record(text.str(), record);
  if (!problem.empty()) return "the record " + name + " is damaged: " + problem;
  if (record.rows != file.rows || record.cols != file.cols) {
    return "the record " + name + " describes a " + shape_text(record.rows, record.cols) +
           " field, but " + path + " holds " + shape_text(file.rows, file.cols);
  }
  return "";
}

std::string load_field(const std::string& path, const FieldFile& file, double** T,
                       const Block& block, MPI_Comm comm) {
  MPI_File handle;
  int code =
      MPI_File_open(comm, const_cast<char*>(path.c_str()), MPI_MODE_RDONLY, MPI_INFO_NULL, &handle);
  std::string problem = first_problem(code == MPI_SUCCESS ? "" : path + " cannot be opened", comm);
  if (!problem.empty()) {
    if (code == MPI_SUCCESS) MPI_File_close(&handle);
    return problem;
  }
  code = read_block(comm, handle, file.data_offset, T, block, file.cols);
  MPI_File_close(&handle);
  problem = first_problem(code == MPI_SUCCESS ? "" : path + " could not be read in full", comm);
  if (!problem.empty()) return problem;

  // The first cell, in the file's order, that is not finite.
  long long first = LLONG_MAX;
  for (int i = 0; i < block.rows() && first == LLONG_MAX; ++i) {
    for (int j = 0; j < block.cols(); ++j) {
      if (!std::isfinite(T[i][j])) {
        first = static_cast<long long>(block.row_begin + i) * file.cols + block.col_begin + j;
        break;
      }
    }
  }
  MPI_Allreduce(MPI_IN_PLACE, &first, 1, MPI_LONG_LONG, MPI_MIN, comm);
  if (first == LLONG_MAX) return "";
  return path + " holds a value that is not finite (NaN or infinity) at row " +
         std::to_string(first / file.cols) + ", column " + std::to_string(first % file.cols);
}
