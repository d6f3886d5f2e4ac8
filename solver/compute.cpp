// One explicit time step of the heat equation on one process's strip.
#include "solver/compute.hpp"

#include <algorithm>

namespace {

// A row that is not held: the forward-time centred-space update on the inner columns, evaluated
// exactly as ((rx*((up - 2c) + down)) + c) + (ry*((left - 2c) + right)), and the insulated side
// columns copying their inner neighbour from the current layer (so they lag one step behind).
// The case analysis happens once per row, which leaves a branch-free loop the compiler vectorises.
inline void update_row(double* __restrict out, const double* __restrict up,
                       const double* __restrict centre, const double* __restrict down, int sizeY,
                       double rx, double ry) {
  for (int j = 1; j < sizeY - 1; ++j) {
    const double c = centre[j];
    const double partial = rx * ((up[j] - 2.0 * c) + down[j]) + c;
    out[j] = partial + ry * ((centre[j - 1] - 2.0 * c) + centre[j + 1]);
  }
  out[0] = centre[1];
  out[sizeY - 1] = centre[sizeY - 2];
}

}  // namespace

// On x86-64 the kernel is also compiled for AVX2 and the loader picks the widest version the
// processor runs, while the default build still runs everywhere. Every lane performs the same
// IEEE-754 operations in the same order (contraction into fused multiply-adds is off), so both
// versions produce the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__)
__attribute__((target_clones("avx2", "default")))
#endif
void compute(double** T0, double** T1, const int& sizeX, const int& sizeY, const double* ghost_top,
             const double* ghost_bottom, const double& dx, const double& dy, const double& dt,
             const int& rank, const int& process_count) {
  // Product first, then quotient: dt / dx / dx would round differently.
  const double rx = dt / (dx * dx);
  const double ry = dt / (dy * dy);
  const int last = sizeX - 1;
  const bool first_process = rank == 0;
  const bool last_process = rank == process_count - 1;

  if (first_process) {
    std::copy(ghost_top, ghost_top + sizeY, T1[0]);
  } else {
    update_row(T1[0], ghost_top, T0[0], T0[1], sizeY, rx, ry);
  }
  for (int i = 1; i < last; ++i) update_row(T1[i], T0[i - 1], T0[i], T0[i + 1], sizeY, rx, ry);
  if (last_process) {
    std::copy(ghost_bottom, ghost_bottom + sizeY, T1[last]);
  } else {
    update_row(T1[last], T0[last - 1], T0[last], ghost_bottom, sizeY, rx, ry);
  }
}
