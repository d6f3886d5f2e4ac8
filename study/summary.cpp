// The figures of a heat2d-study run, for people or for scripts.
#include "study/summary.hpp"

#include <algorithm>
#include <cstdio>

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

// Each thread's share of the cells rank 0 computed, separated by `separator`.
std::string shares(const RunFigures& f, const char* separator) {
  long long total = 0;
  for (long long cells : f.thread_cells) total += cells;
  std::string text;
  for (long long cells : f.thread_cells) {
    if (!text.empty()) text += separator;
    text += format("%.4g", total > 0 ? static_cast<double>(cells) / total : 0.0);
  }
  return text;
}

// "1 thread" or "2 threads per process, shares 0.5 / 0.5 of rank 0's cells".
std::string threads_text(const RunFigures& f) {
  if (f.threads == 1) return "1 thread per process";
  return count_of(f.threads, "thread", "threads") + " per process, shares " + shares(f, " / ") +
         " of rank 0's cells";
}

// "one step a pass" or "8 steps a pass over tiles of 512 columns".
std::string passes_text(const RunFigures& f) {
  if (f.fuse == 1) return "one step a pass, ghost cells one deep";
  return std::to_string(f.fuse) + " steps a pass over tiles of " + std::to_string(f.tile) +
         " columns, ghost zones " + std::to_string(f.fuse) + " deep";
}

std::string json_spread(const Spread& s) {
  return format("{\"min\": %.6g, ", s.min) + format("\"mean\": %.6g, ", s.mean) +
         format("\"max\": %.6g, ", s.max) + format("\"imbalance\": %.6g}", s.imbalance());
}

// "    update   0.101 s   0.102 s   0.104 s   1.02"
std::string spread_line(const char* name, const Spread& s) {
  std::string label = std::string("    ") + name;
  label.resize(20, ' ');
  return label + format("%10.3g s", s.min) + format("%10.3g s", s.mean) +
         format("%10.3g s", s.max) + format("%10.3f\n", s.imbalance());
}

std::string per_process(const RunFigures& f) {
  return "  per process                min        mean         max  max/mean\n" +
         spread_line("update", f.update) + spread_line("exchange", f.exchange_time) +
         (f.fields_saved > 0 ? spread_line("saving", f.save) : "") + "  busiest process     rank " +
         std::to_string(f.busiest) + " (the longest update)\n";
}

std::string json_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  char text[4096];
  std::snprintf(
      text, sizeof text,
      "{\"rows\": %d, \"cols\": %d, \"processes\": %d, \"split\": \"%s\", "
      "\"procs\": [%d, %d], \"exchange\": \"%s\", \"first_step\": %d, \"steps\": %d, "
      "\"dt\": %.17g, \"final_time\": %.17g, \"wall_seconds\": %.6g, "
      "\"seconds_per_step\": %.6g, \"cell_updates_per_second\": %.6g, "
      "\"exchange_share\": %.6g, \"bytes_per_step\": %lld, \"stores\": \"%s\", "
      "\"fields_saved\": %d, \"save_seconds\": %.6g, \"max_error\": %s, "
      "\"threads\": %d, \"thread_shares\": [%s], \"fuse\": %d, \"tile\": %d, "
      "\"messages_per_step\": %.6g, \"per_process\": {\"update_seconds\": %s, "
      "\"exchange_seconds\": %s, \"save_seconds\": %s, \"busiest\": %d}}\n",
      f.rows, f.cols, f.processes, f.split.c_str(), f.procs[0], f.procs[1], f.exchange.c_str(),
      f.first_step, f.steps, f.dt, final_time, f.wall_seconds, per_step, updates, f.exchange_share,
      f.bytes_per_step, f.streamed ? "streamed" : "cached", f.fields_saved, f.save_seconds,
      f.exact ? format("%.6g", f.max_error).c_str() : "null", f.threads, shares(f, ", ").c_str(),
      f.fuse, f.tile, f.messages_per_step, json_spread(f.update).c_str(),
      json_spread(f.exchange_time).c_str(), json_spread(f.save).c_str(), f.busiest);
  return text;
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
         std::to_string(f.bytes_per_step) + " per step (most of any process), in " +
         format("%.3g", f.messages_per_step) + " messages\n" + "  threads             " +
         threads_text(f) + "\n" + "  passes              " + passes_text(f) + "\n" +
         "  stores              " + stores + "\n" + saved(f) + per_process(f) +
         "  largest difference  " + error + "\n";
}

}  // namespace

namespace {

Spread spread(const std::vector<ProcessTimes>& times, double ProcessTimes::*figure) {
  Spread s;
  if (times.empty()) return s;
  s.min = s.max = times[0].*figure;
  for (const ProcessTimes& t : times) {
    s.min = std::min(s.min, t.*figure);
    s.max = std::max(s.max, t.*figure);
    s.mean += t.*figure / times.size();
  }
  return s;
}

}  // namespace

void set_times(RunFigures& figures, const std::vector<ProcessTimes>& times) {
  figures.wall_seconds = 0.0;
  figures.exchange_share = 0.0;
  figures.save_seconds = 0.0;
  figures.update = spread(times, &ProcessTimes::update_seconds);
  figures.exchange_time = spread(times, &ProcessTimes::exchange_seconds);
  figures.save = spread(times, &ProcessTimes::save_seconds);
  figures.busiest = 0;
  for (std::size_t rank = 0; rank < times.size(); ++rank) {
    if (times[rank].update_seconds > times[figures.busiest].update_seconds) {
      figures.busiest = static_cast<int>(rank);
    }
  }
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
