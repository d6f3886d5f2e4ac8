// heat2d: every process of the launch runs this; the processes share the grid in row strips.
#include <mpi.h>

#include <cstdio>
#include <ctime>
#include <iostream>

#include "common/catch_file_size_limit.hpp"
#include "driver/initial_field.hpp"
#include "output/report_losses.hpp"
#include "output/snapshot_name.hpp"
#include "output/write_layer.hpp"
#include "solver/solve.hpp"
#include "solver/strip_bounds.hpp"

namespace {

// clock() counts CLOCKS_PER_SEC ticks per second of processor time; the reading is single
// precision.
float clock_seconds() {
  return static_cast<float>(std::clock()) / static_cast<float>(CLOCKS_PER_SEC);
}

}  // namespace

int main(int argc, char** argv) {
  // Taken before MPI_Init, so the working time includes joining and leaving MPI.
  const float t_start = clock_seconds();
  catch_file_size_limit();

  const double a = 0.0;
  const double b = 1.0;
  const double c = 0.0;
  const double d = 1.0;
  const int NUMBER_OF_NODES_X = 10;
  const int NUMBER_OF_NODES_Y = 10;

  MPI_Init(&argc, &argv);
  int process_count = 0;
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);

  // heat2d solves one fixed problem; an argument (--help, a grid size) is a user who wants
  // heat2d-study, and must not start a run that fills the working directory with snapshots.
  if (argc > 1) {
    if (rank == 0) {
      std::fprintf(stderr,
                   "heat2d: takes no arguments (given '%s'); it solves one fixed problem. "
                   "heat2d-study --help lists the options of the same solver\n",
                   argv[1]);
    }
    MPI_Finalize();
    return 2;
  }

  // Every process sees the same count, so all of them stop here together: nothing allocated or
  // written, no message sent, and the launcher sees a failure.
  const int most_processes = max_process_count(NUMBER_OF_NODES_X);
  if (process_count > most_processes) {
    if (rank == 0) {
      std::fprintf(stderr,
                   "heat2d: started with %d processes, but the %d-row grid allows at most %d "
                   "(every strip needs two rows)\n",
                   process_count, NUMBER_OF_NODES_X, most_processes);
    }
    MPI_Finalize();
    return 1;
  }

  double** T = initial_field(NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y);
  SnapshotLosses losses;
  const int error = write_layer(T, NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y, INITIAL_FIELD_RANK, 0.0);
  if (error != 0) note_loss(losses, INITIAL_FIELD_RANK, 0, error);
  solve(T, a, b, c, d, NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y, rank, process_count, losses);
  const int status = report_losses(losses, rank, process_count);

  MPI_Finalize();
  const float t_end = clock_seconds();
  std::cout << "Working time = " << t_end - t_start << std::endl;
  if (status != 0) leave_the_others_time_to_finish();
  return status;
}
