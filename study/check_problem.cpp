// Whether a problem of heat2d-study makes sense for the processes that run it.
#include "study/check_problem.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "study/wording.hpp"

namespace {

// The stability condition exactly as the check evaluates it.
bool stable(double dt, double dx, double dy) {
  return dt * (1.0 / (dx * dx) + 1.0 / (dy * dy)) <= 0.5;
}

std::string grid_problem(const GridSize& grid) {
  // The first and last rows are held and the side columns copy their neighbours: with fewer than
  // three of either, no cell is ever updated.
  if (grid.nx < 3) {
    return "--rows " + std::to_string(grid.nx) +
           " is too few: at least 3 (the first and last rows are held, so the field needs a row "
           "between them to change)";
  }
  if (grid.ny < 3) {
    return "--cols " + std::to_string(grid.ny) +
           " is too few: at least 3 (both side columns copy their inner neighbour, so the field "
           "needs a column between them to change)";
  }
  return "";
}

std::string counts_problem(const StudyOptions& o) {
  const OutputOptions& out = o.output;
  if (o.problem.steps < 1) {
    return "--steps " + std::to_string(o.problem.steps) + " is too few: at least 1";
  }
  if (out.every < 0) {
    return "--every " + std::to_string(out.every) + " is negative: 0 writes no snapshots";
  }
  if (out.save_every < 0) {
    return "--save-every " + std::to_string(out.save_every) + " is negative: 0 saves only the end";
  }
  if (out.monitor < 0) {
    return "--monitor " + std::to_string(out.monitor) + " is negative: 0 reports no progress";
  }
  if (out.save_every > 0 && out.save.empty()) {
    return "--save-every needs --save FILE.npy: the fields are saved beside it as FILE.S.npy";
  }
  return "";
}

std::string time_step_problem(const StudyOptions& o) {
  const ProblemOptions& p = o.problem;
  if (!(p.dt > 0.0)) return format("--dt %g is not positive", p.dt);
  if (is_implicit(o.method.method) || stable(p.dt, spacing(p.grid.nx), spacing(p.grid.ny))) {
    return "";
  }
  return format("--dt %g is unstable", p.dt) + " on a " + std::to_string(p.grid.nx) + " x " +
         std::to_string(p.grid.ny) + " grid: the scheme needs dt*(1/dx^2 + 1/dy^2) <= 1/2, so " +
         format("--dt %.6g at most", largest_stable_dt(p.grid)) +
         " (an implicit --method takes any time step)";
}

std::string method_problem(const StudyOptions& o) {
  const MethodOptions& m = o.method;
  if (!(m.tolerance > 0.0 && m.tolerance < 1.0)) {
    return "--tolerance " + format("%g", m.tolerance) +
           " is out of range: a residual reduction between 0 and 1, such as 1e-10";
  }
  if (m.cycles < 0) return "--cycles " + std::to_string(m.cycles) + " is negative";
  if (m.most_cycles < 1) {
    return "--most-cycles " + std::to_string(m.most_cycles) + " is too few: at least 1";
  }
  if (is_implicit(m.method) && o.parallel.exchange == Exchange::overlap) {
    return std::string("--method ") + method_name(m.method) +
           " does not combine with --exchange overlap: the multigrid exchanges its halos between "
           "the sweeps of its smoother";
  }
  if (is_implicit(m.method) && o.parallel.pass_length > 1) {
    return "--fuse " + std::to_string(o.parallel.pass_length) + " does not combine with --method " +
           method_name(m.method) + ": an implicit step solves for the whole field at once";
  }
  return "";
}

std::string split_problem(const StudyOptions& o, int process_count, const ProcessGrid& processes) {
  const GridSize& grid = o.problem.grid;
  const ProcessGrid& procs = o.parallel.procs;
  const bool procs_given = procs.px > 0;
  if (o.parallel.split == Split::strips) {
    if (procs_given) {
      return "--procs chooses the process grid of --split blocks; strips are always P x 1";
    }
    if (grid.nx < 2 * process_count) {
      return "--rows " + std::to_string(grid.nx) + " is too few for " +
             count_of(process_count, "process", "processes") +
             ": every strip needs two rows, so at least " + std::to_string(2 * process_count) +
             " rows, or at most " + count_of(grid.nx / 2, "process", "processes");
    }
    return "";
  }
  const long long asked = static_cast<long long>(procs.px) * procs.py;
  if (procs_given && asked != process_count) {
    return "--procs " + std::to_string(procs.px) + "x" + std::to_string(procs.py) + " is " +
           count_of(asked, "process", "processes") + ", but " + std::to_string(process_count) +
           (process_count == 1 ? " was" : " were") + " started";
  }
  return check_process_grid(grid, processes);
}

// A pass of K steps takes its ghost zones, K deep, from the blocks beside it alone.
std::string depth_problem(const StudyOptions& o, const ProcessGrid& processes) {
  const int length = o.parallel.pass_length;
  const int rows = o.problem.grid.nx / processes.px;
  const int cols = o.problem.grid.ny / processes.py;
  const bool rows_short = processes.px > 1 && rows < length;
  const bool cols_short = processes.py > 1 && cols < length;
  if (!rows_short && !cols_short) return "";
  const int deepest = rows_short && cols_short ? std::min(rows, cols) : rows_short ? rows : cols;
  const std::string what =
      rows_short ? count_of(rows, "row", "rows") : count_of(cols, "column", "columns");
  return "--fuse " + std::to_string(length) + " is deeper than the blocks: the " +
         std::to_string(processes.px) + "x" + std::to_string(processes.py) +
         " process grid leaves blocks of " + what +
         ", and a pass takes its ghost zones from the neighbouring blocks alone; --fuse " +
         std::to_string(deepest) + " at most";
}

std::string passes_problem(const StudyOptions& o, const ProcessGrid& processes, int cores) {
  const ParallelOptions& p = o.parallel;
  // Unless the command line gave it, the count came from the environment.
  const std::string threads =
      (o.given.threads ? "--threads " : "OMP_NUM_THREADS=") + std::to_string(p.threads);
  if (p.threads < 1) return threads + " is too few: at least 1";
  if (p.threads > most_threads(cores)) {
    return threads + " is too many for a host of " + count_of(cores, "core", "cores") +
           ": at most " + std::to_string(most_threads(cores)) +
           " (more would only take turns on the cores)";
  }
  if (p.pass_length > 1 && p.exchange == Exchange::overlap) {
    return "--fuse " + std::to_string(p.pass_length) +
           " does not combine with --exchange overlap, which exchanges one cell deep every step: "
           "--fuse 1 at most with it";
  }
  return depth_problem(o, processes);
}

}  // namespace

