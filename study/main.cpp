// heat2d-study: heat2d's solver on a grid, step count, time step, method, starting field and
// decomposition of the user's choosing, with its speed and its distance from the exact solution.
#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/catch_file_size_limit.hpp"
#include "output/report_losses.hpp"
#include "study/run.hpp"

namespace {

constexpr int BAD_INPUT = 2;

// Rank 0 prints the usage; a help text that cannot be written is a failure.
int help(int rank) {
  const bool lost = rank == 0 && (std::fputs(STUDY_USAGE, stdout) < 0 || std::fflush(stdout) != 0);
  if (lost) {
    std::fprintf(stderr,
                 "heat2d-study: the help text could not be written to standard output: %s\n",
                 std::strerror(errno));
  }
  return lost ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  catch_file_size_limit();
  // Only the main thread calls MPI, outside the threads' parallel regions.
  int thread_level = MPI_THREAD_SINGLE;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &thread_level);
  Run run;
  MPI_Comm_rank(MPI_COMM_WORLD, &run.place.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &run.place.process_count);

  std::string problem = settle(run, argc, argv, thread_level);
  if (problem.empty() && run.options.help) {
    const int status = help(run.place.rank);
    MPI_Finalize();
    return status;
  }
  if (problem.empty()) problem = prepare(run);
  if (!problem.empty()) {
    // Every process reaches the same verdict on the same input, so all of them stop here
    // together; rank 0 says why.
    if (run.place.rank == 0) std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
    MPI_Finalize();
    return BAD_INPUT;
  }
  double seconds = 0.0;
  const std::string stopped = run_steps(run, seconds);
  const int status = finish(run, stopped, seconds);
  MPI_Finalize();
  // Only rank 0 carries a failure (see report_losses).
  if (run.place.rank != 0) return 0;
  if (status != 0) leave_the_others_time_to_finish();
  return status;
}
