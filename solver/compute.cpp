// One explicit time step of the heat equation on one process's strip.
#include "solver/compute.hpp"

#include <algorithm>

#include "solver/stores.hpp"
#include "solver/update_span.hpp"

namespace {

// A strip spans the grid's width, so both ends of every row are insulated side cells.
template <bool Stream>
inline void update_row(double* out, const double* up, const double* centre, const double* down,
                       int sizeY, double rx, double ry) {
  update_span<Stream>(out, up, centre, down, 0, sizeY, sizeY, true, true, rx, ry);
}

// Every row of the strip. The case analysis happens once per row, not per cell: the first row of
// the grid (first process) and its last row (last process) are held by copying their ghost row,
// which holds their own values. Inlined into compute, so that it is compiled for AVX2 with it.
template <bool Stream>
__attribute__((always_inline)) inline void update_strip(double** T0, double** T1, int sizeX,
                                                        int sizeY, const double* ghost_top,
                                                        const double* ghost_bottom, double rx,
                                                        double ry, bool first, bool last) {
  const int end = sizeX - 1;
  if (first) {
    std::copy(ghost_top, ghost_top + sizeY, T1[0]);
  } else {
    update_row<Stream>(T1[0], ghost_top, T0[0], T0[1], sizeY, rx, ry);
  }
  for (int i = 1; i < end; ++i) {
    update_row<Stream>(T1[i], T0[i - 1], T0[i], T0[i + 1], sizeY, rx, ry);
  }
  if (last) {
    std::copy(ghost_bottom, ghost_bottom + sizeY, T1[end]);
  } else {
    update_row<Stream>(T1[end], T0[end - 1], T0[end], ghost_bottom, sizeY, rx, ry);
  }
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
  const bool first = rank == 0;
  const bool last = rank == process_count - 1;
  if (streams(2.0 * sizeX * sizeY * sizeof(double))) {
    update_strip<true>(T0, T1, sizeX, sizeY, ghost_top, ghost_bottom, rx, ry, first, last);
    finish_streaming();
  } else {
    update_strip<false>(T0, T1, sizeX, sizeY, ghost_top, ghost_bottom, rx, ry, first, last);
  }
}
