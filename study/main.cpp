// heat2d-study: heat2d's solver on a grid, step count and time step of the user's choosing, with
// its speed and its distance from the exact solution.
#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "common/allocate_field.hpp"
#include "driver/catch_file_size_limit.hpp"
#include "driver/report_losses.hpp"
#include "output/snapshot_name.hpp"
#include "output/write_initial_field.hpp"
#include "solver/advance.hpp"
#include "solver/strip_bounds.hpp"
#include "study/check_memory.hpp"
#include "study/check_problem.hpp"
#include "study/largest_difference.hpp"
#include "study/on_every_process.hpp"
#include "study/parse_options.hpp"
#include "study/save_npy.hpp"
#include "study/summary.hpp"

namespace {

constexpr int BAD_INPUT = 2;

// Every process reaches the same verdict on the same input, so all of them stop here together;
// rank 0 says why.
int refuse(const std::string& problem, const int& rank) {
  if (rank == 0) std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
  MPI_Finalize();
  return BAD_INPUT;
}

// The two layers of the strip at the start: the hot first row of the grid at 100, all else 0.
bool allocate_layers(double**& T0, double**& T1, const int& sizeX, const int& sizeY,
                     const int& row_begin) {
  try {
    T0 = allocate_field(sizeX, sizeY);
    T1 = allocate_field(sizeX, sizeY);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (row_begin == 0) {
    std::fill(T0[0], T0[0] + sizeY, 100.0);
    std::fill(T1[0], T1[0] + sizeY, 100.0);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  catch_file_size_limit();
  MPI_Init(&argc, &argv);
  int rank = 0;
  int process_count = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);

  StudyOptions options;
  std::string problem = parse_options(argc, argv, options);
  if (problem.empty() && options.help) {
    if (rank == 0) std::fputs(STUDY_USAGE, stdout);
    MPI_Finalize();
    return 0;
  }
  if (problem.empty()) problem = check_problem(options, process_count);
  if (!problem.empty()) return refuse(problem, rank);

  const int NUMBER_OF_NODES_X = options.rows;
  const int NUMBER_OF_NODES_Y = options.cols;
  int row_begin = 0;
  int row_end = 0;
  strip_bounds(NUMBER_OF_NODES_X, rank, process_count, row_begin, row_end);
  const int sizeX = row_end - row_begin;
  const int sizeY = NUMBER_OF_NODES_Y;

  problem = check_memory(options, sizeX, rank);
  if (!problem.empty()) return refuse(problem, rank);
  double** T0 = nullptr;
  double** T1 = nullptr;
  if (!on_every_process(allocate_layers(T0, T1, sizeX, sizeY, row_begin))) {
    return refuse("the strips could not be allocated: too large for the memory", rank);
  }
  const bool saving = !options.save.empty();
  if (saving) {
    problem = prepare_save(options.save, rank);
    if (!problem.empty()) return refuse(problem, rank);
  }

  // The same spacing rule as heat2d: dx = (b - a) / NX on the unit square.
  const double dx = 1.0 / NUMBER_OF_NODES_X;
  const double dy = 1.0 / NUMBER_OF_NODES_Y;
  SnapshotLosses losses;
  losses.program = "heat2d-study";
  if (options.every > 0) {
    const int error = write_initial_field(NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y);
    if (error != 0) note_loss(losses, INITIAL_FIELD_RANK, 0, error);
  }

  double exchange_seconds = 0.0;
  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  advance(T0, T1, sizeX, sizeY, dx, dy, options.dt, rank, process_count, options.steps,
          options.every, losses, exchange_seconds);
  double times[2] = {MPI_Wtime() - start, 0.0};
  times[1] = times[0] > 0.0 ? exchange_seconds / times[0] : 0.0;
  MPI_Allreduce(MPI_IN_PLACE, times, 2, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);

  RunFigures figures;
  figures.rows = NUMBER_OF_NODES_X;
  figures.cols = NUMBER_OF_NODES_Y;
  figures.processes = process_count;
  figures.steps = options.steps;
  figures.dt = options.dt;
  figures.wall_seconds = times[0];
  figures.exchange_share = times[1];
  const double t = options.steps * options.dt;
  figures.max_error = largest_difference(T0, sizeX, sizeY, row_begin, NUMBER_OF_NODES_X, dx, t);
  MPI_Allreduce(MPI_IN_PLACE, &figures.max_error, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);

  int status = report_losses(losses, rank, process_count);
  if (saving) {
    problem =
        save_npy(options.save, T0, sizeX, row_begin, NUMBER_OF_NODES_X, NUMBER_OF_NODES_Y, rank);
    if (!problem.empty() && rank == 0) {
      std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
      status = 1;
    }
  }
  if (rank == 0) std::fputs(summary(figures, options.json).c_str(), stdout);
  std::fflush(stdout);
  MPI_Finalize();
  if (status != 0) leave_the_others_time_to_finish();
  return status;
}
