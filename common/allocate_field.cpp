// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#include "common/allocate_field.hpp"

#include <cmath>
#include <cstddef>
#include <new>

namespace {

constexpr std::size_t LINE_DOUBLES = ROW_ALIGNMENT / sizeof(double);

// Rows of a large field start at staggered offsets within a memory page (by a cache line more
// each, in a cycle of 61), so that a row of one layer and the same row of the other, which the
// update reads and writes side by side, do not fall on the same page offset: the processor
// checks loads against pending stores by their low 12 address bits, and such pairs would stall
// every load. Small fields, which stay in the cache, are faster without it.
constexpr double STAGGERED_FIELD_BYTES = 16.0 * 1024 * 1024;
constexpr std::size_t STAGGER_CYCLE = 61;

bool staggered(const int& rows, const int& cols) {
  return static_cast<double>(rows) * cols * sizeof(double) > STAGGERED_FIELD_BYTES;
}

// `count` rows of `lead` + `cols` + `trail` doubles, each pointer at its row's cell `lead`, which
// starts a cache line.
double** allocate_rows(int count, int cols, std::size_t lead, std::size_t trail, bool stagger) {
  static std::size_t staggered_rows = 0;
  double** rows = new double*[count];
  for (int i = 0; i < count; ++i) {
    const std::size_t skew = stagger ? (staggered_rows++ % STAGGER_CYCLE) * LINE_DOUBLES : 0;
    rows[i] =
        new (std::align_val_t{ROW_ALIGNMENT}) double[skew + lead + cols + trail]() + skew + lead;
  }
  return rows;
}

double rows_bytes(double count, int cols, std::size_t extra, bool stagger) {
  const double lines =
      std::ceil((cols + extra) * sizeof(double) / static_cast<double>(ROW_ALIGNMENT)) +
      (stagger ? STAGGER_CYCLE - 1 : 0);
  return count * (lines * ROW_ALIGNMENT + sizeof(double*));
}

}  // namespace

double field_bytes(const int& rows, const int& cols) {
  return rows_bytes(rows, cols, 0, staggered(rows, cols));
}

double** allocate_field(const int& rows, const int& cols) {
  return allocate_rows(rows, cols, 0, 0, staggered(rows, cols));
}

// The left ghost cell is the last of a whole cache line before the row, so that cell 0 stays
// aligned.
double block_bytes(const int& rows, const int& cols) {
  return rows_bytes(rows + 2.0, cols, LINE_DOUBLES + 1, staggered(rows, cols));
}

double** allocate_block(const int& rows, const int& cols) {
  return allocate_rows(rows + 2, cols, LINE_DOUBLES, 1, staggered(rows, cols)) + 1;
}
