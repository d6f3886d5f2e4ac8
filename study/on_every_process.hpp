// Agreement of all processes on a verdict each reached alone.
#pragma once

#include <mpi.h>

// Collective over MPI_COMM_WORLD: true on every process when `mine` is true on every process, so
// that all of them go on, or stop, together.
inline bool on_every_process(bool mine) {
  int value = mine ? 1 : 0;
  MPI_Allreduce(MPI_IN_PLACE, &value, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return value == 1;
}
