// Part of a row of the update written past the caches, for layers too large to stay in them.
#include "solver/stream_span.hpp"

#include <cstdint>

#include "solver/update_cell.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace {

// Rows are allocated separately, and the hardware prefetcher stops at every 4 KiB page, so the one
// row that comes from memory (`down`) is fetched this many doubles ahead.
constexpr int PREFETCH_AHEAD = 256;

// Four cells at a time with the same IEEE operations in the same order as update_cell.
__attribute__((target("avx2"))) inline __m256d four_cells(const double* up, const double* centre,
                                                          const double* down, int j, __m256d two,
                                                          __m256d rx, __m256d ry) {
  const __m256d c = _mm256_loadu_pd(centre + j);
  const __m256d twice = _mm256_mul_pd(two, c);
  const __m256d vertical =
      _mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(up + j), twice), _mm256_loadu_pd(down + j));
  const __m256d partial = _mm256_add_pd(_mm256_mul_pd(rx, vertical), c);
  const __m256d horizontal = _mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(centre + j - 1), twice),
                                           _mm256_loadu_pd(centre + j + 1));
  return _mm256_add_pd(partial, _mm256_mul_pd(ry, horizontal));
}

struct Row {
  const double* up;
  const double* centre;
  const double* down;
  int width;
  bool left_side;
  bool right_side;
  double rx;
  double ry;

  // One cell: an insulated side cell copies its inner neighbour, any other is updated.
  double cell(int j) const {
    if (j == 0 && left_side) return centre[1];
    if (j == width - 1 && right_side) return centre[width - 2];
    return update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
};

// Cells [j, end) of at most one piece, assembled one by one: streamed when they make a whole piece,
// else stored plainly.
__attribute__((target("avx2"))) void assembled_piece(double* out, const Row& row, int j, int end) {
  alignas(32) double piece[4];
  for (int k = j; k < end; ++k) piece[k - j] = row.cell(k);
  if (end - j == 4) {
    _mm256_stream_pd(out + j, _mm256_load_pd(piece));
  } else {
    for (int k = j; k < end; ++k) out[k] = piece[k - j];
  }
}

// The pieces between the insulated side cells go through the vector loop; the first piece of a row
// that starts at the left side, and what is left at the end (at most four cells, the right side
// cell among them), are assembled.
__attribute__((target("avx2"))) void stream_span_avx2(double* out, const Row& row, int begin,
                                                      int end) {
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d vrx = _mm256_set1_pd(row.rx);
  const __m256d vry = _mm256_set1_pd(row.ry);
  int j = begin;
  if (begin == 0 && row.left_side) {
    assembled_piece(out, row, 0, 4);
    j = 4;
  }
  const int limit = end == row.width && row.right_side ? row.width - 1 : end;
  for (; j + 8 <= limit; j += 8) {
    _mm_prefetch(reinterpret_cast<const char*>(row.down + j + PREFETCH_AHEAD), _MM_HINT_T0);
    _mm256_stream_pd(out + j, four_cells(row.up, row.centre, row.down, j, two, vrx, vry));
    _mm256_stream_pd(out + j + 4, four_cells(row.up, row.centre, row.down, j + 4, two, vrx, vry));
  }
  for (; j + 4 <= limit; j += 4) {
    _mm256_stream_pd(out + j, four_cells(row.up, row.centre, row.down, j, two, vrx, vry));
  }
  assembled_piece(out, row, j, end);
}

}  // namespace

bool stream_span(double* out, const double* up, const double* centre, const double* down, int begin,
                 int end, int width, bool left_side, bool right_side, double rx, double ry) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const bool on_pieces = begin % 4 == 0 && (end == width || end % 4 == 0);
  if (!avx2 || width < 8 || !on_pieces || begin >= end ||
      reinterpret_cast<std::uintptr_t>(out) % 32 != 0) {
    return false;
  }
  stream_span_avx2(out, Row{up, centre, down, width, left_side, right_side, rx, ry}, begin, end);
  return true;
}

void finish_streaming() {
  _mm_sfence();
}

#else

bool stream_span(double*, const double*, const double*, const double*, int, int, int, bool, bool,
                 double, double) {
  return false;
}

void finish_streaming() {}

#endif
