// Layers first touched by the threads that work on their rows.
#include "solver/team.hpp"

#include <algorithm>

int touch_rows(const Region& all, int threads, std::initializer_list<double**> layers) {
  int obtained = 1;
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    if (thread_number() == 0) obtained = team_size();
    int begin = 0;
    int end = 0;
    share(all.row_begin, all.rows(), thread_number(), team_size(), begin, end);
    for (double** T : layers) {
      if (T == nullptr) continue;
      for (int i = begin; i < end; ++i) std::fill(T[i] + all.col_begin, T[i] + all.col_end, 0.0);
    }
  }
  return obtained;
}
