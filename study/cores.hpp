// The cores each process may run its threads on.
#pragma once

#include <string>

// The number of cores this process may run on (its CPU affinity), or 0 where the system does not
// say.
int cores_of_this_process();

// Collective. How crowded the most crowded host is: its processes' threads per core it has online
// (above 1, they take turns on the cores, and every update takes that much longer).
double host_load(int threads);

// Collective. One line for rank 0 to print when some process has fewer cores than `threads` (a
// launcher binds each process to one core unless told otherwise, and the threads would then take
// turns on it); empty otherwise. `cores` becomes the fewest any process has (0: unknown).
std::string cores_warning(int threads, int& cores);
