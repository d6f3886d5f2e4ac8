// The CRC-32 of a saved field's .npy file, computed from the blocks the processes hold.
#include "checkpoint/field_checksum.hpp"

#include <zlib.h>

namespace {

static_assert(sizeof(z_off_t) >= 8, "zlib must take offsets of files larger than 2 GiB");

constexpr uLong ALL_BITS = 0xffffffffUL;

// A CRC is the remainder of the message, as a polynomial over GF(2), with its first 32 bits
// flipped, and is flipped again at the end. Without the flips it is linear: the remainder of a
// file is the XOR of the remainders of its pieces, each followed by the zeros up to the file's
// end. So every process can add up its own rows, wherever they lie, and rank 0 the rest.
uLong remainder_after(uLong remainder, const void* bytes, std::size_t length) {
  return crc32_z(remainder ^ ALL_BITS, static_cast<const Bytef*>(bytes), length) ^ ALL_BITS;
}

// The remainder followed by `zeros` zero bytes; zlib's combination does exactly that.
class ZeroShift {
 public:
  explicit ZeroShift(z_off_t zeros) : zeros_(zeros) {
#if ZLIB_VERNUM >= 0x12c0
    op_ = crc32_combine_gen(zeros);
#endif
  }
  uLong operator()(uLong remainder) const {
    if (zeros_ == 0) return remainder;
#if ZLIB_VERNUM >= 0x12c0
    return crc32_combine_op(remainder, 0, op_);
#else
    return crc32_combine(remainder, 0, zeros_);
#endif
  }

 private:
  z_off_t zeros_;
  uLong op_ = 0;
};

}  // namespace

std::uint32_t field_crc32(const std::string& header, double** T, const Block& block,
                          const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y,
                          MPI_Comm comm) {
  const z_off_t value = sizeof(double);
  const z_off_t field_bytes = static_cast<z_off_t>(NUMBER_OF_NODES_X) * NUMBER_OF_NODES_Y * value;
  // From one row of the block to the next, the other blocks' values in between.
  const ZeroShift to_next_row((NUMBER_OF_NODES_Y - block.cols) * value);
  uLong mine = 0;
  for (int i = 0; i < block.rows; ++i) {
    if (i > 0) mine = to_next_row(mine);
    mine = remainder_after(mine, T[i], block.cols * sizeof(double));
  }
  const z_off_t end_of_block =
      (static_cast<z_off_t>(block.first_row + block.rows - 1) * NUMBER_OF_NODES_Y +
       block.first_col + block.cols) *
      value;
  mine = ZeroShift(field_bytes - end_of_block)(mine);

  std::uint32_t share = static_cast<std::uint32_t>(mine);
  std::uint32_t all = 0;
  MPI_Reduce(&share, &all, 1, MPI_UINT32_T, MPI_BXOR, 0, comm);
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  if (rank != 0) return share;
  uLong file = all ^ ZeroShift(field_bytes)(remainder_after(0, header.data(), header.size()));
  // The flip of the first 32 bits, carried to the end of the file, and the flip at the end.
  file ^= ZeroShift(static_cast<z_off_t>(header.size()) + field_bytes)(ALL_BITS);
  return static_cast<std::uint32_t>(file ^ ALL_BITS);
}
