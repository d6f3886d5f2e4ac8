// Exchange of edge rows between neighbouring strips.
#include "solver/exchange.hpp"

#include "solver/exchange_order.hpp"

namespace {
// One tag serves both directions: the sender's rank tells a row from above from one from below.
constexpr int ROW_TAG = 1;
}  // namespace

void exchange(const double* send_top, const double* send_bottom, double* ghost_top,
              double* ghost_bottom, const int& sizeY, const int& rank, const int& process_count) {
  PerSide<EdgeMessage> rows = {};
  if (rank > 0) rows[Side::top] = {rank - 1, send_top, ghost_top, sizeY, MPI_DOUBLE};
  if (rank < process_count - 1) {
    rows[Side::bottom] = {rank + 1, send_bottom, ghost_bottom, sizeY, MPI_DOUBLE};
  }
  exchange_in_order(rows, ROW_TAG, MPI_COMM_WORLD);
}
