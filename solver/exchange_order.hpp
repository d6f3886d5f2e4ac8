// Blocking exchanges of edges between neighbouring processes, in an order that cannot deadlock.
#pragma once

#include <mpi.h>

#include "common/side.hpp"

// Every edge travels down, then up, then right, then left: the side each one is sent to.
constexpr Side SEND_ORDER[SIDE_COUNT] = {Side::bottom, Side::top, Side::right, Side::left};

// What goes to, and comes from, the process beyond one side (MPI_PROC_NULL where there is none):
// `count` items of `type` from `outgoing`, and as many into `incoming`.
struct EdgeMessage {
  int neighbour = MPI_PROC_NULL;
  const void* outgoing = nullptr;
  void* incoming = nullptr;
  int count = 0;
  MPI_Datatype type = MPI_DOUBLE;
};

// For each side in SEND_ORDER, a send to the neighbour beyond it, then a receive from the one
// beyond the opposite side; sides without a neighbour make no call. A blocking send may wait for
// its receive: in each direction the last process in line sends nothing and receives at once,
// which releases the one before it, and so on back along the line, so the order completes.
// Inline, so that a caller's sides without neighbours cost nothing.
inline void exchange_in_order(const PerSide<EdgeMessage>& messages, int tag, MPI_Comm comm) {
  for (Side to : SEND_ORDER) {
    const EdgeMessage& out = messages[to];
    if (out.neighbour != MPI_PROC_NULL) {
      MPI_Send(out.outgoing, out.count, out.type, out.neighbour, tag, comm);
    }
    const EdgeMessage& in = messages[opposite(to)];
    if (in.neighbour != MPI_PROC_NULL) {
      MPI_Recv(in.incoming, in.count, in.type, in.neighbour, tag, comm, MPI_STATUS_IGNORE);
    }
  }
}
