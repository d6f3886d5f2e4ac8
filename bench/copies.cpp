// Plain copies of a field from one layer to the other: the memory floor the update is measured
// against. The fastest of them on a machine is the floor there.
#include "copies.hpp"

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

void copy_streaming(double** from, double** to, int rows, int cols) {
#if defined(__x86_64__) && defined(__GNUC__)
  // Rows start on cache lines (allocate_field), so two doubles at a time are always aligned.
  for (int i = 0; i < rows; ++i) {
    int j = 0;
    for (; j + 2 <= cols; j += 2) _mm_stream_pd(to[i] + j, _mm_load_pd(from[i] + j));
    if (j < cols) to[i][j] = from[i][j];
  }
  _mm_sfence();
#else
  copy_loop(from, to, rows, cols);
#endif
}
