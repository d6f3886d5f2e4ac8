// One explicit time step of the heat equation on one process's strip.
#include "solver/compute.hpp"

#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "solver/stream_row.hpp"
#include "solver/update_cell.hpp"

namespace {

// A row that is not held: the update on the inner columns, and the insulated side columns copying
// their inner neighbour from the current layer (so they lag one step behind). A branch-free loop
// the compiler vectorises.
inline void cached_row(double* __restrict out, const double* __restrict up,
                       const double* __restrict centre, const double* __restrict down, int sizeY,
                       double rx, double ry) {
  for (int j = 1; j < sizeY - 1; ++j) {
    out[j] = update_cell(up[j], centre[j], down[j], centre[j - 1], centre[j + 1], rx, ry);
  }
  out[0] = centre[1];
  out[sizeY - 1] = centre[sizeY - 2];
}

// A row that is not held, written past the caches when Stream and where that is possible.
template <bool Stream>
inline void update_row(double* out, const double* up, const double* centre, const double* down,
                       int sizeY, double rx, double ry) {
  if (!Stream || !stream_row(out, up, centre, down, sizeY, rx, ry)) {
    cached_row(out, up, centre, down, sizeY, rx, ry);
  }
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

// The last-level cache of this processor, as the kernel describes it (glibc's sysconf reports the
// whole package's L3 on some AMD processors, eight times the 32 MiB one core can use).
double last_level_cache_bytes() {
  std::ifstream size_file("/sys/devices/system/cpu/cpu0/cache/index3/size");
  double kib = 0.0;
  if (size_file >> kib && kib > 0.0) return kib * 1024.0;
  long bytes = -1;
#ifdef _SC_LEVEL3_CACHE_SIZE
  bytes = sysconf(_SC_LEVEL3_CACHE_SIZE);
#endif
  return bytes > 0 ? static_cast<double>(bytes) : 32.0 * 1024 * 1024;
}

// Streamed stores pay once the two layers no longer fit in the last-level cache: the layer being
// written would be evicted before the next step reads it anyway, and streaming saves reading it in
// before writing it. Below that size they would push a layer the next step needs out to memory.
bool layers_exceed_cache(int sizeX, int sizeY) {
  static const double cache_bytes = last_level_cache_bytes();
  return 2.0 * sizeX * sizeY * sizeof(double) > cache_bytes;
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
  if (layers_exceed_cache(sizeX, sizeY)) {
    update_strip<true>(T0, T1, sizeX, sizeY, ghost_top, ghost_bottom, rx, ry, first, last);
    finish_streaming();
  } else {
    update_strip<false>(T0, T1, sizeX, sizeY, ghost_top, ghost_bottom, rx, ry, first, last);
  }
}
