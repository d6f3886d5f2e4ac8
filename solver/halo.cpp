// The exchange that fills a block's ghost cells with the cells of the blocks around it.
#include "solver/halo.hpp"

#include <cassert>
#include <initializer_list>

#include "common/allocate_field.hpp"
#include "solver/exchange_order.hpp"

namespace {

// One tag serves every direction: between two blocks only one edge travels each way per exchange.
constexpr int EDGE_TAG = 1;

const PerSide<MPI_Datatype>& types_for(const Block& block, Halo& halo, int depth) {
  auto found = halo.types.find(depth);
  if (found != halo.types.end()) return found->second;
  PerSide<MPI_Datatype> types;
  const int stride = static_cast<int>(row_stride(block));
  for (Side side : SIDES) {
    const Region cells = halo_cells(block, side, depth, false);
    MPI_Type_vector(cells.rows(), cells.cols(), stride, MPI_DOUBLE, &types[side]);
    MPI_Type_commit(&types[side]);
  }
  return halo.types.emplace(depth, types).first->second;
}

double* corner(double** T, const Region& cells) {
  return T[cells.row_begin] + cells.col_begin;
}

// Posts the receives, then the sends, of `sides` in an exchange `depth` deep.
void post(const Block& block, Halo& halo, double** T, int depth,
          std::initializer_list<Side> sides) {
  const PerSide<MPI_Datatype>& types = types_for(block, halo, depth);
  halo.pending = 0;
  for (Side side : sides) {
    halo.receive[side] = -1;
    if (!block.has_neighbour(side)) continue;
    halo.receive[side] = halo.pending;
    MPI_Irecv(corner(T, halo_cells(block, side, depth, true)), 1, types[side],
              block.neighbour[side], EDGE_TAG, block.comm, &halo.requests[halo.pending++]);
  }
  for (Side side : sides) {
    if (!block.has_neighbour(side)) continue;
    MPI_Isend(corner(T, halo_cells(block, side, depth, false)), 1, types[side],
              block.neighbour[side], EDGE_TAG, block.comm, &halo.requests[halo.pending++]);
  }
}

}  // namespace

Region halo_cells(const Block& block, Side side, int depth, bool incoming) {
  // A halo deeper than the ring of ghost cells would write past the layer's rows.
  assert(depth <= block.ghost);
  Region cells = block.owned().slab(side, depth, incoming);
  if (!is_row_side(side) && depth >= 2) {
    for (Side across : {Side::top, Side::bottom}) {
      if (block.has_neighbour(across)) cells = cells.grown(across, depth);
    }
  }
  return cells;
}

void exchange_halo(const Block& block, Halo& halo, double** T, int depth) {
  const PerSide<MPI_Datatype>& types = types_for(block, halo, depth);
  PerSide<EdgeMessage> messages = {};
  for (Side side : SIDES) {
    if (!block.has_neighbour(side)) continue;
    messages[side] = {block.neighbour[side], corner(T, halo_cells(block, side, depth, false)),
                      corner(T, halo_cells(block, side, depth, true)), 1, types[side]};
  }
  exchange_in_order(messages, EDGE_TAG, block.comm);
}

void start_exchange(const Block& block, Halo& halo, double** T) {
  post(block, halo, T, 1, {Side::bottom, Side::top, Side::right, Side::left});
}

void exchange_halo_both_ways(const Block& block, Halo& halo, double** T, int depth) {
  post(block, halo, T, depth, {Side::bottom, Side::top});
  finish_exchange(halo);
  post(block, halo, T, depth, {Side::right, Side::left});
  finish_exchange(halo);
}

void progress_exchange(Halo& halo) {
  int done = 0;
  MPI_Testall(halo.pending, halo.requests, &done, MPI_STATUSES_IGNORE);
}

bool columns_arrived(Halo& halo) {
  for (Side side : {Side::left, Side::right}) {
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

ExchangeVolume exchange_volume(const Block& block, int depth) {
  ExchangeVolume volume;
  for (Side side : SIDES) {
    if (!block.has_neighbour(side)) continue;
    const Region cells = halo_cells(block, side, depth, false);
    ++volume.messages;
    volume.bytes += cells.cells() * static_cast<long long>(sizeof(double));
  }
  return volume;
}
