// One explicit time step of the heat equation on one process's strip.
#include "solver/compute.hpp"

#include "solver/stores.hpp"
#include "solver/update_strip.hpp"

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
  const Scheme scheme = make_scheme(dx, dy, dt);
  const StripEdges edges = {ghost_top, ghost_bottom, rank == 0, rank == process_count - 1};
  if (streams_layers(sizeX, sizeY)) {
    update_strip<true>(T0, T1, sizeX, sizeY, edges, scheme);
    finish_streaming();
  } else {
    update_strip<false>(T0, T1, sizeX, sizeY, edges, scheme);
  }
}
