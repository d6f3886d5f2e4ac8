// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#include "common/allocate_field.hpp"

#include <cmath>
#include <cstddef>
#include <new>

namespace {

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

}  // namespace

double field_bytes(const int& rows, const int& cols) {
  const double lines = std::ceil(cols * sizeof(double) / static_cast<double>(ROW_ALIGNMENT)) +
                       (staggered(rows, cols) ? STAGGER_CYCLE - 1 : 0);
  return static_cast<double>(rows) * (lines * ROW_ALIGNMENT + sizeof(double*));
}

double** allocate_field(const int& rows, const int& cols) {
  static std::size_t staggered_rows = 0;
  const bool stagger = staggered(rows, cols);
  double** field = new double*[rows];
  for (int i = 0; i < rows; ++i) {
    const std::size_t skew =
        stagger ? (staggered_rows++ % STAGGER_CYCLE) * (ROW_ALIGNMENT / sizeof(double)) : 0;
    field[i] = new (std::align_val_t{ROW_ALIGNMENT}) double[cols + skew]() + skew;
  }
  return field;
}
