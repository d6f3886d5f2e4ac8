// Trade of a block's edges with the blocks around it, filling its ghost cells.
#pragma once

#include <mpi.h>

#include <vector>

enum Side { TOP, BOTTOM, LEFT, RIGHT, SIDES };

// What a block trades with its neighbours. `neighbour` holds the rank on `comm` of the block beyond
// each side, or MPI_PROC_NULL at the grid's edge. Rows travel as they lie in memory; columns are
// packed into buffers of their own (rows are allocated one by one, so a column has no stride).
struct Halo {
  MPI_Comm comm = MPI_COMM_NULL;
  int neighbour[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
  int rows = 0;
  int cols = 0;
  std::vector<double> outgoing[SIDES];  // packed columns (LEFT and RIGHT only)
  std::vector<double> incoming[SIDES];
  MPI_Request requests[2 * SIDES];
  int pending = 0;
  int receive[SIDES] = {-1, -1, -1, -1};  // where each side's receive is in `requests`, or -1
  bool columns_unpacked = false;
};

// A halo for a rows x cols block with the given neighbours, its column buffers allocated.
Halo make_halo(MPI_Comm comm, const int (&neighbour)[SIDES], const int& rows, const int& cols);

// Blocking, in a fixed order that cannot deadlock: every row travels down, then up, then every
// column right, then left, each one a send followed by a receive from the other side, as heat2d's
// strips trade their rows. Fills the ghost cells of T (a block from allocate_block) that face a
// neighbour; the others are left untouched.
void exchange_edges(Halo& halo, double** T);

// The same trade without waiting: start_exchange posts every receive and send and returns;
// finish_exchange waits for them and fills the ghost cells. T's edges must not change in between.
// progress_exchange, called in between, lets MPI move the messages on without waiting for them;
// columns_arrived tells, without waiting, whether the ghost columns are in (filling them if so).
void start_exchange(Halo& halo, double** T);
void progress_exchange(Halo& halo);
bool columns_arrived(Halo& halo, double** T);
void finish_exchange(Halo& halo, double** T);

// Whether the block has any neighbour to trade with (a single process has none).
bool has_neighbours(const Halo& halo);

// Bytes this block sends to its neighbours in one step.
long long bytes_sent_per_step(const Halo& halo);
