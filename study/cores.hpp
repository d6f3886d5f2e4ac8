// The cores each process may run its threads on, and how crowded its host is.
#pragma once

#include <string>

// The number of cores this process may run on (its CPU affinity), or 0 where the system does not
// say.
int cores_of_this_process();

// What one host gives its processes.
struct Host {
  int processes = 1;     // of the run, on this host
  int online_cores = 0;  // 0 when the system does not say
};

// Collective: the host this process runs on.
Host this_host();

// Threads per process that the host's processes can run at once: `asked`, or where they would run
// more threads than it has cores (and there is more than one process, whose threads would spin
// while another process's hold the cores), as many as fit, at least 1. Pure.
int threads_that_fit(int asked, const Host& host);

// Collective. How crowded the most crowded host is: its processes' threads per core it has online
// (above 1, they take turns on the cores, and every update takes that much longer).
double host_load(int threads, const Host& host);

// Collective. One line for rank 0 to print when some process has fewer cores than `threads` (a
// launcher binds each process to one core unless told otherwise, and the threads would then take
// turns on it); empty otherwise. `cores` becomes the fewest any process has (0: unknown).
std::string cores_warning(int threads, int& cores);
