// The figures of a heat2d-study run, for people or for scripts.
#include "study/summary.hpp"

#include <cstdio>

std::string summary(const RunFigures& figures, bool json) {
  const RunFigures& f = figures;
  const double final_time = f.steps * f.dt;
  const double per_step = f.wall_seconds / f.steps;
  const double updates = static_cast<double>(f.rows) * f.cols * f.steps / f.wall_seconds;
  char text[1024];
  if (json) {
    std::snprintf(text, sizeof text,
                  "{\"rows\": %d, \"cols\": %d, \"processes\": %d, \"steps\": %d, \"dt\": %.17g, "
                  "\"final_time\": %.17g, \"wall_seconds\": %.6g, \"seconds_per_step\": %.6g, "
                  "\"cell_updates_per_second\": %.6g, \"exchange_share\": %.6g, "
                  "\"max_error\": %.6g}\n",
                  f.rows, f.cols, f.processes, f.steps, f.dt, final_time, f.wall_seconds, per_step,
                  updates, f.exchange_share, f.max_error);
  } else {
    std::snprintf(text, sizeof text,
                  "heat2d-study: %d x %d grid, %d process%s, %d steps of dt = %g to t = %g\n"
                  "  wall time           %.6g s (time loop, slowest process)\n"
                  "  time per step       %.6g s\n"
                  "  cell updates        %.6g per second\n"
                  "  row exchange        %.1f %% of the time (largest share of any process)\n"
                  "  largest difference  %.6g from the exact solution at t = %g\n",
                  f.rows, f.cols, f.processes, f.processes == 1 ? "" : "es", f.steps, f.dt,
                  final_time, f.wall_seconds, per_step, updates, 100.0 * f.exchange_share,
                  f.max_error, final_time);
  }
  return text;
}
