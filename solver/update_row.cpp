// One row of the explicit update: the kernel of every time step.
#include "solver/update_row.hpp"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HEAT2D_X86_64 1
#endif

namespace {

// The scheme's order of operations, one cell; every path below evaluates exactly this. (The
// compiler may compute 2.0 * c as c + c: both are exact, so the bits are the same.)
inline double cell(const double* up, const double* centre, const double* down, int j, double rx,
                   double ry) {
  const double c = centre[j];
  const double partial = rx * ((up[j] - 2.0 * c) + down[j]) + c;
  return partial + ry * ((centre[j - 1] - 2.0 * c) + centre[j + 1]);
}

// Portable path: a branch-free loop the compiler vectorises.
void update_inner(double* __restrict out, const double* __restrict up,
                  const double* __restrict centre, const double* __restrict down, int sizeY,
                  double rx, double ry) {
  for (int j = 1; j < sizeY - 1; ++j) out[j] = cell(up, centre, down, j, rx, ry);
}

#ifdef HEAT2D_X86_64
// Rows are allocated separately, and the hardware prefetcher stops at every 4 KiB page, so the one
// row that comes from memory (`down`) is fetched this many doubles ahead.
constexpr int PREFETCH_AHEAD = 256;

// Four cells at a time with the same IEEE operations in the same order as `cell`; with `stream`,
// aligned stores that bypass the caches, so writing the next layer costs no read of it first.
__attribute__((target("avx2"))) void update_inner_avx2(double* out, const double* up,
                                                       const double* centre, const double* down,
                                                       int sizeY, double rx, double ry,
                                                       bool stream) {
  int j = 1;
  for (; j < sizeY - 1 && reinterpret_cast<std::uintptr_t>(out + j) % 32 != 0; ++j) {
    out[j] = cell(up, centre, down, j, rx, ry);
  }
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d vrx = _mm256_set1_pd(rx);
  const __m256d vry = _mm256_set1_pd(ry);
  for (; j + 4 <= sizeY - 1; j += 4) {
    _mm_prefetch(reinterpret_cast<const char*>(down + j + PREFETCH_AHEAD), _MM_HINT_T0);
    const __m256d c = _mm256_loadu_pd(centre + j);
    const __m256d twice = _mm256_mul_pd(two, c);
    const __m256d vertical =
        _mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(up + j), twice), _mm256_loadu_pd(down + j));
    const __m256d partial = _mm256_add_pd(_mm256_mul_pd(vrx, vertical), c);
    const __m256d horizontal = _mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(centre + j - 1), twice),
                                             _mm256_loadu_pd(centre + j + 1));
    const __m256d value = _mm256_add_pd(partial, _mm256_mul_pd(vry, horizontal));
    if (stream) {
      _mm256_stream_pd(out + j, value);
    } else {
      _mm256_store_pd(out + j, value);
    }
  }
  for (; j < sizeY - 1; ++j) out[j] = cell(up, centre, down, j, rx, ry);
}

bool has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#endif

}  // namespace

void update_row(double* out, const double* up, const double* centre, const double* down,
                const int& sizeY, const double& rx, const double& ry, bool stream) {
#ifdef HEAT2D_X86_64
  if (has_avx2()) {
    update_inner_avx2(out, up, centre, down, sizeY, rx, ry, stream);
  } else {
    update_inner(out, up, centre, down, sizeY, rx, ry);
  }
#else
  (void)stream;
  update_inner(out, up, centre, down, sizeY, rx, ry);
#endif
  out[0] = centre[1];
  out[sizeY - 1] = centre[sizeY - 2];
}

void finish_streaming() {
#ifdef HEAT2D_X86_64
  _mm_sfence();
#endif
}
