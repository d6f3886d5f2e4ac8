// One time step of a block: its edges traded with the blocks around it, then the next layer.
#include "solver/block_step.hpp"

#include <mpi.h>

#include <algorithm>

#include "solver/stores.hpp"
#include "solver/update_strip.hpp"

namespace {

// A rectangle of the block: rows [row_begin, row_end), columns [col_begin, col_end).
struct Cells {
  int row_begin;
  int row_end;
  int col_begin;
  int col_end;
};

// Every cell of `cells`. The arguments are copied into locals first: a store into T1 could
// otherwise alias them, and they would be loaded again for every row.
template <bool Stream>
__attribute__((always_inline)) inline void update_cells(double** T0, double** T1,
                                                        const Block& block, const Scheme& scheme,
                                                        const Cells& cells) {
  const int last_row = block.rows() - 1;
  const int cols = block.cols();
  const int begin = cells.col_begin;
  const int end = cells.col_end;
  const bool top_held = block.top_held;
  const bool bottom_held = block.bottom_held;
  const bool left = block.left_side;
  const bool right = block.right_side;
  const double rx = scheme.rx;
  const double ry = scheme.ry;
  for (int i = cells.row_begin; i < cells.row_end; ++i) {
    if ((i == 0 && top_held) || (i == last_row && bottom_held)) {
      std::copy(T0[i] + begin, T0[i] + end, T1[i] + begin);
    } else {
      update_span<Stream>(T1[i], T0[i - 1], T0[i], T0[i + 1], begin, end, cols, left, right, rx,
                          ry);
    }
  }
}

// A whole block as wide as the grid is a strip: heat2d's strip update, whose rows need no case
// analysis of their ends, with the held rows copying themselves.
template <bool Stream>
__attribute__((always_inline)) inline void update_whole(double** T0, double** T1,
                                                        const Block& block, const Scheme& scheme,
                                                        const Cells& cells) {
  const int rows = block.rows();
  const bool strip = block.left_side && block.right_side && cells.row_begin == 0 &&
                     cells.row_end == rows && cells.col_begin == 0 && cells.col_end == block.cols();
  if (!strip) {
    update_cells<Stream>(T0, T1, block, scheme, cells);
    return;
  }
  const double* ghost_top = block.top_held ? T0[0] : T0[-1];
  const double* ghost_bottom = block.bottom_held ? T0[rows - 1] : T0[rows];
  update_strip<Stream>(T0, T1, rows, block.cols(), ghost_top, ghost_bottom, scheme.rx, scheme.ry,
                       block.top_held, block.bottom_held);
}

// Compiled for AVX2 as well, like heat2d's compute, and picked at load time.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__)
__attribute__((target_clones("avx2", "default")))
#endif
void update(double** T0, double** T1, const Block& block, const Scheme& scheme, const Cells& cells,
            bool stream) {
  if (stream) {
    update_whole<true>(T0, T1, block, scheme, cells);
    finish_streaming();
  } else {
    update_whole<false>(T0, T1, block, scheme, cells);
  }
}

double seconds_since(double start) {
  return MPI_Wtime() - start;
}

// About a quarter of a million cells between two looks at the messages in flight, and no more
// than eight looks a step: each costs a call into MPI and the fence that orders streamed stores.
constexpr int BAND_CELLS = 1 << 18;
constexpr int MOST_BANDS = 8;

// Cells in a cache line: spans that start and end on one keep streamed rows whole lines.
constexpr int LINE_CELLS = 8;

// The cells that need nothing from a neighbour: the inner rows, and of those the columns away from
// a neighbour's side, whole cache lines of them.
Cells inner_cells(const Block& block, const Halo& halo) {
  const int rows = block.rows();
  const int cols = block.cols();
  const int begin = std::min(cols, halo.neighbour[LEFT] != MPI_PROC_NULL ? LINE_CELLS : 0);
  const int end =
      halo.neighbour[RIGHT] != MPI_PROC_NULL ? (cols - 1) / LINE_CELLS * LINE_CELLS : cols;
  return {1, rows - 1, begin, std::max(begin, end)};
}

// The edge columns of inner rows [first, last), beside the neighbours' ghost columns.
void update_edge_columns(double** T0, double** T1, const Block& block, const Scheme& scheme,
                         const Cells& inner, int first, int last, bool stream) {
  if (first >= last) return;
  update(T0, T1, block, scheme, {first, last, 0, inner.col_begin}, stream);
  update(T0, T1, block, scheme, {first, last, inner.col_end, block.cols()}, stream);
}

void overlapped_step(double** T0, double** T1, const Block& block, const Scheme& scheme, Halo& halo,
                     bool stream, double& exchange_seconds) {
  const int rows = block.rows();
  const int cols = block.cols();
  double start = MPI_Wtime();
  start_exchange(halo, T0);
  exchange_seconds += seconds_since(start);

  // The inner cells in bands of rows, with a look at the messages after each: MPI moves a message
  // too large to go at once only while the process is inside an MPI call. Once the ghost columns
  // are in, the edge columns of the bands done so far follow while their rows are still in the
  // cache, and later bands are done whole; only what is left waits for the end.
  const Cells inner = inner_cells(block, halo);
  const int band = std::max({1, BAND_CELLS / std::max(1, cols),
                             (inner.row_end - inner.row_begin + MOST_BANDS - 1) / MOST_BANDS});
  bool columns_in = false;
  int edges_done = inner.row_begin;  // inner rows before this one have their edge columns
  for (int first = inner.row_begin; first < inner.row_end; first += band) {
    const int last = std::min(inner.row_end, first + band);
    if (columns_in) {
      update(T0, T1, block, scheme, {first, last, 0, cols}, stream);
      edges_done = last;
    } else {
      update(T0, T1, block, scheme, {first, last, inner.col_begin, inner.col_end}, stream);
    }
    start = MPI_Wtime();
    progress_exchange(halo);
    columns_in = columns_in || columns_arrived(halo, T0);
    exchange_seconds += seconds_since(start);
    if (columns_in) {
      update_edge_columns(T0, T1, block, scheme, inner, edges_done, last, stream);
      edges_done = last;
    }
  }

  start = MPI_Wtime();
  finish_exchange(halo, T0);
  exchange_seconds += seconds_since(start);

  update(T0, T1, block, scheme, {0, 1, 0, cols}, stream);
  update_edge_columns(T0, T1, block, scheme, inner, edges_done, inner.row_end, stream);
  update(T0, T1, block, scheme, {rows - 1, rows, 0, cols}, stream);
}

}  // namespace

Scheme make_scheme(const double& dx, const double& dy, const double& dt) {
  Scheme scheme;
  scheme.rx = dt / (dx * dx);
  scheme.ry = dt / (dy * dy);
  return scheme;
}

void block_step(double** T0, double** T1, const Block& block, const Scheme& scheme, Halo& halo,
                Exchange exchange, double& exchange_seconds) {
  const bool stream = streams(2.0 * block.rows() * block.cols() * sizeof(double));
  const Cells all = {0, block.rows(), 0, block.cols()};
  // A single process trades nothing, so it reads no clock either.
  if (!has_neighbours(halo)) {
    update(T0, T1, block, scheme, all, stream);
    return;
  }
  if (exchange == Exchange::overlap) {
    overlapped_step(T0, T1, block, scheme, halo, stream, exchange_seconds);
    return;
  }
  const double start = MPI_Wtime();
  exchange_edges(halo, T0);
  exchange_seconds += seconds_since(start);
  update(T0, T1, block, scheme, all, stream);
}
