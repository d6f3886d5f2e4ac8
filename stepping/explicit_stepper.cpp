// The explicit update of a block: one step at a time, or in passes of several steps over ghost
// zones as deep, with the halo exchanged once per pass.
#include "stepping/explicit_stepper.hpp"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "common/allocate_field.hpp"
#include "solver/team.hpp"
#include "solver/tiled_pass.hpp"
#include "solver/update_region.hpp"

namespace {

// Seconds from a steady clock: MPI's is not there before MPI starts (the unit tests advance blocks
// without it).
double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
  const int begin = std::min(block.cols, block.on_edge(Side::left) ? 0 : LINE_CELLS);
  const int end =
      block.on_edge(Side::right) ? block.cols : (block.cols - 1) / LINE_CELLS * LINE_CELLS;
  return {1, block.rows - 1, begin, std::max(begin, end)};
}

}  // namespace

ExplicitStepper::ExplicitStepper(const Block& block, const Scheme& scheme,
                                 const ExplicitConfig& config)
    : block_(block), scheme_(scheme), config_(config) {
  const Cpu cpu = this_cpu();
  const bool stream = streams(config.stores, block.rows, block.cols);
  single_ = choose_span_kernel(cpu, stream, true, block.cols);
  tiled_ = choose_span_kernel(cpu, false, true, config.passes.tile_width);
  team_.threads = config.passes.threads;
}

double ExplicitStepper::memory_bytes() const {
  return 2.0 * block_bytes(block_);
}

bool ExplicitStepper::allocate() {
  try {
    T0_ = allocate_block(block_, 0);
    T1_ = allocate_block(block_, 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The team is as large as OpenMP makes it, which may be fewer threads than were asked for.
  team_.threads = touch_rows(block_.allocated(), team_.threads, {T0_, T1_});
  team_.cells.assign(team_.threads, 0);
  return true;
}

// One step of `region`, its rows shared among the threads.
void ExplicitStepper::sweep(const Region& region) {
  if (team_.threads == 1) {
    update_region(T0_, T1_, block_, region, scheme_, single_);
    team_.cells[0] += region.cells();
    return;
  }
#pragma omp parallel num_threads(team_.threads)
  {
    const int thread = thread_number();
    Region mine = region;
    share(region.row_begin, region.rows(), thread, team_size(), mine.row_begin, mine.row_end);
    update_region(T0_, T1_, block_, mine, scheme_, single_);
    team_.cells[thread] += mine.cells();
  }
}

void ExplicitStepper::count_exchange(int depth) {
  const ExchangeVolume volume = exchange_volume(block_, depth);
  counts_.messages += volume.messages;
  counts_.bytes += volume.bytes;
}

// The edge columns of inner rows [first, last), beside the neighbours' ghost columns.
void ExplicitStepper::update_edge_columns(const Region& inner, int first, int last) {
  if (first >= last) return;
  sweep({first, last, 0, inner.col_begin});
  sweep({first, last, inner.col_end, block_.cols});
}

// The inner cells in bands of rows, with a look at the messages after each: MPI moves a message
// too large to go at once only while the process is inside an MPI call. Once the ghost columns
// are in, the edge columns of the bands done so far follow while their rows are still in the
// cache, and later bands are done whole; only what is left waits for the end.
void ExplicitStepper::overlapped_step() {
  const int rows = block_.rows;
  const int cols = block_.cols;
  double start = now();
  start_exchange(block_, halo_, T0_);
  counts_.exchange_seconds += now() - start;

  const Region inner = inner_cells(block_);
  const int band =
      std::max({1, BAND_CELLS / std::max(1, cols), (inner.rows() + MOST_BANDS - 1) / MOST_BANDS});
  bool columns_in = false;
  int edges_done = inner.row_begin;  // inner rows before this one have their edge columns
  for (int first = inner.row_begin; first < inner.row_end; first += band) {
    const int last = std::min(inner.row_end, first + band);
    sweep({first, last, columns_in ? 0 : inner.col_begin, columns_in ? cols : inner.col_end});
    if (columns_in) edges_done = last;
    start = now();
    progress_exchange(halo_);
    columns_in = columns_in || columns_arrived(halo_);
    counts_.exchange_seconds += now() - start;
    if (columns_in) {
      update_edge_columns(inner, edges_done, last);
      edges_done = last;
    }
  }

  start = now();
  finish_exchange(halo_);
  counts_.exchange_seconds += now() - start;

  sweep({0, 1, 0, cols});
  update_edge_columns(inner, edges_done, inner.row_end);
  sweep({rows - 1, rows, 0, cols});
}

// One step; a single process exchanges nothing, so it reads no clock for it either.
void ExplicitStepper::single_step() {
  if (block_.has_neighbours()) {
    count_exchange(1);
    if (config_.exchange == Exchange::overlap) {
      overlapped_step();
      return;
    }
    const double start = now();
    exchange_halo(block_, halo_, T0_, 1);
    counts_.exchange_seconds += now() - start;
  }
  sweep(block_.owned());
}

// `steps` steps over ghost zones as deep, exchanged first (the blocking order would send large
// messages one direction at a time); the tiles keep the rows in the cache.
void ExplicitStepper::fused_pass(int steps) {
  if (block_.has_neighbours()) {
    count_exchange(steps);
    const double start = now();
    exchange_halo_both_ways(block_, halo_, T0_, steps);
    counts_.exchange_seconds += now() - start;
  }
  double** const layer[2] = {T0_, T1_};
  tiled_pass(layer, block_, scheme_, config_.passes, steps, tiled_, team_);
}

std::string ExplicitStepper::advance(int /*done*/, int steps) {
  const double start = now();
  const double exchange_before = counts_.exchange_seconds;
  while (steps > 0) {
    const int pass = std::min(steps, config_.passes.pass_length);
    if (pass == 1) {
      single_step();
    } else {
      fused_pass(pass);
    }
    // The pass leaves its last step in the layer of its parity.
    if (pass % 2 == 1) std::swap(T0_, T1_);
    counts_.steps += pass;
    steps -= pass;
  }
  counts_.update_seconds += (now() - start) - (counts_.exchange_seconds - exchange_before);
  return "";
}
