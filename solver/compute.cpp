// One explicit time step of the heat equation on one process's strip.
#include "solver/compute.hpp"

#include "solver/span_kernel.hpp"
#include "solver/stores.hpp"

void compute(double** T0, double** T1, const int& sizeX, const int& sizeY, const double* ghost_top,
             const double* ghost_bottom, const double& dx, const double& dy, const double& dt,
             const int& rank, const int& process_count) {
  const Scheme scheme = make_scheme(dx, dy, dt);
  const StripEdges edges = {ghost_top, ghost_bottom, rank == 0, rank == process_count - 1};
  // The rows of heat2d's fields are allocated one by one, so no kernel may read beyond them.
  static const Cpu cpu = this_cpu();
  const SpanKernel kernel =
      choose_span_kernel(cpu, streams(Stores::automatic, sizeX, sizeY), false, sizeY);
  kernel.strip(T0, T1, sizeX, sizeY, edges, scheme);
  if (kernel.streams) finish_streaming();
}
