// The update of a span eight cells at a time, for processors with AVX-512.
#include "solver/wide_span.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "solver/cached_span.hpp"

// GCC 12 takes the undefined vector that _mm512_alignr_epi64 starts from for an uninitialised one.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr int LANES = 8;

// The hardware prefetcher stops at every 4 KiB page, so the one row a streamed sweep brings from
// memory (`down`) is fetched this many doubles ahead.
constexpr int PREFETCH_AHEAD = 256;

__attribute__((target("avx512f"))) inline __m512d shifted(__m512d high, __m512d low, int count) {
  // Lanes count..7 of `low`, then 0..count-1 of `high`: the row moved by `count` cells.
  const __m512i h = _mm512_castpd_si512(high);
  const __m512i l = _mm512_castpd_si512(low);
  return _mm512_castsi512_pd(count == 1 ? _mm512_alignr_epi64(h, l, 1)
                                        : _mm512_alignr_epi64(h, l, 7));
}

// The new values of the eight cells whose current values are `c`, between the pieces `previous`
// and `next` of the same row, and `up` and `down` of the rows above and below.
__attribute__((target("avx512f"))) inline __m512d piece(__m512d previous, __m512d c, __m512d next,
                                                        __m512d up, __m512d down, __m512d two,
                                                        __m512d rx, __m512d ry) {
  const __m512d twice = _mm512_mul_pd(two, c);
  const __m512d vertical = _mm512_add_pd(_mm512_sub_pd(up, twice), down);
  const __m512d partial = _mm512_add_pd(_mm512_mul_pd(rx, vertical), c);
  const __m512d horizontal =
      _mm512_add_pd(_mm512_sub_pd(shifted(c, previous, 7), twice), shifted(next, c, 1));
  return _mm512_add_pd(partial, _mm512_mul_pd(ry, horizontal));
}

// Lanes [low, high) of a piece.
__attribute__((target("avx512f"))) inline __mmask8 lanes(int low, int high) {
  return static_cast<__mmask8>((0xff << low) & (0xff >> (LANES - high)));
}

// Cells [first, last) in pieces of eight from the piece that holds `first` to the one that holds
// last - 1; the lanes of the first and last pieces outside the span are computed but not stored.
// Whole pieces go past the caches when Stream (the caller has checked that `out` starts on a
// cache line).
template <bool Stream>
__attribute__((target("avx512f"), always_inline)) inline void wide_cells(const RowSet& row,
                                                                         int first, int last,
                                                                         const Scheme& s) {
  double* __restrict out = row.out;
  const double* __restrict up = row.up;
  const double* __restrict centre = row.centre;
  const double* __restrict down = row.down;
  // Known only at run time, so the compiler keeps the multiplication by two.
  __m512d two = _mm512_set1_pd(2.0);
  asm("" : "+v"(two));
  const __m512d rx = _mm512_set1_pd(s.rx);
  const __m512d ry = _mm512_set1_pd(s.ry);
  int j = first >= 0 ? first / LANES * LANES : -((LANES - 1 - first) / LANES * LANES);
  __m512d previous = _mm512_loadu_pd(centre + j - LANES);
  __m512d c = _mm512_loadu_pd(centre + j);
  for (; j < last; j += LANES) {
    if (Stream) _mm_prefetch(reinterpret_cast<const char*>(down + j + PREFETCH_AHEAD), _MM_HINT_T0);
    const __m512d next = _mm512_loadu_pd(centre + j + LANES);
    const __m512d result =
        piece(previous, c, next, _mm512_loadu_pd(up + j), _mm512_loadu_pd(down + j), two, rx, ry);
    if (j >= first && j + LANES <= last) {
      if (Stream) {
        _mm512_stream_pd(out + j, result);
      } else {
        _mm512_storeu_pd(out + j, result);
      }
    } else {
      _mm512_mask_storeu_pd(out + j, lanes(std::max(0, first - j), std::min(LANES, last - j)),
                            result);
    }
    previous = c;
    c = next;
  }
}

template <bool Stream>
__attribute__((target("avx512f"))) inline void wide(const RowSet& row, const Span& span,
                                                    const Scheme& scheme) {
  const int first = span.begin + span.left_side;
  const int last = span.end - span.right_side;
  if (last - first < LANES) {
    cached_span(row, span, scheme);
    return;
  }
  if (Stream && reinterpret_cast<std::uintptr_t>(row.out) % 64 == 0) {
    wide_cells<true>(row, first, last, scheme);
  } else {
    wide_cells<false>(row, first, last, scheme);
  }
  if (span.left_side) row.out[span.begin] = row.centre[span.begin + 1];
  if (span.right_side) row.out[span.end - 1] = row.centre[span.end - 2];
}

__attribute__((target("avx512f"))) void cached_call(const RowSet& row, const Span& span,
                                                    const Scheme& scheme) {
  wide<false>(row, span, scheme);
}

__attribute__((target("avx512f"))) void streamed_call(const RowSet& row, const Span& span,
                                                      const Scheme& scheme) {
  wide<true>(row, span, scheme);
}

__attribute__((target("avx512f"))) void cached_strip(double** T0, double** T1, int sizeX, int sizeY,
                                                     const StripEdges& edges,
                                                     const Scheme& scheme) {
  update_strip<wide<false>>(T0, T1, sizeX, sizeY, edges, scheme);
}

__attribute__((target("avx512f"))) void streamed_strip(double** T0, double** T1, int sizeX,
                                                       int sizeY, const StripEdges& edges,
                                                       const Scheme& scheme) {
  update_strip<wide<true>>(T0, T1, sizeX, sizeY, edges, scheme);
}

}  // namespace

SpanKernel wide_kernel() {
  return {cached_call, cached_strip, false, "avx512"};
}

SpanKernel streamed_wide_kernel() {
  return {streamed_call, streamed_strip, true, "avx512, streamed"};
}

#else

SpanKernel wide_kernel() {
  return {};
}

SpanKernel streamed_wide_kernel() {
  return {};
}

#endif
