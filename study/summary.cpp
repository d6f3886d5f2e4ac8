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

// "1 thread per process" or "2 threads per process on 2 cores, shares 0.5 / 0.5 of rank 0's
// cells".
std::string threads_text(const RunFigures& f) {
  const std::string cores =
      f.cores > 0 ? " on " + count_of(f.cores, "core", "cores") + (f.cores < f.threads ? "!" : "")
                  : "";
  if (f.threads == 1) return "1 thread per process" + cores;
  return count_of(f.threads, "thread", "threads") + " per process" + cores + ", shares " +
         shares(f, " / ") + " of rank 0's cells";
}

// "one step a pass" or "8 steps a pass over tiles of 512 columns".
std::string passes_text(const RunFigures& f) {
  if (f.fuse == 1) return "one step a pass, ghost cells one deep";
  return std::to_string(f.fuse) + " steps a pass over tiles of " + std::to_string(f.tile) +
         " columns, ghost zones " + std::to_string(f.fuse) + " deep";
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

// A measured figure to six significant digits, as the text gives it; JSON has no infinity or NaN,
// so a figure that is not finite (a time too short to measure) is written as null.
Json measured(double value) {
  return std::strtod(format("%.6g", value).c_str(), nullptr);
}

// Each thread's share of the cells rank 0 computed.
Json thread_shares(const RunFigures& f) {
  long long total = 0;
  for (long long cells : f.thread_cells) total += cells;
  Json shares = Json::array();
  for (long long cells : f.thread_cells) {
    shares.push_back(measured(total > 0 ? static_cast<double>(cells) / total : 0.0));
  }
  return shares;
}

Json json_spread(const Spread& s) {
  return {{"min", measured(s.min)},
          {"mean", measured(s.mean)},
          {"max", measured(s.max)},
          {"imbalance", measured(s.imbalance())}};
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
  j["threads"] = f.threads;
  j["cores_per_process"] = f.cores;
  j["host_load"] = measured(f.host_load);
  j["thread_shares"] = thread_shares(f);
  j["fuse"] = f.fuse;
  j["tile"] = f.tile;
  j["messages_per_step"] = measured(f.messages_per_step);
  j["per_process"] = {{"update_seconds", json_spread(f.update)},
                      {"exchange_seconds", json_spread(f.exchange_time)},
                      {"save_seconds", json_spread(f.save)},
                      {"busiest", f.busiest}};
  return json_line(j) + "\n";
}

std::string text_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  const std::string error =
      f.exact ? format("%.6g", f.max_error) +
                    " from the exact solution at t = " + format("%g", final_time)
              : "none: the exact solution applies only to heat2d's starting field";
  const std::string stores =
      f.fuse > 1 ? "cached (passes of several steps keep their rows in the cache)"
                 : (f.streamed ? "streamed past the caches (" : "cached (") + f.cache + ")";
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
