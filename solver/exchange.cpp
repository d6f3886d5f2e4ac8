// Trade of edge rows between neighbouring strips.
#include "solver/exchange.hpp"

#include <mpi.h>

namespace {
// One tag serves both directions: the sender's rank tells a row from above from one from below.
constexpr int ROW_TAG = 1;
}  // namespace

void exchange(const double* send_top, const double* send_bottom, double* ghost_top,
              double* ghost_bottom, const int& sizeY, const int& rank, const int& process_count) {
  MPI_Status status;
  const bool has_above = rank > 0;
  const bool has_below = rank < process_count - 1;
  if (has_below) MPI_Send(send_bottom, sizeY, MPI_DOUBLE, rank + 1, ROW_TAG, MPI_COMM_WORLD);
  if (has_above) MPI_Recv(ghost_top, sizeY, MPI_DOUBLE, rank - 1, ROW_TAG, MPI_COMM_WORLD, &status);
  if (has_above) MPI_Send(send_top, sizeY, MPI_DOUBLE, rank - 1, ROW_TAG, MPI_COMM_WORLD);
  if (has_below) {
    MPI_Recv(ghost_bottom, sizeY, MPI_DOUBLE, rank + 1, ROW_TAG, MPI_COMM_WORLD, &status);
  }
}
