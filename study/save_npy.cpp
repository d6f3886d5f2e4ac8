// The final field as one NumPy .npy file, written by all processes together with MPI-IO.
#include "study/save_npy.hpp"

#include <fcntl.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "study/npy_header.hpp"
#include "study/on_every_process.hpp"

namespace {

std::string partial(const std::string& path) {
  return path + ".part";
}

// Rank 0's errno, shared with every process; 0 when all is well.
int agree(int error) {
  MPI_Bcast(&error, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return error;
}

std::string mpi_error(int code) {
  char text[MPI_MAX_ERROR_STRING];
  int length = 0;
  MPI_Error_string(code, text, &length);
  return std::string(text, length);
}

// Not an MPI error code: the write returned, but with fewer bytes than asked.
constexpr int SHORT_WRITE = -1;

// What rank 0 says when a process failed: its own reason, or that another process had one.
std::string not_written(const std::string& path, int code) {
  const std::string reason = code == SHORT_WRITE   ? "fewer bytes written than asked (disk full?)"
                             : code != MPI_SUCCESS ? mpi_error(code)
                                                   : "it failed on another process";
  return "--save " + path + " not written: " + reason;
}

// Rows at most this many bytes per collective write: MPI counts are int, and a large strip's
// datatype would otherwise exceed them.
constexpr double BATCH_BYTES = 1 << 30;

// Writes rows [first, first + count) of the strip at their place in the file, from where they lie
// in memory (the rows are allocated one by one), in one collective call.
int write_rows(MPI_File file, MPI_Offset offset, double** T0, int first, int count, int NY) {
  std::vector<MPI_Aint> where(count);
  for (int i = 0; i < count; ++i) MPI_Get_address(T0[first + i], &where[i]);
  MPI_Datatype rows;
  MPI_Type_create_hindexed_block(count, NY, where.data(), MPI_DOUBLE, &rows);
  MPI_Type_commit(&rows);
  MPI_Status status;
  int code = MPI_File_write_at_all(file, offset, MPI_BOTTOM, count > 0 ? 1 : 0, rows, &status);
  MPI_Type_free(&rows);
  // A full disk may give a short write rather than an error.
  MPI_Count written = 0;
  if (code == MPI_SUCCESS) code = MPI_Get_elements_x(&status, MPI_DOUBLE, &written);
  if (code == MPI_SUCCESS && written != static_cast<MPI_Count>(count) * NY) code = SHORT_WRITE;
  return code;
}

}  // namespace

std::string prepare_save(const std::string& path, const int& rank) {
  int error = 0;
  if (rank == 0) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      error = EISDIR;
    } else {
      const int fd = ::open(partial(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      error = fd < 0 ? errno : (::close(fd) == 0 ? 0 : errno);
    }
  }
  error = agree(error);
  return error == 0 ? "" : "cannot write --save " + path + ": " + std::strerror(error);
}

std::string save_npy(const std::string& path, double** T0, const int& sizeX, const int& row_begin,
                     const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank) {
  const std::string header = npy_header(NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y);
  const MPI_Offset row_bytes = static_cast<MPI_Offset>(NUMBER_OF_NODES_Y) * sizeof(double);
  const std::string temporary = partial(path);

  MPI_File file;
  int code = MPI_File_open(MPI_COMM_WORLD, temporary.c_str(), MPI_MODE_WRONLY | MPI_MODE_CREATE,
                           MPI_INFO_NULL, &file);
  // The calls below are collective: either every process goes on to them, or none does.
  if (!on_every_process(code == MPI_SUCCESS)) {
    if (code == MPI_SUCCESS) MPI_File_close(&file);
    abandon_save(path, rank);
    return not_written(path, code);
  }
  // Exactly the header and the field: nothing of an older file may remain past its end.
  code = MPI_File_set_size(file, header.size() + NUMBER_OF_NODES_X * row_bytes);
  if (code == MPI_SUCCESS && rank == 0) {
    MPI_Status status;
    code = MPI_File_write_at(file, 0, header.data(), static_cast<int>(header.size()), MPI_CHAR,
                             &status);
    int written = 0;
    if (code == MPI_SUCCESS) MPI_Get_count(&status, MPI_CHAR, &written);
    if (code == MPI_SUCCESS && written != static_cast<int>(header.size())) code = SHORT_WRITE;
  }
  // Every process makes the same number of collective calls; one with fewer rows writes nothing in
  // the last ones.
  const int batch = std::max(1, static_cast<int>(BATCH_BYTES / row_bytes));
  int batches = (sizeX + batch - 1) / batch;
  MPI_Allreduce(MPI_IN_PLACE, &batches, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  for (int b = 0; b < batches; ++b) {
    const int first = std::min(sizeX, b * batch);
    const int count = std::min(sizeX - first, batch);
    const MPI_Offset offset =
        header.size() + (row_begin + static_cast<MPI_Offset>(first)) * row_bytes;
    const int written = write_rows(file, offset, T0, first, count, NUMBER_OF_NODES_Y);
    if (code == MPI_SUCCESS) code = written;
  }
  const int closed = MPI_File_close(&file);
  if (code == MPI_SUCCESS) code = closed;

  if (!on_every_process(code == MPI_SUCCESS)) {
    abandon_save(path, rank);
    return not_written(path, code);
  }
  int error = 0;
  if (rank == 0) error = std::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
  error = agree(error);
  if (error != 0) {
    abandon_save(path, rank);
    return "--save " + path + " not written: " + std::strerror(error);
  }
  return "";
}

void abandon_save(const std::string& path, const int& rank) {
  if (rank == 0) std::remove(partial(path).c_str());
  MPI_Barrier(MPI_COMM_WORLD);
}
