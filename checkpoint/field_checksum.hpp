// The CRC-32 of a saved field's .npy file, computed from the blocks the processes hold.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/block.hpp"

// One process's share of the CRC-32 (zlib's: the one gzip, PNG and Python's zlib.crc32 give) of
// the file that holds a header and then the block's grid row by row, each process's block at its
// place: added up from the block's rows as they are written or read,
// in order, while they are still in the cache.
class BlockChecksum {
 public:
  explicit BlockChecksum(const Block& block);

  // The block's next row, of block.cols values.
  void add_row(const double* row);

  // Collective over `comm`, once every row is added. The file's CRC-32 on rank 0, which gives the
  // header; other ranks get their own share, which means nothing.
  std::uint32_t file_crc32(const std::string& header, MPI_Comm comm) const;

 private:
  std::uint64_t row_gap_;      // bytes of other blocks between two rows of this one in the file
  std::uint64_t after_block_;  // bytes of the field after this block's last value
  std::uint64_t field_bytes_;
  std::size_t row_bytes_;
  unsigned long to_next_row_ = 0;  // zlib's operator that appends row_gap_ zero bytes
  bool started_ = false;
  std::uint32_t remainder_ = 0;
};

// Collective over `comm`: the CRC-32 of the file holding `header` and the field of which each
// process holds its block (block.rows rows of T), on rank 0; the bytes a save writes, or a
// restart has read.
std::uint32_t field_crc32(const std::string& header, double** T, const Block& block,
                          MPI_Comm comm);
