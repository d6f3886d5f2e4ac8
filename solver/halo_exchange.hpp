// Trade of a block's edges with the blocks around it, filling its ghost cells.
#pragma once

#include <mpi.h>

#include <array>
#include <map>

#include "common/allocate_field.hpp"
#include "solver/region.hpp"
#include "solver/trade.hpp"

// What a block trades with its neighbours. `neighbour` holds the rank on `comm` of the block beyond
// each side, or MPI_PROC_NULL at the grid's edge. A trade `depth` cells deep sends the block's
// outermost `depth` rows or columns on each side and receives as many ghost rows or columns; each
// travels in place, as a derived datatype over the block's row stride.
struct Halo {
  MPI_Comm comm = MPI_COMM_NULL;
  int neighbour[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
  BlockShape shape;
  std::map<int, std::array<MPI_Datatype, SIDES>> types;  // by depth, made on first use
  MPI_Request requests[2 * SIDES];
  int pending = 0;
  int receive[SIDES] = {-1, -1, -1, -1};  // where each side's receive is in `requests`, or -1
};

// A halo for a block of `shape` with the given neighbours.
Halo make_halo(MPI_Comm comm, const int (&neighbour)[SIDES], const BlockShape& shape);

// The cells a trade `depth` deep sends beyond `side` (outgoing) or fills beyond it (incoming).
// Rows go first and span the block's own columns. A pass of two or more steps also needs the
// corners, so from depth 2 the columns span the ghost rows just received from above and below:
// those come from the diagonal neighbours, by way of the ones above and below.
Region edge_cells(const Halo& halo, Side side, int depth, bool incoming);

// Blocking, in the order of trade_in_order: every row down, then up, then every column right,
// then left. Fills the ghost cells of T (a layer from allocate_block) that face a neighbour,
// `depth` deep (at most the shape's ghost width); the others are left untouched.
void exchange_edges(Halo& halo, double** T, int depth);

// A trade `depth` deep for a pass of several steps: the rows both ways at once, then the columns
// both ways at once, each with non-blocking calls, so that the messages, larger than a step's,
// use both directions of every link together.
void exchange_zones(Halo& halo, double** T, int depth);

// The same trade one cell deep without waiting: start_exchange posts every receive and send and
// returns; finish_exchange waits for them. T's edges must not change in between, nor its ghost
// cells be read. progress_exchange, called in between, lets MPI move the messages on without
// waiting for them; columns_arrived tells, without waiting, whether the ghost columns are in.
void start_exchange(Halo& halo, double** T);
void progress_exchange(Halo& halo);
bool columns_arrived(Halo& halo);
void finish_exchange(Halo& halo);

// Whether the block has any neighbour to trade with (a single process has none).
bool has_neighbours(const Halo& halo);

// What this block sends in a trade `depth` deep: messages and bytes.
struct TradeVolume {
  int messages = 0;
  long long bytes = 0;
};
TradeVolume trade_volume(const Halo& halo, int depth);
