// The time loop of one process, shared by heat2d and heat2d-study.
#include "solver/advance.hpp"

#include "output/write_layer.hpp"
#include "solver/swap_layers.hpp"
#include "solver/time_step.hpp"

void advance(double**& T0, double**& T1, const int& sizeX, const int& sizeY, const double& dx,
             const double& dy, const double& dt, const int& rank, const int& process_count,
             const int& steps, const int& every, SnapshotLosses& losses, double& exchange_seconds) {
  // Allocated once for the whole loop; the loop itself allocates nothing.
  double* send_top = new double[sizeY]();
  double* send_bottom = new double[sizeY]();
  double* ghost_top = new double[sizeY]();
  double* ghost_bottom = new double[sizeY]();

  for (int step = 0; step < steps; ++step) {
    time_step(T0, T1, sizeX, sizeY, send_top, send_bottom, ghost_top, ghost_bottom, dx, dy, dt,
              rank, process_count, exchange_seconds);
    // T1 now holds the strip after step + 1 updates; that is what the file labelled `step` holds.
    if (every > 0 && step % every == 0) {
      const int error = write_layer(T1, sizeX, sizeY, rank, step);
      if (error != 0) note_loss(losses, rank, step, error);
    }
    swap_layers(T0, T1);
  }
}
