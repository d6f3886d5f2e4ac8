// The cores each process may run its threads on, and how crowded its host is.
#include "study/cores.hpp"

#include <mpi.h>
#include <unistd.h>

#include <algorithm>

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

Host this_host() {
  MPI_Comm host = MPI_COMM_NULL;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &host);
  Host h;
  MPI_Comm_size(host, &h.processes);
  MPI_Comm_free(&host);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  h.online_cores = online > 0 ? static_cast<int>(online) : 0;
  return h;
}

int threads_that_fit(int asked, const Host& host) {
  if (host.processes < 2 || host.online_cores == 0) return asked;
  if (static_cast<long long>(host.processes) * asked <= host.online_cores) return asked;
  return std::max(1, host.online_cores / host.processes);
}

double host_load(int threads, const Host& host) {
  double load = host.online_cores > 0
                    ? static_cast<double>(host.processes) * threads / host.online_cores
                    : 0.0;
  MPI_Allreduce(MPI_IN_PLACE, &load, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  return load;
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
