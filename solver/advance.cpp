// A block advanced through the steps between two the caller writes: one step at a time, or in
// passes of several steps over ghost zones as deep, with the edges traded once per pass.
#include "solver/advance.hpp"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "solver/tiled_pass.hpp"
#include "solver/update_region.hpp"

namespace {

// Seconds from a steady clock: MPI's is not there before MPI starts (the unit tests advance blocks
// without it).
double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long cells(const Region& region) {
  return region.empty() ? 0 : static_cast<long long>(region.rows()) * region.cols();
}

// One step of `region`, its rows shared among the threads.
void sweep(Stepper& s, const Region& region, bool stream) {
  Team& team = s.team;
  if (team.threads == 1) {
    update_region(s.T0, s.T1, s.block, region, s.scheme, stream);
    team.cells[0] += cells(region);
    return;
  }
#pragma omp parallel num_threads(team.threads)
  {
    const int thread = thread_number();
    Region mine = region;
    share(region.row_begin, region.rows(), thread, team_size(), mine.row_begin, mine.row_end);
    update_region(s.T0, s.T1, s.block, mine, s.scheme, stream);
    team.cells[thread] += cells(mine);
  }
}

void count_trade(Stepper& s, int depth) {
  const TradeVolume volume = trade_volume(s.halo, depth);
  s.counts.messages += volume.messages;
  s.counts.bytes += volume.bytes;
}

// About a quarter of a million cells between two looks at the messages in flight, and no more
// than eight looks a step: each costs a call into MPI and the fence that orders streamed stores.
constexpr int BAND_CELLS = 1 << 18;
constexpr int MOST_BANDS = 8;

// Cells in a cache line: spans that start and end on one keep streamed rows whole lines.
constexpr int LINE_CELLS = 8;

// The cells that need nothing from a neighbour: the inner rows, and of those the columns away from
// a neighbour's side, whole cache lines of them.
Region inner_cells(const Block& block) {
  const int rows = block.rows();
  const int cols = block.cols();
  const int begin = std::min(cols, block.left_side ? 0 : LINE_CELLS);
  const int end = block.right_side ? cols : (cols - 1) / LINE_CELLS * LINE_CELLS;
  return {1, rows - 1, begin, std::max(begin, end)};
}

// The edge columns of inner rows [first, last), beside the neighbours' ghost columns.
void update_edge_columns(Stepper& s, const Region& inner, int first, int last) {
  if (first >= last) return;
  sweep(s, {first, last, 0, inner.col_begin}, s.stream);
  sweep(s, {first, last, inner.col_end, s.block.cols()}, s.stream);
}

// The inner cells in bands of rows, with a look at the messages after each: MPI moves a message
// too large to go at once only while the process is inside an MPI call. Once the ghost columns
// are in, the edge columns of the bands done so far follow while their rows are still in the
// cache, and later bands are done whole; only what is left waits for the end.
void overlapped_step(Stepper& s) {
  const int rows = s.block.rows();
  const int cols = s.block.cols();
  double start = now();
  start_exchange(s.halo, s.T0);
  s.counts.exchange_seconds += now() - start;

  const Region inner = inner_cells(s.block);
  const int band =
      std::max({1, BAND_CELLS / std::max(1, cols), (inner.rows() + MOST_BANDS - 1) / MOST_BANDS});
  bool columns_in = false;
  int edges_done = inner.row_begin;  // inner rows before this one have their edge columns
  for (int first = inner.row_begin; first < inner.row_end; first += band) {
    const int last = std::min(inner.row_end, first + band);
    sweep(s, {first, last, columns_in ? 0 : inner.col_begin, columns_in ? cols : inner.col_end},
          s.stream);
    if (columns_in) edges_done = last;
    start = now();
    progress_exchange(s.halo);
    columns_in = columns_in || columns_arrived(s.halo);
    s.counts.exchange_seconds += now() - start;
    if (columns_in) {
      update_edge_columns(s, inner, edges_done, last);
      edges_done = last;
    }
  }

  start = now();
  finish_exchange(s.halo);
  s.counts.exchange_seconds += now() - start;

  sweep(s, {0, 1, 0, cols}, s.stream);
  update_edge_columns(s, inner, edges_done, inner.row_end);
  sweep(s, {rows - 1, rows, 0, cols}, s.stream);
}

// One step; a single process trades nothing, so it reads no clock for it either.
void single_step(Stepper& s) {
  const Region all = {0, s.block.rows(), 0, s.block.cols()};
  if (has_neighbours(s.halo)) {
    count_trade(s, 1);
    if (s.exchange == Exchange::overlap) {
      overlapped_step(s);
      return;
    }
    const double start = now();
    exchange_edges(s.halo, s.T0, 1);
    s.counts.exchange_seconds += now() - start;
  }
  sweep(s, all, s.stream);
}

// `steps` steps over ghost zones as deep, traded first (the blocking order would send large
// messages one direction at a time); the tiles keep the rows in the cache.
void fused_pass(Stepper& s, int steps) {
  if (has_neighbours(s.halo)) {
    count_trade(s, steps);
    const double start = now();
    exchange_zones(s.halo, s.T0, steps);
    s.counts.exchange_seconds += now() - start;
  }
  double** const layer[2] = {s.T0, s.T1};
  tiled_pass(layer, s.block, s.scheme, {steps, s.tile_width}, s.team);
}

}  // namespace

bool allocate_layers(Stepper& s) {
  const BlockShape shape = s.halo.shape;
  try {
    s.T0 = allocate_block(shape, 0);
    s.T1 = allocate_block(shape, 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The team is as large as OpenMP makes it, which may be fewer threads than were asked for.
  const int g = shape.ghost;
  int obtained = 1;
#pragma omp parallel num_threads(s.team.threads) if (s.team.threads > 1)
  {
    if (thread_number() == 0) obtained = team_size();
    int begin = 0;
    int end = 0;
    share(-g, shape.rows + 2 * g, thread_number(), team_size(), begin, end);
    for (double** T : {s.T0, s.T1}) {
      for (int i = begin; i < end; ++i) std::fill(T[i] - g, T[i] + shape.cols + g, 0.0);
    }
  }
  s.team.threads = obtained;
  s.team.cells.assign(obtained, 0);
  return true;
}

void advance(Stepper& s, int steps) {
  const double start = now();
  const double exchange_before = s.counts.exchange_seconds;
  while (steps > 0) {
    const int pass = std::min(steps, s.fuse);
    if (pass == 1) {
      single_step(s);
    } else {
      fused_pass(s, pass);
    }
    // The pass leaves its last step in the layer of its parity.
    if (pass % 2 == 1) std::swap(s.T0, s.T1);
    s.counts.steps += pass;
    steps -= pass;
  }
  s.counts.update_seconds += (now() - start) - (s.counts.exchange_seconds - exchange_before);
}