bool stable_time_step(double dt, const GridSize& grid) {
  return stable(dt, spacing(grid.nx), spacing(grid.ny));
}

double largest_stable_dt(const GridSize& grid) {
  const double dx = spacing(grid.nx);
  const double dy = spacing(grid.ny);
  const double limit = 0.5 / (1.0 / (dx * dx) + 1.0 / (dy * dy));
  const double scale = std::pow(10.0, std::floor(std::log10(limit)) - 5);
  double dt = std::floor(limit / scale) * scale;
  while (!stable(std::strtod(format("%.6g", dt).c_str(), nullptr), dx, dy)) dt -= scale;
  return std::strtod(format("%.6g", dt).c_str(), nullptr);
}

int most_threads(int cores) {
  return 4 * std::max(1, cores);
}

int steps_to_reach(double until, double dt) {
  const double steps = std::ceil(until / dt * (1.0 - 1e-9));
  if (!(steps <= INT_MAX)) return 0;
  return std::max(1, static_cast<int>(steps));
}

std::string check_problem(const StudyOptions& options, int process_count,
                          const ProcessGrid& processes, int cores) {
  std::string problem = grid_problem(options.problem.grid);
  if (problem.empty()) problem = counts_problem(options);
  if (problem.empty()) problem = time_step_problem(options);
  if (problem.empty()) problem = method_problem(options);
  if (problem.empty()) problem = split_problem(options, process_count, processes);
  if (problem.empty()) problem = passes_problem(options, processes, cores);
  return problem;
}
