// A block of the field moved between memory and its place in a file that every process opens, with
// positioned reads and writes.
//
// Plain positioned I/O rather than MPI-IO: Open MPI 4.1's MPI-IO opens a shared file pointer with
// every file, whatever the hints and the mode (a named semaphore in /dev/shm, files in its session
// folder and beside the file), which a process killed at the wrong moment leaves behind, and its
// collective writes copy every byte once more on the way. Explicit offsets need neither.
#include "checkpoint/field_io.hpp"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace {

// Rows a call moves at most: few enough that their checksum finds them still in the L2 cache.
constexpr std::size_t BATCH_BYTES = 512 * 1024;

// The whole of `parts` moved at `offset`, however many calls it takes.
int transfer(int fd, std::vector<iovec>& parts, off_t offset, bool writing) {
  std::size_t first = 0;
  while (first < parts.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(parts.size() - first, IOV_MAX));
    const ssize_t moved = writing ? ::pwritev(fd, &parts[first], count, offset)
                                  : ::preadv(fd, &parts[first], count, offset);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return errno;
    if (moved == 0) return writing ? EIO : SHORT_TRANSFER;
    offset += moved;
    for (std::size_t left = static_cast<std::size_t>(moved); left > 0;) {
      const std::size_t taken = std::min(left, parts[first].iov_len);
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + taken;
      parts[first].iov_len -= taken;
      left -= taken;
      if (parts[first].iov_len == 0) ++first;
    }
  }
  return 0;
}

int transfer_block(int fd, std::size_t offset, double** T, const Block& block,
                   BlockChecksum& sum, bool writing) {
  const int NY = block.grid.ny;
  const std::size_t row_bytes = static_cast<std::size_t>(block.cols) * sizeof(double);
  // Rows as wide as the field lie one after another in the file; a narrower block's do not.
  const std::size_t per_call =
      block.cols == NY ? std::max<std::size_t>(1, BATCH_BYTES / row_bytes) : 1;
  std::vector<iovec> parts;
  for (int first = 0; first < block.rows; first += static_cast<int>(per_call)) {
    const int end = std::min(block.rows, first + static_cast<int>(per_call));
    parts.clear();
    for (int i = first; i < end; ++i) parts.push_back({T[i], row_bytes});
    if (writing) {
      for (int i = first; i < end; ++i) sum.add_row(T[i]);
    }
    const off_t at = static_cast<off_t>(
        offset + (static_cast<std::size_t>(block.first_row + first) * NY + block.first_col) *
                     sizeof(double));
    const int error = transfer(fd, parts, at, writing);
    if (error != 0) return error;
    if (!writing) {
      for (int i = first; i < end; ++i) sum.add_row(T[i]);
    }
  }
  return 0;
}

}  // namespace

int write_block(int fd, std::size_t offset, double** T, const Block& block, BlockChecksum& sum) {
  return transfer_block(fd, offset, T, block, sum, true);
}

int read_block(int fd, std::size_t offset, double** T, const Block& block, BlockChecksum& sum) {
  return transfer_block(fd, offset, T, block, sum, false);
}

int write_at(int fd, const std::string& bytes, std::size_t offset) {
  std::vector<iovec> parts{{const_cast<char*>(bytes.data()), bytes.size()}};
  return transfer(fd, parts, static_cast<off_t>(offset), true);
}
