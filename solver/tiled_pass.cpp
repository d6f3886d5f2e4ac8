// Several steps of a block in one pass over memory: tiles of columns, each advanced through every
// step of the pass while its rows are in the cache.
#include "solver/tiled_pass.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "solver/update_block_row.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

struct Pass {
  double** layer[2];
  const Block& block;
  const Scheme& scheme;
  const SpanKernel& kernel;
  int steps;
  std::vector<Region> levels;  // the cells of each step, from 1
  const PassPlan& plan;
  int first_position;  // of the wavefront, the row of step 1
  int last_position;
};

int tiles(const Pass& pass) {
  return static_cast<int>(pass.plan.tile_starts.size());
}

void columns_of(const Pass& pass, int t, int level, int& begin, int& end) {
  tile_columns(pass.plan, pass.levels[level], level, t, begin, end);
}

void pause() {
#if defined(__x86_64__)
  _mm_pause();
#endif
}

// Spins briefly, then yields: on an oversubscribed machine the tile being waited for may need
// this very core.
void wait_for(const std::atomic<int>& done, int needed) {
  for (int spins = 0; done.load(std::memory_order_acquire) < needed; ++spins) {
    if (spins < 256) {
      pause();
    } else {
      std::this_thread::yield();
    }
  }
}

// Positions a tile stays behind the one before it: one would do for the values, but this many
// lets the prefetch below find the lines that the tile before wrote already written.
constexpr int TRAIL = 4;

// Positions the prefetch runs ahead of the wavefront: enough for memory to answer, few enough that
// the rows arrive in the L2 cache after the ones in use there have been read.
constexpr int PREFETCH_POSITIONS = 2;

// Asks for the lines of cells [begin, end) of `row` to be brought into the L2 cache. Inlined: a
// function that only prefetches looks free of effects to the compiler, which would drop the call.
__attribute__((always_inline)) inline void prefetch(const double* row, int begin, int end) {
  for (int j = begin; j < end; j += 8) __builtin_prefetch(row + j, 0, 2);
}

// What step `level` of tile t reads from memory PREFETCH_POSITIONS positions on: at step 1 the
// new row of the field and the row it writes, which no step of this pass has touched yet; at
// every step the line left of its span, which the tile before wrote long ago.
__attribute__((always_inline)) inline void prefetch_ahead(const Pass& pass, int t, int s,
                                                          int level) {
  const int i = s + PREFETCH_POSITIONS - (level - 1);
  const Region& region = pass.levels[level];
  if (i < region.row_begin || i >= region.row_end) return;
  int begin = 0;
  int end = 0;
  columns_of(pass, t, level, begin, end);
  if (begin >= end) return;
  const double* const* from = pass.layer[(level - 1) % 2];
  __builtin_prefetch(from[i] + begin - 1, 0, 3);
  if (level == 1) {
    prefetch(from[i + 1], begin, end + 1);
    prefetch(pass.layer[1][i], begin, end);
  }
}

// Tile t, position by position; `before` counts the positions the tile to its left has finished
// (null for the first tile). Returns the cells computed.
long long run_tile(const Pass& pass, int t, const std::atomic<int>* before,
                   std::atomic<int>& done) {
  long long cells = 0;
  const int positions = pass.last_position - pass.first_position + 1;
  for (int s = pass.first_position; s <= pass.last_position; ++s) {
    const int finished = s - pass.first_position;
    if (before != nullptr) wait_for(*before, std::min(positions, finished + TRAIL));
    for (int level = 1; level <= pass.steps; ++level) {
      prefetch_ahead(pass, t, s, level);
      const int i = s - (level - 1);
      const Region& region = pass.levels[level];
      if (i < region.row_begin || i >= region.row_end) continue;
      int begin = 0;
      int end = 0;
      columns_of(pass, t, level, begin, end);
      if (begin >= end) continue;
      update_block_row(pass.layer[(level - 1) % 2], pass.layer[level % 2], pass.block, i, begin,
                       end, pass.scheme, pass.kernel);
      cells += end - begin;
    }
    done.store(finished + 1, std::memory_order_release);
  }
  return cells;
}

}  // namespace

void tiled_pass(double** const (&layer)[2], const Block& block, const Scheme& scheme,
                const PassPlan& plan, int steps, const SpanKernel& kernel, Team& team) {
  Pass pass{{layer[0], layer[1]}, block, scheme, kernel, steps, {Region{}}, plan, 0, 0};
  for (int level = 1; level <= steps; ++level) {
    pass.levels.push_back(level_region(block, steps, level));
  }
  pass.first_position = pass.levels[1].row_begin;
  pass.last_position = pass.levels[1].row_end - 1 + steps - 1;

  const int count = tiles(pass);
  std::unique_ptr<std::atomic<int>[]> done(new std::atomic<int>[count]);
  for (int t = 0; t < count; ++t) done[t].store(0, std::memory_order_relaxed);
#pragma omp parallel num_threads(team.threads) if (team.threads > 1)
  {
    // Each tile waits only for the one before it, which another thread has taken earlier in turn,
    // so the threads never wait on each other in a circle.
    const int thread = thread_number();
    long long cells = 0;
    for (int t = thread; t < count; t += team_size()) {
      cells += run_tile(pass, t, t == 0 ? nullptr : &done[t - 1], done[t]);
    }
    team.cells[thread] += cells;
  }
}
