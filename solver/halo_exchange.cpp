// Trade of a block's edges with the blocks around it, filling its ghost cells.
#include "solver/halo_exchange.hpp"

namespace {

// One tag serves every direction: between two blocks only one edge travels each way per step.
constexpr int EDGE_TAG = 1;

constexpr Side OPPOSITE[SIDES] = {BOTTOM, TOP, RIGHT, LEFT};

// The blocking order, by the side each edge is sent to: down, up, right, left.
constexpr Side SEND_ORDER[SIDES] = {BOTTOM, TOP, RIGHT, LEFT};

bool is_row(Side side) {
  return side == TOP || side == BOTTOM;
}

int length(const Halo& halo, Side side) {
  return is_row(side) ? halo.cols : halo.rows;
}

// The block's own row or column on `side`, and the ghost row or column beyond it.
int edge_index(const Halo& halo, Side side) {
  return side == TOP || side == LEFT ? 0 : (is_row(side) ? halo.rows : halo.cols) - 1;
}
int ghost_index(const Halo& halo, Side side) {
  return side == TOP || side == LEFT ? -1 : (is_row(side) ? halo.rows : halo.cols);
}

double* outgoing(Halo& halo, double** T, Side side) {
  if (is_row(side)) return T[edge_index(halo, side)];
  std::vector<double>& packed = halo.outgoing[side];
  const int column = edge_index(halo, side);
  for (int i = 0; i < halo.rows; ++i) packed[i] = T[i][column];
  return packed.data();
}

double* incoming(Halo& halo, double** T, Side side) {
  return is_row(side) ? T[ghost_index(halo, side)] : halo.incoming[side].data();
}

void unpack(Halo& halo, double** T, Side side) {
  if (is_row(side)) return;
  const std::vector<double>& packed = halo.incoming[side];
  const int column = ghost_index(halo, side);
  for (int i = 0; i < halo.rows; ++i) T[i][column] = packed[i];
}

bool faces_a_neighbour(const Halo& halo, Side side) {
  return halo.neighbour[side] != MPI_PROC_NULL;
}

}  // namespace

Halo make_halo(MPI_Comm comm, const int (&neighbour)[SIDES], const int& rows, const int& cols) {
  Halo halo;
  halo.comm = comm;
  halo.rows = rows;
  halo.cols = cols;
  for (int side = 0; side < SIDES; ++side) {
    halo.neighbour[side] = neighbour[side];
    if (!is_row(static_cast<Side>(side)) && neighbour[side] != MPI_PROC_NULL) {
      halo.outgoing[side].resize(rows);
      halo.incoming[side].resize(rows);
    }
  }
  return halo;
}

void exchange_edges(Halo& halo, double** T) {
  for (Side to : SEND_ORDER) {
    const Side from = OPPOSITE[to];
    if (faces_a_neighbour(halo, to)) {
      MPI_Send(outgoing(halo, T, to), length(halo, to), MPI_DOUBLE, halo.neighbour[to], EDGE_TAG,
               halo.comm);
    }
    if (faces_a_neighbour(halo, from)) {
      MPI_Recv(incoming(halo, T, from), length(halo, from), MPI_DOUBLE, halo.neighbour[from],
               EDGE_TAG, halo.comm, MPI_STATUS_IGNORE);
      unpack(halo, T, from);
    }
  }
}

void start_exchange(Halo& halo, double** T) {
  halo.pending = 0;
  halo.columns_unpacked = false;
  for (Side side : SEND_ORDER) {
    halo.receive[side] = -1;
    if (!faces_a_neighbour(halo, side)) continue;
    halo.receive[side] = halo.pending;
    MPI_Irecv(incoming(halo, T, side), length(halo, side), MPI_DOUBLE, halo.neighbour[side],
              EDGE_TAG, halo.comm, &halo.requests[halo.pending++]);
  }
  for (Side side : SEND_ORDER) {
    if (!faces_a_neighbour(halo, side)) continue;
    MPI_Isend(outgoing(halo, T, side), length(halo, side), MPI_DOUBLE, halo.neighbour[side],
              EDGE_TAG, halo.comm, &halo.requests[halo.pending++]);
  }
}

void progress_exchange(Halo& halo) {
  int done = 0;
  MPI_Testall(halo.pending, halo.requests, &done, MPI_STATUSES_IGNORE);
}

bool columns_arrived(Halo& halo, double** T) {
  if (halo.columns_unpacked) return true;
  for (Side side : {LEFT, RIGHT}) {
    int arrived = 1;
    // A request that an earlier test completed is null, and tests as complete.
    if (halo.receive[side] >= 0) {
      MPI_Test(&halo.requests[halo.receive[side]], &arrived, MPI_STATUS_IGNORE);
    }
    if (!arrived) return false;
  }
  for (Side side : {LEFT, RIGHT}) {
    if (faces_a_neighbour(halo, side)) unpack(halo, T, side);
  }
  halo.columns_unpacked = true;
  return true;
}

void finish_exchange(Halo& halo, double** T) {
  MPI_Waitall(halo.pending, halo.requests, MPI_STATUSES_IGNORE);
  halo.pending = 0;
  // Rows arrive in place; columns are filled here unless columns_arrived already did.
  if (!halo.columns_unpacked) {
    for (Side side : {LEFT, RIGHT}) {
      if (faces_a_neighbour(halo, side)) unpack(halo, T, side);
    }
    halo.columns_unpacked = true;
  }
}

long long bytes_sent_per_step(const Halo& halo) {
  long long bytes = 0;
  for (Side side : SEND_ORDER) {
    if (faces_a_neighbour(halo, side)) bytes += static_cast<long long>(length(halo, side)) * 8;
  }
  return bytes;
}

bool has_neighbours(const Halo& halo) {
  for (Side side : SEND_ORDER) {
    if (faces_a_neighbour(halo, side)) return true;
  }
  return false;
}
