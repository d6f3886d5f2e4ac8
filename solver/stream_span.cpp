// The update of a span with 256-bit stores past the caches, for layers too large to stay in them.
#include "solver/stream_span.hpp"

#include <cstdint>

#include "solver/cached_span.hpp"
#include "solver/update_cell.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace {

// The hardware prefetcher stops at every 4 KiB page, so the one row that comes from memory
// (`down`) is fetched this many doubles ahead.
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

// One cell: an insulated side cell copies its inner neighbour, any other is updated.
struct Cells {
  const RowSet& row;
  const Span& span;
  const Scheme& scheme;

  double operator()(int j) const {
    const double* centre = row.centre;
    if (j == span.begin && span.left_side) return centre[j + 1];
    if (j == span.end - 1 && span.right_side) return centre[j - 1];
    return update_cell(row.up[j], centre[j], row.down[j], centre[j - 1], centre[j + 1], scheme.rx,
                       scheme.ry);
  }
};

// Cells [j, end) of at most one piece, assembled one by one: streamed when they make a whole piece,
// else stored plainly.
__attribute__((target("avx2"))) void assembled_piece(double* out, const Cells& cell, int j,
                                                     int end) {
  alignas(32) double piece[4];
  for (int k = j; k < end; ++k) piece[k - j] = cell(k);
  if (end - j == 4) {
    _mm256_stream_pd(out + j, _mm256_load_pd(piece));
  } else {
    for (int k = j; k < end; ++k) out[k] = piece[k - j];
  }
}

// The pieces between the insulated side cells go through the vector loop; the first piece of a span
// that starts at the left side, and what is left at the end (at most four cells, the right side
// cell among them), are assembled.
__attribute__((target("avx2"))) void stream_span_avx2(const RowSet& row, const Span& span,
                                                      const Scheme& scheme) {
  const Cells cell{row, span, scheme};
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d rx = _mm256_set1_pd(scheme.rx);
  const __m256d ry = _mm256_set1_pd(scheme.ry);
  const double* up = row.up;
  const double* centre = row.centre;
  const double* down = row.down;
  int j = span.begin;
  if (span.left_side) {
    assembled_piece(row.out, cell, j, j + 4);
    j += 4;
  }
  const int limit = span.end - span.right_side;
  for (; j + 8 <= limit; j += 8) {
    _mm_prefetch(reinterpret_cast<const char*>(down + j + PREFETCH_AHEAD), _MM_HINT_T0);
    _mm256_stream_pd(row.out + j, four_cells(up, centre, down, j, two, rx, ry));
    _mm256_stream_pd(row.out + j + 4, four_cells(up, centre, down, j + 4, two, rx, ry));
  }
  for (; j + 4 <= limit; j += 4) {
    _mm256_stream_pd(row.out + j, four_cells(up, centre, down, j, two, rx, ry));
  }
  assembled_piece(row.out, cell, j, span.end);
}

// Spans that can go past the caches do; the rest take the cached loop.
__attribute__((target("avx2"))) inline void streamed_span(const RowSet& row, const Span& span,
                                                          const Scheme& scheme) {
  if (span.end - span.begin < 8 || span.begin % 4 != 0 ||
      reinterpret_cast<std::uintptr_t>(row.out) % 32 != 0) {
    cached_span(row, span, scheme);
    return;
  }
  stream_span_avx2(row, span, scheme);
}

__attribute__((target("avx2"))) void streamed_span_call(const RowSet& row, const Span& span,
                                                        const Scheme& scheme) {
  streamed_span(row, span, scheme);
}

__attribute__((target("avx2"))) void streamed_strip(double** T0, double** T1, int sizeX, int sizeY,
                                                    const StripEdges& edges, const Scheme& scheme) {
  update_strip<streamed_span>(T0, T1, sizeX, sizeY, edges, scheme);
}

}  // namespace

SpanKernel streamed_avx2_kernel() {
  return {streamed_span_call, streamed_strip, true, "avx2, streamed"};
}

#else

SpanKernel streamed_avx2_kernel() {
  return {};
}

#endif
