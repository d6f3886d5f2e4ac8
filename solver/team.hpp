// The threads of one process, and the cells each has computed.
#pragma once

#include <initializer_list>
#include <vector>

#include "common/region.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

struct Team {
  int threads = 1;
  std::vector<long long> cells = std::vector<long long>(1, 0);  // by thread number
};

inline int thread_number() {
#if defined(_OPENMP)
  return omp_get_thread_num();
#else
  return 0;
#endif
}

inline int team_size() {
#if defined(_OPENMP)
  return omp_get_num_threads();
#else
  return 1;
#endif
}

// The part [begin, end) of `count` items from `first` that thread `thread` of `threads` takes:
// consecutive runs, as even as they can be.
inline void share(int first, int count, int thread, int threads, int& begin, int& end) {
  begin = first + static_cast<int>(static_cast<long long>(count) * thread / threads);
  end = first + static_cast<int>(static_cast<long long>(count) * (thread + 1) / threads);
}

// Zeroes the cells of `all` in each layer (null ones skipped), every row by the thread that will
// work on it, so that its pages lie near that thread's core. Returns the threads OpenMP gave,
// which may be fewer than `threads`.
int touch_rows(const Region& all, int threads, std::initializer_list<double**> layers);
