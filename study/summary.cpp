// The figures of a heat2d-study run, for people or for scripts.
#include "study/summary.hpp"

#include <algorithm>
#include <cstdlib>

#include "common/json_line.hpp"
#include "study/wording.hpp"

namespace {

// "as strips" or "as 2 x 3 blocks".
std::string layout(const RunSetup& r) {
  if (r.split == Split::strips) return "as strips";
  return "as " + std::to_string(r.procs.px) + " x " + std::to_string(r.procs.py) + " blocks";
}

// "400 steps" or, after a restart, "steps 101 to 400".
std::string steps_run(const RunSetup& r) {
  if (r.first_step == 0) return count_of(r.steps, "step", "steps");
  return "steps " + std::to_string(r.first_step + 1) + " to " + std::to_string(r.steps);
}

// "  saved  3 fields in 0.2 s ..." when any was saved.
std::string saved(const RunFigures& f) {
  if (f.fields_saved == 0) return "";
  return "  saved               " + count_of(f.fields_saved, "field", "fields") + " in " +
         format("%.3g", f.time.save_seconds) + " s (slowest process)\n";
}

// Each thread's share of the cells rank 0 computed, separated by `separator`.
std::string shares(const ThreadFigures& t, const char* separator) {
  long long total = 0;
  for (long long cells : t.cells) total += cells;
  std::string text;
  for (long long cells : t.cells) {
    if (!text.empty()) text += separator;
    text += format("%.4g", total > 0 ? static_cast<double>(cells) / total : 0.0);
  }
  return text;
}

// "1 thread per process" or "2 threads per process on 2 cores, shares 0.5 / 0.5 of rank 0's
// cells".
std::string threads_text(const ThreadFigures& t) {
  const std::string cores =
      t.cores > 0 ? " on " + count_of(t.cores, "core", "cores") + (t.cores < t.threads ? "!" : "")
                  : "";
  const std::string fewer = t.asked > t.threads
                                ? " (" + std::to_string(t.asked) +
                                      " asked for, but the host's processes would have " +
                                      "taken turns on its cores)"
                                : "";
  if (t.threads == 1) return "1 thread per process" + cores + fewer;
  return count_of(t.threads, "thread", "threads") + " per process" + cores + fewer + ", shares " +
         shares(t, " / ") + " of rank 0's cells";
}

// "one step a pass", "8 steps a pass over 6 tiles of 512 columns" or "8 steps a pass over the
// whole block" (a tile's width then says nothing: the pass covers the block's skewed columns).
std::string passes_text(const PassFigures& p) {
  const std::string chosen = p.automatic ? " (--fuse auto)" : "";
  if (p.pass_length == 1) return "one step a pass, ghost cells one deep" + chosen;
  const std::string over = p.tiles == 1 ? "the whole block"
                                        : std::to_string(p.tiles) + " tiles of " +
                                              std::to_string(p.tile_width) + " columns";
  return std::to_string(p.pass_length) + " steps a pass over " + over + ", ghost zones " +
         std::to_string(p.pass_length) + " deep" + chosen;
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
         spread_line("update", f.time.update) + spread_line("exchange", f.time.exchange) +
         (f.fields_saved > 0 ? spread_line("saving", f.time.save) : "") +
         "  busiest process     rank " + std::to_string(f.time.busiest) + " (the longest update)\n";
}

// A measured figure to six significant digits, as the text gives it; JSON has no infinity or NaN,
// so a figure that is not finite (a time too short to measure) is written as null.
Json measured(double value) {
  return std::strtod(format("%.6g", value).c_str(), nullptr);
}

// Each thread's share of the cells rank 0 computed.
Json thread_shares(const ThreadFigures& t) {
  long long total = 0;
  for (long long cells : t.cells) total += cells;
  Json shares = Json::array();
  for (long long cells : t.cells) {
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

// The multigrid's figures, for implicit methods.
Json json_solves(const SolveFigures& s) {
  Json shares = Json::array();
  for (double share : s.level_shares) shares.push_back(measured(share));
  Json messages = Json::array();
  for (double count : s.level_messages) messages.push_back(measured(count));
  return {
      {"solves", s.solves},
      {"cycles", s.cycles},
      {"cycles_per_solve", measured(s.solves > 0 ? static_cast<double>(s.cycles) / s.solves : 0.0)},
      {"most_cycles", s.most_cycles},
      {"reduction_per_cycle", measured(s.reduction)},
      {"seconds_per_cycle", measured(s.cycle_seconds)},
      {"level_shares", shares},
      {"level_grids", s.level_grids},
      {"distributed_levels", s.distributed_levels},
      {"messages_per_cycle", measured(s.messages_per_cycle)},
      {"level_messages_per_cycle", messages}};
}

// One key per line, in the order scripts have always read them; a new key is one more line.
std::string json_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  const RunSetup& r = f.setup;
  Json j;
  j["rows"] = r.grid.nx;
  j["cols"] = r.grid.ny;
  j["processes"] = r.processes;
  j["split"] = split_name(r.split);
  j["procs"] = Json::array({r.procs.px, r.procs.py});
  j["exchange"] = exchange_name(r.exchange);
  j["first_step"] = r.first_step;
  j["steps"] = r.steps;
  j["dt"] = r.dt;
  j["final_time"] = final_time;
  j["wall_seconds"] = measured(f.time.wall_seconds);
  j["seconds_per_step"] = measured(per_step);
  j["cell_updates_per_second"] = measured(updates);
  j["exchange_share"] = measured(f.time.exchange_share);
  j["bytes_per_step"] = f.traffic.bytes_per_step;
  j["stores"] = f.passes.streamed ? "streamed" : "cached";
  j["fields_saved"] = f.fields_saved;
  j["save_seconds"] = measured(f.time.save_seconds);
  j["max_error"] = f.exact ? measured(f.max_error) : Json(nullptr);
  j["threads"] = f.threads.threads;
  j["cores_per_process"] = f.threads.cores;
  j["host_load"] = measured(f.threads.host_load);
  j["thread_shares"] = thread_shares(f.threads);
  j["fuse"] = f.passes.pass_length;
  j["tile"] = f.passes.tile_width;
  j["tiles"] = f.passes.tiles;
  j["messages_per_step"] = measured(f.traffic.messages_per_step);
  j["per_process"] = {{"update_seconds", json_spread(f.time.update)},
                      {"exchange_seconds", json_spread(f.time.exchange)},
                      {"save_seconds", json_spread(f.time.save)},
                      {"busiest", f.time.busiest}};
  j["method"] = method_name(r.method);
  j["kernel"] = f.passes.kernel;
  j["threads_asked"] = f.threads.asked;
  j["multigrid"] = is_implicit(r.method) ? json_solves(f.solves) : Json(nullptr);
  j["peak_resident_bytes"] = measured(f.peak_bytes);
  return json_line(j) + "\n";
}

// "  multigrid  ..." lines for implicit methods.
std::string solves_text(const SolveFigures& s) {
  std::string levels;
  for (std::size_t l = 0; l < s.level_shares.size(); ++l) {
    levels +=
        (l == 0 ? "" : ", ") + s.level_grids[l] + format(" %.0f %%", 100.0 * s.level_shares[l]);
  }
  const double mean = s.solves > 0 ? static_cast<double>(s.cycles) / s.solves : 0.0;
  return "  multigrid           " + format("%.3g", mean) + " V-cycles per solve (at most " +
         std::to_string(s.most_cycles) + "), the residual " + format("%.3g", s.reduction) +
         " times smaller per cycle\n" + "  per cycle           " + format("%.3g", s.cycle_seconds) +
         " s, " + format("%.3g", s.messages_per_cycle) +
         " messages (most of any process); levels " + levels + "; " +
         std::to_string(s.distributed_levels) + " spread over the processes\n";
}

std::string text_summary(const RunFigures& f, double final_time, double per_step, double updates) {
  const RunSetup& r = f.setup;
  const PassFigures& p = f.passes;
  const std::string error =
      f.exact ? format("%.6g", f.max_error) +
                    " from the exact solution at t = " + format("%g", final_time)
              : "none: the exact solution applies only to heat2d's starting field";
  const std::string stores =
      p.pass_length > 1 ? "cached (passes of several steps keep their rows in the cache)"
                        : (p.streamed ? "streamed past the caches (" : "cached (") + p.cache + ")";
  const std::string method =
      is_implicit(r.method) ? std::string("  method              ") + method_name(r.method) + "\n" +
                                  solves_text(f.solves)
                            : "  passes              " + passes_text(p) + "\n" +
                                  "  stores              " + stores + ", kernel " + p.kernel + "\n";
  return "heat2d-study: " + std::to_string(r.grid.nx) + " x " + std::to_string(r.grid.ny) +
         " grid, " + count_of(r.processes, "process", "processes") + " " + layout(r) + ", " +
         steps_run(r) + " of dt = " + format("%g", r.dt) + " to t = " + format("%g", final_time) +
         "\n" + "  wall time           " + format("%.6g", f.time.wall_seconds) +
         " s (time loop, slowest process)\n" + "  time per step       " + format("%.6g", per_step) +
         " s\n" + "  cell updates        " + format("%.6g", updates) + " per second\n" +
         "  exchange            " + format("%.1f", 100.0 * f.time.exchange_share) +
         " % of the time, " + exchange_name(r.exchange) + " (largest share of any process)\n" +
         "  bytes sent          " + std::to_string(f.traffic.bytes_per_step) +
         " per step (most of any process), in " + format("%.3g", f.traffic.messages_per_step) +
         " messages\n" + "  threads             " + threads_text(f.threads) + "\n" + method +
         "  memory              " + format("%.3g", f.peak_bytes / (1024.0 * 1024.0)) +
         " MiB resident at most (largest process)\n" + saved(f) + per_process(f) +
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

TimeFigures time_figures(const std::vector<ProcessTimes>& times) {
  TimeFigures figures;
  figures.update = spread(times, &ProcessTimes::update_seconds);
  figures.exchange = spread(times, &ProcessTimes::exchange_seconds);
  figures.save = spread(times, &ProcessTimes::save_seconds);
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
  return figures;
}

std::string summary(const RunFigures& figures, bool json) {
  const RunFigures& f = figures;
  const RunSetup& r = f.setup;
  const double final_time = r.steps * r.dt;
  const int run = r.steps - r.first_step;
  const double per_step = f.time.wall_seconds / run;
  const double updates = static_cast<double>(r.grid.nx) * r.grid.ny * run / f.time.wall_seconds;
  return json ? json_summary(f, final_time, per_step, updates)
              : text_summary(f, final_time, per_step, updates);
}
