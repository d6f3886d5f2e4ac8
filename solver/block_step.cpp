// One time step of a block: its edges traded with the blocks around it, then the next layer.
#include "solver/block_step.hpp"

#include <mpi.h>

#include <algorithm>

#include "solver/stores.hpp"
#include "solver/update_span.hpp"

namespace {

// A rectangle of the block: rows [row_begin, row_end), columns [col_begin, col_end).
struct Cells {
  int row_begin;
  int row_end;
  int col_begin;
  int col_end;
};

template <bool Stream>
__attribute__((always_inline)) inline void update_cells(double** T0, double** T1,
                                                        const Block& block, const Scheme& scheme,
                                                        const Cells& cells) {
  const int rows = block.rows();
  const int cols = block.cols();
  for (int i = cells.row_begin; i < cells.row_end; ++i) {
    const bool held = (i == 0 && block.top_held) || (i == rows - 1 && block.bottom_held);
    if (held) {
      std::copy(T0[i] + cells.col_begin, T0[i] + cells.col_end, T1[i] + cells.col_begin);
    } else {
      update_span<Stream>(T1[i], T0[i - 1], T0[i], T0[i + 1], cells.col_begin, cells.col_end, cols,
                          block.left_side, block.right_side, scheme.rx, scheme.ry);
    }
  }
}

// Compiled for AVX2 as well, like heat2d's compute, and picked at load time.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__)
__attribute__((target_clones("avx2", "default")))
#endif
void update(double** T0, double** T1, const Block& block, const Scheme& scheme, const Cells& cells,
            bool stream) {
  if (stream) {
    update_cells<true>(T0, T1, block, scheme, cells);
    finish_streaming();
  } else {
    update_cells<false>(T0, T1, block, scheme, cells);
  }
}

double seconds_since(double start) {
  return MPI_Wtime() - start;
}

// The cells that need nothing from a neighbour: the inner rows, and of those the columns away from
// a neighbour's side. The columns stop on 32-byte pieces, so that streamed rows stay whole pieces.
Cells inner_cells(const Block& block, const Halo& halo) {
  const int rows = block.rows();
  const int cols = block.cols();
  const int begin = std::min(cols, halo.neighbour[LEFT] != MPI_PROC_NULL ? 4 : 0);
  const int end = halo.neighbour[RIGHT] != MPI_PROC_NULL ? (cols - 1) / 4 * 4 : cols;
  return {1, rows - 1, begin, std::max(begin, end)};
}

void overlapped_step(double** T0, double** T1, const Block& block, const Scheme& scheme, Halo& halo,
                     bool stream, double& exchange_seconds) {
  const int rows = block.rows();
  const int cols = block.cols();
  double start = MPI_Wtime();
  start_exchange(halo, T0);
  exchange_seconds += seconds_since(start);

  const Cells inner = inner_cells(block, halo);
  update(T0, T1, block, scheme, inner, stream);

  start = MPI_Wtime();
  finish_exchange(halo, T0);
  exchange_seconds += seconds_since(start);

  update(T0, T1, block, scheme, {0, 1, 0, cols}, stream);
  update(T0, T1, block, scheme, {inner.row_begin, inner.row_end, 0, inner.col_begin}, stream);
  update(T0, T1, block, scheme, {inner.row_begin, inner.row_end, inner.col_end, cols}, stream);
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
