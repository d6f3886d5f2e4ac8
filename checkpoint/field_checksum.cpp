// The CRC-32 of a saved field's .npy file, computed from the blocks the processes hold.
#include "checkpoint/field_checksum.hpp"

#include <zlib.h>

#include "checkpoint/crc32.hpp"

namespace {

static_assert(sizeof(z_off_t) >= 8, "zlib must take offsets of files larger than 2 GiB");

constexpr std::uint32_t ALL_BITS = 0xffffffffU;

// A CRC is the remainder of the message, as a polynomial over GF(2), with its first 32 bits
// flipped, and is flipped again at the end. Without the flips it is linear: the remainder of a
// file is the XOR of the remainders of its pieces, each followed by the zeros up to the file's
// end. So every process can add up its own rows, wherever they lie, and rank 0 the rest.
std::uint32_t remainder_after(std::uint32_t remainder, const void* bytes, std::size_t length) {
  return crc32_update(remainder ^ ALL_BITS, bytes, length) ^ ALL_BITS;
}

// The remainder followed by `zeros` zero bytes; zlib's combination does exactly that, in a few
// dozen operations whatever the number of zeros.
std::uint32_t shifted(std::uint32_t remainder, std::uint64_t zeros) {
  if (zeros == 0) return remainder;
  return static_cast<std::uint32_t>(crc32_combine(remainder, 0, static_cast<z_off_t>(zeros)));
}

}  // namespace

BlockChecksum::BlockChecksum(const Block& block) {
  const std::uint64_t value = sizeof(double);
  const std::uint64_t ny = block.grid.ny;
  field_bytes_ = static_cast<std::uint64_t>(block.grid.nx) * ny * value;
  row_gap_ = (ny - block.cols) * value;
  const std::uint64_t end_of_block =
      (static_cast<std::uint64_t>(block.first_row + block.rows - 1) * ny + block.first_col +
       block.cols) *
      value;
  after_block_ = field_bytes_ - end_of_block;
  row_bytes_ = static_cast<std::size_t>(block.cols) * sizeof(double);
#if ZLIB_VERNUM >= 0x12c0
  to_next_row_ = crc32_combine_gen(static_cast<z_off_t>(row_gap_));
#endif
}

void BlockChecksum::add_row(const double* row) {
  // Rows as wide as the field follow one another in the file, with nothing between them.
  if (started_ && row_gap_ > 0) {
#if ZLIB_VERNUM >= 0x12c0
    remainder_ = static_cast<std::uint32_t>(crc32_combine_op(remainder_, 0, to_next_row_));
#else
    remainder_ = shifted(remainder_, row_gap_);
#endif
  }
  remainder_ = remainder_after(remainder_, row, row_bytes_);
  started_ = true;
}

std::uint32_t BlockChecksum::file_crc32(const std::string& header, MPI_Comm comm) const {
  std::uint32_t share = shifted(remainder_, after_block_);
  std::uint32_t all = 0;
  MPI_Reduce(&share, &all, 1, MPI_UINT32_T, MPI_BXOR, 0, comm);
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  if (rank != 0) return share;
  std::uint32_t file =
      all ^ shifted(remainder_after(0, header.data(), header.size()), field_bytes_);
  // The flip of the first 32 bits, carried to the end of the file, and the flip at the end.
  file ^= shifted(ALL_BITS, header.size() + field_bytes_);
  return file ^ ALL_BITS;
}

std::uint32_t field_crc32(const std::string& header, double** T, const Block& block,
                          MPI_Comm comm) {
  BlockChecksum sum(block);
  for (int i = 0; i < block.rows; ++i) sum.add_row(T[i]);
  return sum.file_crc32(header, comm);
}
