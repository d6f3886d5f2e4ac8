// Trade of a block's edges with the blocks around it, filling its ghost cells.
#include "solver/halo_exchange.hpp"

#include <initializer_list>

namespace {

// One tag serves every direction: between two blocks only one edge travels each way per trade.
constexpr int EDGE_TAG = 1;

bool is_row(Side side) {
  return side == TOP || side == BOTTOM;
}

bool faces_a_neighbour(const Halo& halo, Side side) {
  return halo.neighbour[side] != MPI_PROC_NULL;
}

// The rows or columns of `side` over the block's extent `size`, the outermost `depth` of the block
// itself (outgoing) or beyond it (incoming).
void edge_range(bool near, int size, int depth, bool incoming, int& begin, int& end) {
  if (near) {
    begin = incoming ? -depth : 0;
  } else {
    begin = incoming ? size : size - depth;
  }
  end = begin + depth;
}

const std::array<MPI_Datatype, SIDES>& types_for(Halo& halo, int depth) {
  auto found = halo.types.find(depth);
  if (found != halo.types.end()) return found->second;
  std::array<MPI_Datatype, SIDES> types;
  const int stride = static_cast<int>(row_stride(halo.shape));
  for (int side = 0; side < SIDES; ++side) {
    const Region cells = edge_cells(halo, static_cast<Side>(side), depth, false);
    MPI_Type_vector(cells.rows(), cells.cols(), stride, MPI_DOUBLE, &types[side]);
    MPI_Type_commit(&types[side]);
  }
  return halo.types.emplace(depth, types).first->second;
}

double* corner(double** T, const Region& cells) {
  return T[cells.row_begin] + cells.col_begin;
}

}  // namespace

Halo make_halo(MPI_Comm comm, const int (&neighbour)[SIDES], const BlockShape& shape) {
  Halo halo;
  halo.comm = comm;
  halo.shape = shape;
  for (int side = 0; side < SIDES; ++side) halo.neighbour[side] = neighbour[side];
  return halo;
}

Region edge_cells(const Halo& halo, Side side, int depth, bool incoming) {
  Region cells{0, halo.shape.rows, 0, halo.shape.cols};
  if (is_row(side)) {
    edge_range(side == TOP, halo.shape.rows, depth, incoming, cells.row_begin, cells.row_end);
    return cells;
  }
  edge_range(side == LEFT, halo.shape.cols, depth, incoming, cells.col_begin, cells.col_end);
  if (depth >= 2) {
    if (faces_a_neighbour(halo, TOP)) cells.row_begin = -depth;
    if (faces_a_neighbour(halo, BOTTOM)) cells.row_end += depth;
  }
  return cells;
}

void exchange_edges(Halo& halo, double** T, int depth) {
  const std::array<MPI_Datatype, SIDES>& types = types_for(halo, depth);
  Trade trades[SIDES];
  for (int s = 0; s < SIDES; ++s) {
    const Side side = static_cast<Side>(s);
    if (!faces_a_neighbour(halo, side)) continue;
    trades[side] = {halo.neighbour[side], corner(T, edge_cells(halo, side, depth, false)),
                    corner(T, edge_cells(halo, side, depth, true)), 1, types[side]};
  }
  trade_in_order(trades, EDGE_TAG, halo.comm);
}

// Posts the receives, then the sends, of `sides` in a trade `depth` deep.
static void post(Halo& halo, double** T, int depth, std::initializer_list<Side> sides) {
  const std::array<MPI_Datatype, SIDES>& types = types_for(halo, depth);
  halo.pending = 0;
  for (Side side : sides) {
    halo.receive[side] = -1;
    if (!faces_a_neighbour(halo, side)) continue;
    halo.receive[side] = halo.pending;
    MPI_Irecv(corner(T, edge_cells(halo, side, depth, true)), 1, types[side], halo.neighbour[side],
              EDGE_TAG, halo.comm, &halo.requests[halo.pending++]);
  }
  for (Side side : sides) {
    if (!faces_a_neighbour(halo, side)) continue;
    MPI_Isend(corner(T, edge_cells(halo, side, depth, false)), 1, types[side], halo.neighbour[side],
              EDGE_TAG, halo.comm, &halo.requests[halo.pending++]);
  }
}

void start_exchange(Halo& halo, double** T) {
  post(halo, T, 1, {BOTTOM, TOP, RIGHT, LEFT});
}

void exchange_zones(Halo& halo, double** T, int depth) {
  post(halo, T, depth, {BOTTOM, TOP});
  finish_exchange(halo);
  post(halo, T, depth, {RIGHT, LEFT});
  finish_exchange(halo);
}

void progress_exchange(Halo& halo) {
  int done = 0;
  MPI_Testall(halo.pending, halo.requests, &done, MPI_STATUSES_IGNORE);
}

bool columns_arrived(Halo& halo) {
  for (Side side : {LEFT, RIGHT}) {
    int arrived = 1;
    // A request that an earlier test completed is null, and tests as complete.
    if (halo.receive[side] >= 0) {
      MPI_Test(&halo.requests[halo.receive[side]], &arrived, MPI_STATUS_IGNORE);
    }
    if (!arrived) return false;
  }
  return true;
}

void finish_exchange(Halo& halo) {
  MPI_Waitall(halo.pending, halo.requests, MPI_STATUSES_IGNORE);
  halo.pending = 0;
}

bool has_neighbours(const Halo& halo) {
  for (Side side : SEND_ORDER) {
    if (faces_a_neighbour(halo, side)) return true;
  }
  return false;
}

TradeVolume trade_volume(const Halo& halo, int depth) {
  TradeVolume volume;
  for (Side side : SEND_ORDER) {
    if (!faces_a_neighbour(halo, side)) continue;
    const Region cells = edge_cells(halo, side, depth, false);
    ++volume.messages;
    volume.bytes += static_cast<long long>(cells.rows()) * cells.cols() * sizeof(double);
  }
  return volume;
}
