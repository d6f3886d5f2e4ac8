// Plain copies of a field from one layer to the other: the memory floor the update is measured
// against. The fastest of them on a machine is the floor there.
#include "copies.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void copy_loop(double** from,
                                                                             double** to, int rows,
                                                                             int cols) {
  for (int i = 0; i < rows; ++i) {
    const double* __restrict source = from[i];
    double* __restrict target = to[i];
    for (int j = 0; j < cols; ++j) target[j] = source[j];
  }
}

void copy_memcpy(double** from, double** to, int rows, int cols) {
  for (int i = 0; i < rows; ++i) std::memcpy(to[i], from[i], cols * sizeof(double));
}

#if defined(__x86_64__) && defined(__GNUC__)
// Whole cache lines of 32-byte streamed stores, with the same prefetch across page boundaries as
// the update's streamed rows, so that the floor is as fast as a copy gets here.
__attribute__((target("avx2"))) void copy_streaming_avx2(double** from, double** to, int rows,
                                                         int cols) {
  for (int i = 0; i < rows; ++i) {
    const double* source = from[i];
    double* target = to[i];
    int j = 0;
    for (; j + 8 <= cols; j += 8) {
      _mm_prefetch(reinterpret_cast<const char*>(source + j + 256), _MM_HINT_T0);
      _mm256_stream_pd(target + j, _mm256_load_pd(source + j));
      _mm256_stream_pd(target + j + 4, _mm256_load_pd(source + j + 4));
    }
    for (; j < cols; ++j) target[j] = source[j];
  }
  _mm_sfence();
}
#endif

void copy_streaming(double** from, double** to, int rows, int cols) {
#if defined(__x86_64__) && defined(__GNUC__)
  // Rows start on cache lines (allocate_field); the copy needs 32-byte alignment and AVX2.
  bool aligned = __builtin_cpu_supports("avx2");
  for (int i = 0; i < rows && aligned; ++i) {
    aligned = reinterpret_cast<std::uintptr_t>(from[i]) % 32 == 0 &&
              reinterpret_cast<std::uintptr_t>(to[i]) % 32 == 0;
  }
  if (aligned) {
    copy_streaming_avx2(from, to, rows, cols);
    return;
  }
#endif
  copy_loop(from, to, rows, cols);
}
