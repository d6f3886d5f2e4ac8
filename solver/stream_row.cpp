// One row of the update written past the caches, for layers too large to stay in them.
#include "solver/stream_row.hpp"

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

double cell(const double* up, const double* centre, const double* down, int j, double rx,
            double ry) {
  return update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
}

// Every store covers a whole aligned 32-byte piece, the first and the last included: a cache line
// written partly by ordinary stores and partly by streamed ones costs a read of memory.
__attribute__((target("avx2"))) void stream_row_avx2(double* out, const double* up,
                                                     const double* centre, const double* down,
                                                     int sizeY, double rx, double ry) {
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d vrx = _mm256_set1_pd(rx);
  const __m256d vry = _mm256_set1_pd(ry);
  // Cells 0 to 3, the left edge among them, as one piece.
  alignas(32) double piece[4] = {centre[1], cell(up, centre, down, 1, rx, ry),
                                 cell(up, centre, down, 2, rx, ry),
                                 cell(up, centre, down, 3, rx, ry)};
  _mm256_stream_pd(out, _mm256_load_pd(piece));
  int j = 4;
  for (; j + 8 <= sizeY - 1; j += 8) {
    _mm_prefetch(reinterpret_cast<const char*>(down + j + PREFETCH_AHEAD), _MM_HINT_T0);
    _mm256_stream_pd(out + j, four_cells(up, centre, down, j, two, vrx, vry));
    _mm256_stream_pd(out + j + 4, four_cells(up, centre, down, j + 4, two, vrx, vry));
  }
  for (; j + 4 <= sizeY - 1; j += 4) {
    _mm256_stream_pd(out + j, four_cells(up, centre, down, j, two, vrx, vry));
  }
  // The rest, the right edge last: one piece when it makes one, else cell by cell.
  const int rest = sizeY - j;
  for (int k = 0; k < rest; ++k) {
    piece[k] = k == rest - 1 ? centre[sizeY - 2] : cell(up, centre, down, j + k, rx, ry);
  }
  if (rest == 4) {
    _mm256_stream_pd(out + j, _mm256_load_pd(piece));
  } else {
    for (int k = 0; k < rest; ++k) out[j + k] = piece[k];
  }
}

}  // namespace

bool stream_row(double* out, const double* up, const double* centre, const double* down,
                const int& sizeY, const double& rx, const double& ry) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (!avx2 || sizeY < 8 || reinterpret_cast<std::uintptr_t>(out) % 32 != 0) return false;
  stream_row_avx2(out, up, centre, down, sizeY, rx, ry);
  return true;
}

void finish_streaming() {
  _mm_sfence();
}

#else

bool stream_row(double*, const double*, const double*, const double*, const int&, const double&,
                const double&) {
  return false;
}

void finish_streaming() {}

#endif
