// Launched with N processes: strips advanced with the real MPI row exchange must equal, bit for
// bit, the whole grid advanced by the same code in one process. Exits non-zero on any difference
// or when the launch did not give the expected number of processes.
#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/allocate_field.hpp"
#include "driver/initial_field.hpp"
#include "solver/strip_bounds.hpp"
#include "solver/swap_layers.hpp"
#include "solver/time_step.hpp"

namespace {

constexpr int NX = 10;
constexpr int NY = 10;
constexpr double H = 0.1;
constexpr double DT = 1e-5;
constexpr int CHECK_EVERY = 100;
constexpr int STEPS = 500;
constexpr int GATHER_TAG = 7;

// Advances the rows in T0 by `steps` steps of the time loop, trading rows with the neighbours.
void advance(double**& T0, double**& T1, int sizeX, std::vector<double>& buffers, int steps,
             int rank, int process_count) {
  double* b = buffers.data();
  for (int step = 0; step < steps; ++step) {
    time_step(T0, T1, sizeX, NY, b, b + NY, b + 2 * NY, b + 3 * NY, H, H, DT, rank, process_count);
    swap_layers(T0, T1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int process_count = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  const int expected = argc > 1 ? std::atoi(argv[1]) : -1;
  if (process_count != expected) {
    std::fprintf(stderr, "rank %d sees %d processes, expected %d: launcher and library differ?\n",
                 rank, process_count, expected);
    MPI_Finalize();
    return 1;
  }

  double** T = initial_field(NX, NY);
  int row_begin = 0;
  int row_end = 0;
  strip_bounds(NX, rank, process_count, row_begin, row_end);
  const int sizeX = row_end - row_begin;
  double** T0 = allocate_field(sizeX, NY);
  double** T1 = allocate_field(sizeX, NY);
  for (int k = row_begin; k < row_end; ++k) std::copy(T[k], T[k] + NY, T0[k - row_begin]);
  std::vector<double> buffers(4 * NY);

  double** whole = initial_field(NX, NY);
  double** whole_next = allocate_field(NX, NY);
  std::vector<double> whole_buffers(4 * NY);
  double** gathered = allocate_field(NX, NY);

  int differences = 0;
  for (int done = 0; done < STEPS; done += CHECK_EVERY) {
    advance(T0, T1, sizeX, buffers, CHECK_EVERY, rank, process_count);
    if (rank != 0) {
      for (int i = 0; i < sizeX; ++i) {
        MPI_Send(T0[i], NY, MPI_DOUBLE, 0, GATHER_TAG, MPI_COMM_WORLD);
      }
      continue;
    }
    advance(whole, whole_next, NX, whole_buffers, CHECK_EVERY, 0, 1);
    for (int i = 0; i < sizeX; ++i) std::copy(T0[i], T0[i] + NY, gathered[i]);
    for (int source = 1; source < process_count; ++source) {
      int begin = 0;
      int end = 0;
      strip_bounds(NX, source, process_count, begin, end);
      for (int k = begin; k < end; ++k) {
        MPI_Recv(gathered[k], NY, MPI_DOUBLE, source, GATHER_TAG, MPI_COMM_WORLD,
                 MPI_STATUS_IGNORE);
      }
    }
    for (int k = 0; k < NX; ++k) {
      if (std::memcmp(gathered[k], whole[k], NY * sizeof(double)) != 0) {
        std::fprintf(stderr, "row %d differs from the one-process grid after %d steps\n", k,
                     done + CHECK_EVERY);
        ++differences;
      }
    }
  }
  if (rank == 0 && differences == 0) {
    std::printf("%d processes: grid bit-identical to one process at every %d steps up to %d\n",
                process_count, CHECK_EVERY, STEPS);
  }
  MPI_Finalize();
  return differences == 0 ? 0 : 1;
}
