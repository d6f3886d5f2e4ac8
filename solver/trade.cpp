// Blocking trades of edges between neighbouring processes, in an order that cannot deadlock.
#include "solver/trade.hpp"

void trade_in_order(const Trade (&trades)[SIDES], int tag, MPI_Comm comm) {
  for (Side to : SEND_ORDER) {
    const Trade& out = trades[to];
    if (out.neighbour != MPI_PROC_NULL) {
      MPI_Send(out.outgoing, out.count, out.type, out.neighbour, tag, comm);
    }
    const Trade& in = trades[OPPOSITE[to]];
    if (in.neighbour != MPI_PROC_NULL) {
      MPI_Recv(in.incoming, in.count, in.type, in.neighbour, tag, comm, MPI_STATUS_IGNORE);
    }
  }
}
