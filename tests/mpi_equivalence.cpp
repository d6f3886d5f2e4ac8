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
constexpr int STEPS = 400;

// Rows [row_begin, row_end) of the initial field advanced STEPS steps of the time loop.
double** advanced_strip(int row_begin, int row_end, int rank, int process_count) {
  double** T = initial_field(NX, NY);
  const int sizeX = row_end - row_begin;
  double** T0 = allocate_field(sizeX, NY);
  double** T1 = allocate_field(sizeX, NY);
  for (int k = row_begin; k < row_end; ++k) std::copy(T[k], T[k] + NY, T0[k - row_begin]);
  std::vector<double> rows(4 * NY);
  double* b = rows.data();
  for (int step = 0; step < STEPS; ++step) {
    double seconds = 0; time_step(T0, T1, sizeX, NY, b, b + NY, b + 2 * NY, b + 3 * NY, 0.1, 0.1, 1e-5, rank,
              process_count, seconds);
    swap_layers(T0, T1);
  }
  return T0;
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

  int row_begin = 0;
  int row_end = 0;
  strip_bounds(NX, rank, process_count, row_begin, row_end);
  double** strip = advanced_strip(row_begin, row_end, rank, process_count);
  int differing_rows = 0;
  if (rank != 0) {
    for (int i = 0; i < row_end - row_begin; ++i) {
      MPI_Send(strip[i], NY, MPI_DOUBLE, 0, 0, MPI_COMM_WORLD);
    }
  } else {
    double** whole = advanced_strip(0, NX, 0, 1);
    std::vector<double> row(NY);
    int source = 0;  // the rank holding grid row k
    for (int k = 0; k < NX; ++k) {
      while (k >= row_end && source < process_count - 1) {
        strip_bounds(NX, ++source, process_count, row_begin, row_end);
      }
      if (source == 0) std::copy(strip[k], strip[k] + NY, row.begin());
      if (source != 0) {
        MPI_Recv(row.data(), NY, MPI_DOUBLE, source, 0, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      }
      if (std::memcmp(row.data(), whole[k], NY * sizeof(double)) != 0) {
        std::fprintf(stderr, "grid row %d differs from the one-process run\n", k);
        ++differing_rows;
      }
    }
    if (differing_rows == 0) {
      std::printf("%d processes: bit-identical to one process after %d steps\n", process_count,
                  STEPS);
    }
  }
  MPI_Finalize();
  return differing_rows == 0 ? 0 : 1;
}
