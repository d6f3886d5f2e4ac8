// What the CRC-32 in a saved field's record costs: heat2d-study's save of an N x N field by all
// processes (strips), which adds the checksum up from its rows as it writes them, against that
// checksum alone over the same blocks. The two alternate, each first in every other round; prints
// the medians, their difference and the checksum's share of the save.
//
// Usage: mpiexec -n P checksum_cost N ROUNDS FOLDER
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "checkpoint/field_checksum.hpp"
#include "checkpoint/npy_header.hpp"
#include "checkpoint/save_field.hpp"
#include "common/allocate_field.hpp"
#include "solver/process_grid.hpp"

namespace {

// Seconds of the slowest process.
double timed(const std::function<void()>& work) {
  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  work();
  double seconds = MPI_Wtime() - start;
  MPI_Allreduce(MPI_IN_PLACE, &seconds, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  return seconds;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  if (argc < 4) {
    if (rank == 0) std::fprintf(stderr, "usage: mpiexec -n P checksum_cost N ROUNDS FOLDER\n");
    MPI_Finalize();
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const int rounds = std::max(1, std::atoi(argv[2]));
  const std::string path = std::string(argv[3]) + "/field.npy";

  const Block block = block_of({n, n}, {size, 1}, rank, 0);
  double** T = allocate_block(block, 0);
  for (int i = 0; i < block.rows; ++i) {
    for (int j = 0; j < block.cols; ++j) T[i][j] = (block.first_row + i) * 1e-3 + j;
  }
  FieldRecord record;
  record.rows = record.cols = n;
  record.steps = 1;
  record.dt = 1e-9;
  const std::string header = npy_header({n, n});

  std::vector<double> saves;
  std::vector<double> sums;
  std::string problem;
  const auto save = [&] {
    saves.push_back(timed([&] { problem = save_field(path, T, block, record, MPI_COMM_WORLD); }));
    if (rank == 0) {
      ::unlink(path.c_str());
      ::unlink(record_path(path).c_str());
    }
  };
  const auto sum = [&] {
    sums.push_back(timed([&] { field_crc32(header, T, block, MPI_COMM_WORLD); }));
  };
  for (int round = 0; round < rounds && problem.empty(); ++round) {
    if (round % 2 == 0)
      save(), sum();
    else
      sum(), save();
  }
  if (rank == 0 && !problem.empty()) std::fprintf(stderr, "checksum_cost: %s\n", problem.c_str());
  if (rank == 0 && problem.empty()) {
    const double with = median(saves);
    const double alone = median(sums);
    std::printf("%.4f %.4f %.4f %.1f\n", with, alone, with - alone, 100.0 * alone / with);
  }
  MPI_Finalize();
  return problem.empty() ? 0 : 1;
}
