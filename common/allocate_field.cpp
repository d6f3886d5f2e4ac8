// Allocation of a field (an array of row pointers, each row an array of doubles of its own) and of
// a layer of a block (its rows in one piece, with its ring of ghost cells).
#include "common/allocate_field.hpp"

#include <cmath>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

constexpr std::ptrdiff_t LINE_DOUBLES = ROW_ALIGNMENT / sizeof(double);
constexpr std::size_t PAGE_BYTES = 4096;
constexpr std::size_t HUGE_PAGE_BYTES = 2 << 20;

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

std::ptrdiff_t whole_lines(std::ptrdiff_t doubles) {
  return (doubles + LINE_DOUBLES - 1) / LINE_DOUBLES * LINE_DOUBLES;
}

// Ghost cells before column 0, rounded up to whole lines so that column 0 starts one.
std::ptrdiff_t lead(const Block& block) {
  return whole_lines(block.ghost);
}

}  // namespace

// The cycle runs on from one field to the next, so that the second layer's rows are staggered
// against the first's. Fields are allocated before any thread starts.
double** allocate_field(const int& rows, const int& cols) {
  static std::size_t staggered_rows = 0;
  const bool stagger = staggered(rows, cols);
  double** field = new double*[rows];
  for (int i = 0; i < rows; ++i) {
    const std::size_t skew = stagger ? (staggered_rows++ % STAGGER_CYCLE) * LINE_DOUBLES : 0;
    field[i] = new (std::align_val_t{ROW_ALIGNMENT}) double[skew + cols]() + skew;
  }
  return field;
}

double field_bytes(const int& rows, const int& cols) {
  const double lines = std::ceil(cols * sizeof(double) / static_cast<double>(ROW_ALIGNMENT)) +
                       (staggered(rows, cols) ? STAGGER_CYCLE - 1 : 0);
  return rows * (lines * ROW_ALIGNMENT + sizeof(double*));
}

std::ptrdiff_t row_stride(const Block& block) {
  const std::ptrdiff_t lines = whole_lines(lead(block) + block.cols + block.ghost) / LINE_DOUBLES;
  return (lines | 1) * LINE_DOUBLES;
}

// Cells in huge pages where the kernel has them: passes of several steps touch a few dozen rows at
// a time, each on pages of its own, and with 4 KiB pages their translations would not all fit
// the processor's first-level table. Asked for (the kernel may keep its small pages), and only for
// layers of several huge pages, where the rounding up wastes little.
double* allocate_cells(std::size_t doubles) {
  const std::size_t bytes = doubles * sizeof(double);
  if (bytes < 8 * HUGE_PAGE_BYTES) return new (std::align_val_t{PAGE_BYTES}) double[doubles];
  const std::size_t rounded = (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
  double* cells = new (std::align_val_t{HUGE_PAGE_BYTES}) double[rounded / sizeof(double)];
#if defined(MADV_HUGEPAGE)
  madvise(cells, rounded, MADV_HUGEPAGE);
#endif
  return cells;
}

// A line before the first row and after the last, so that the update may read whole vectors a
// little beyond any row.
double** allocate_block(const Block& block, int layer) {
  const std::ptrdiff_t stride = row_stride(block);
  const int count = block.rows + 2 * block.ghost;
  const std::size_t offset = LINE_DOUBLES + (layer == 0 ? 0 : PAGE_BYTES / 2 / sizeof(double));
  double* cells = allocate_cells(offset + count * stride + LINE_DOUBLES);
  double** rows = new double*[count];
  for (int i = 0; i < count; ++i) rows[i] = cells + offset + i * stride + lead(block);
  return rows + block.ghost;
}

double block_bytes(const Block& block) {
  const double count = block.rows + 2.0 * block.ghost;
  return count * (row_stride(block) * sizeof(double) + sizeof(double*)) + 2 * HUGE_PAGE_BYTES;
}
