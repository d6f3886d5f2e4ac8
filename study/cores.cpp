// The cores each process may run its threads on.
#include "study/cores.hpp"

#include <mpi.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include "study/wording.hpp"

int cores_of_this_process() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
#endif
  return 0;
}

std::string cores_warning(int threads, int& cores) {
  const int mine = cores_of_this_process();
  // Unknown counts as plenty, so that the minimum is over the processes that know.
  int fewest = mine > 0 ? mine : threads;
  MPI_Allreduce(MPI_IN_PLACE, &fewest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  cores = mine > 0 || fewest < threads ? fewest : 0;
  if (fewest >= threads) return "";
  return "warning: " + count_of(threads, "thread", "threads") + " per process, but a process may " +
         "run on only " + count_of(fewest, "core", "cores") +
         " (the launcher bound it there), so its threads take turns; start it with mpiexec " +
         "--bind-to none, or --map-by slot:PE=" + std::to_string(threads);
}
