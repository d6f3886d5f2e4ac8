// The exchange that fills a block's ghost cells with the cells of the blocks around it.
#pragma once

#include <mpi.h>

#include <map>

#include "common/block.hpp"

// What a block's exchanges keep between calls: the derived datatypes of its edges, by depth (made
// on first use, over the row stride of the block's layers), and the requests in flight. One halo
// serves one block.
struct Halo {
  std::map<int, PerSide<MPI_Datatype>> types;
  MPI_Request requests[2 * SIDE_COUNT];
  int pending = 0;
  PerSide<int> receive = {{-1, -1, -1, -1}};  // where each side's receive is in `requests`, or -1
};

// The cells an exchange `depth` deep sends beyond `side` (incoming false: the block's outermost
// `depth` rows or columns there) or fills beyond it (incoming true: as many ghost rows or
// columns). Rows go first and span the block's own columns. A pass of two or more steps also needs
// the corners, so from depth 2 the columns span the ghost rows just received from above and below:
// those come from the diagonal neighbours, by way of the ones above and below.
Region halo_cells(const Block& block, Side side, int depth, bool incoming);

// Blocking, in the order of exchange_in_order: every row down, then up, then every column right,
// then left. Fills the ghost cells of T (a layer from allocate_block) that face a neighbour,
// `depth` deep (at most the block's ghost width); the others are left untouched.
void exchange_halo(const Block& block, Halo& halo, double** T, int depth);

// The same for a pass of several steps: the rows both ways at once, then the columns both ways at
// once, each with non-blocking calls, so that the messages, larger than a step's, use both
// directions of every link together.
void exchange_halo_both_ways(const Block& block, Halo& halo, double** T, int depth);

// The exchange one cell deep without waiting: start_exchange posts every receive and send and
// returns; finish_exchange waits for them. T's edges must not change in between, nor its ghost
// cells be read. progress_exchange, called in between, lets MPI move the messages on without
// waiting for them; columns_arrived tells, without waiting, whether the ghost columns are in.
void start_exchange(const Block& block, Halo& halo, double** T);
void progress_exchange(Halo& halo);
bool columns_arrived(Halo& halo);
void finish_exchange(Halo& halo);

// What the block sends in an exchange `depth` deep: messages and bytes.
struct ExchangeVolume {
  int messages = 0;
  long long bytes = 0;
};
ExchangeVolume exchange_volume(const Block& block, int depth);
