// How the machine's memory scales with the processes: each of P processes copies an N x N field of
// its own from one layer to the other, STEPS times, with a vectorised loop (ordinary stores) or
// with streamed stores. Rank 0 prints the slowest process's seconds; P copies in the time of one
// would be perfect scaling.
//
// Usage: mpiexec -n P copy_floor N STEPS loop|stream
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/allocate_field.hpp"
#include "copies.hpp"

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int process_count = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  if (argc < 4) {
    if (rank == 0) std::fprintf(stderr, "usage: copy_floor N STEPS loop|stream\n");
    MPI_Finalize();
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const int steps = std::atoi(argv[2]);
  const int rows = n;
  double** A = allocate_field(rows, n);
  double** B = allocate_field(rows, n);
  const bool stream = std::string(argv[3]) == "stream";

  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  for (int s = 0; s < steps; ++s) {
    if (stream) {
      copy_streaming(A, B, rows, n);
    } else {
      copy_loop(A, B, rows, n);
    }
    std::swap(A, B);
  }
  double elapsed = MPI_Wtime() - start;
  MPI_Reduce(rank == 0 ? MPI_IN_PLACE : &elapsed, &elapsed, 1, MPI_DOUBLE, MPI_MAX, 0,
             MPI_COMM_WORLD);
  if (rank == 0) std::printf("%.6f\n", elapsed);
  MPI_Finalize();
  return 0;
}
