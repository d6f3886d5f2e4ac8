// The figures of a heat2d-study run, for people or for scripts.
#include "study/summary.hpp"

#include <algorithm>
#include <cstdlib>

#include "common/json_line.hpp"
#include "study/wording.hpp"

namespace {

// "as strips" or "as 2 x 3 blocks".
std::string layout(const RunFigures& f) {
  if (f.split == "strips") return "as strips";
  return "as " + std::to_string(f.procs[0]) + " x " + std::to_string(f.procs[1]) + " blocks";
}

// "400 steps" or, after a restart, "steps 101 to 400".
std::string steps_run(const RunFigures& f) {
  if (f.first_step == 0) return count_of(f.steps, "step", "steps");
  return "steps " + std::to_string(f.first_step + 1) + " to " + std::to_string(f.steps);
}

// "  saved  3 fields in 0.2 s ..." when any was saved.
std::string saved(const RunFigures& f) {
  if (f.fields_saved == 0) return "";
  return "  saved               " + count_of(f.fields_saved, "field", "fields") + " in " +
         format("%.3g", f.save_seconds) + " s (slowest process)\n";
}

// A measured figure to six significant digits, as the text gives it; JSON has no infinity or NaN,
// so a figure that is not finite (a time too short to measure) is written as null.
Json measured(double value) {
  return std::strtod(format("%.6g", value).c_str(), nullptr);
}

// One key per line, in the order scripts have always read them; a new key is one more line.
std::string json_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  Json j;
  j["rows"] = f.rows;
  j["cols"] = f.cols;
  j["processes"] = f.processes;
  j["split"] = f.split;
  j["procs"] = Json::array({f.procs[0], f.procs[1]});
  j["exchange"] = f.exchange;
  j["first_step"] = f.first_step;
  j["steps"] = f.steps;
  j["dt"] = f.dt;
  j["final_time"] = final_time;
  j["wall_seconds"] = measured(f.wall_seconds);
  j["seconds_per_step"] = measured(per_step);
  j["cell_updates_per_second"] = measured(updates);
  j["exchange_share"] = measured(f.exchange_share);
  j["bytes_per_step"] = f.bytes_per_step;
  j["stores"] = f.streamed ? "streamed" : "cached";
  j["fields_saved"] = f.fields_saved;
  j["save_seconds"] = measured(f.save_seconds);
  j["max_error"] = f.exact ? measured(f.max_error) : Json(nullptr);
  return json_line(j) + "\n";
}

std::string text_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  const std::string error =
      f.exact ? format("%.6g", f.max_error) +
                    " from the exact solution at t = " + format("%g", final_time)
              : "none: the exact solution applies only to heat2d's starting field";
  const std::string stores =
      (f.streamed ? "streamed past the caches (" : "cached (") + f.cache + ")";
  return "heat2d-study: " + std::to_string(f.rows) + " x " + std::to_string(f.cols) + " grid, " +
         count_of(f.processes, "process", "processes") + " " + layout(f) + ", " + steps_run(f) +
         " of dt = " + format("%g", f.dt) + " to t = " + format("%g", final_time) + "\n" +
         "  wall time           " + format("%.6g", f.wall_seconds) +
         " s (time loop, slowest process)\n" + "  time per step       " + format("%.6g", per_step) +
         " s\n" + "  cell updates        " + format("%.6g", updates) + " per second\n" +
         "  exchange            " + format("%.1f", 100.0 * f.exchange_share) + " % of the time, " +
         f.exchange + " (largest share of any process)\n" + "  bytes sent          " +
         std::to_string(f.bytes_per_step) + " per step (most of any process)\n" +
         "  stores              " + stores + "\n" + saved(f) + "  largest difference  " + error +
         "\n";
}

}  // namespace

void set_times(RunFigures& figures, const std::vector<ProcessTimes>& times) {
  figures.wall_seconds = 0.0;
  figures.exchange_share = 0.0;
  figures.save_seconds = 0.0;
  for (const ProcessTimes& t : times) {
    figures.wall_seconds = std::max(figures.wall_seconds, t.loop_seconds);
    figures.save_seconds = std::max(figures.save_seconds, t.save_seconds);
    if (t.loop_seconds > 0.0) {
      figures.exchange_share =
          std::max(figures.exchange_share, t.exchange_seconds / t.loop_seconds);
    }
  }
}

std::string summary(const RunFigures& figures, bool json) {
  const RunFigures& f = figures;
  const double final_time = f.steps * f.dt;
  const int run = f.steps - f.first_step;
  const double per_step = f.wall_seconds / run;
  const double updates = static_cast<double>(f.rows) * f.cols * run / f.wall_seconds;
  return json ? json_summary(f, final_time, per_step, updates)
              : text_summary(f, final_time, per_step, updates);
}
