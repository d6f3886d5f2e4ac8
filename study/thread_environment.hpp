// OMP_NUM_THREADS as the user set it, checked before the OpenMP runtime reads it.
#pragma once

#include <string>

// An empty string, or one line saying why OMP_NUM_THREADS does not name a number of threads (it
// is empty, not a whole number, or below 1). Such a value is taken out of the environment before
// the OpenMP runtime starts, which would otherwise print its own warning from every process and go
// on with one thread.
std::string omp_num_threads_problem();
