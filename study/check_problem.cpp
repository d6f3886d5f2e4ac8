// Whether a problem of heat2d-study makes sense for the processes that run it.
#include "study/check_problem.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "study/wording.hpp"

namespace {

// The stability condition exactly as the check evaluates it.
bool stable(double dt, double dx, double dy) {
  return dt * (1.0 / (dx * dx) + 1.0 / (dy * dy)) <= 0.5;
}

std::string grid_problem(const StudyOptions& o) {
  // The first and last rows are held and the side columns copy their neighbours: with fewer than
  // three of either, no cell is ever updated.
  if (o.rows < 3) {
    return "--rows " + std::to_string(o.rows) +
           " is too few: at least 3 (the first and last rows are held, so the field needs a row "
           "between them to change)";
  }
  if (o.cols < 3) {
    return "--cols " + std::to_string(o.cols) +
           " is too few: at least 3 (both side columns copy their inner neighbour, so the field "
           "needs a column between them to change)";
  }
  return "";
}

std::string counts_problem(const StudyOptions& o) {
  if (o.steps < 1) return "--steps " + std::to_string(o.steps) + " is too few: at least 1";
  if (o.every < 0) {
    return "--every " + std::to_string(o.every) + " is negative: 0 writes no snapshots";
  }
  if (o.save_every < 0) {
    return "--save-every " + std::to_string(o.save_every) + " is negative: 0 saves only the end";
  }
  if (o.monitor < 0) {
    return "--monitor " + std::to_string(o.monitor) + " is negative: 0 reports no progress";
  }
  if (o.save_every > 0 && o.save.empty()) {
    return "--save-every needs --save FILE.npy: the fields are saved beside it as FILE.S.npy";
  }
  return "";
}

std::string time_step_problem(const StudyOptions& o) {
  if (!(o.dt > 0.0)) return format("--dt %g is not positive", o.dt);
  if (!stable(o.dt, 1.0 / o.rows, 1.0 / o.cols)) {
    return format("--dt %g is unstable", o.dt) + " on a " + std::to_string(o.rows) + " x " +
           std::to_string(o.cols) + " grid: the scheme needs dt*(1/dx^2 + 1/dy^2) <= 1/2, so " +
           format("--dt %.6g at most", largest_stable_dt(o.rows, o.cols));
  }
  return "";
}

std::string split_problem(const StudyOptions& o, const int& process_count,
                          const ProcessGrid& grid) {
  const bool procs_given = o.procs.rows > 0;
  if (o.split == Split::strips) {
    if (procs_given) {
      return "--procs chooses the process grid of --split blocks; strips are always P x 1";
    }
    if (o.rows < 2 * process_count) {
      return "--rows " + std::to_string(o.rows) + " is too few for " +
             count_of(process_count, "process", "processes") +
             ": every strip needs two rows, so at least " + std::to_string(2 * process_count) +
             " rows, or at most " + count_of(o.rows / 2, "process", "processes");
    }
    return "";
  }
  if (procs_given && static_cast<long long>(o.procs.rows) * o.procs.cols != process_count) {
    return "--procs " + std::to_string(o.procs.rows) + "x" + std::to_string(o.procs.cols) + " is " +
           count_of(static_cast<long long>(o.procs.rows) * o.procs.cols, "process", "processes") +
           ", but " + std::to_string(process_count) + (process_count == 1 ? " was" : " were") +
           " started";
  }
  return check_process_grid(o.rows, o.cols, grid);
}

// The smallest block of the process grid: rows and columns split as strips split rows.
ProcessGrid smallest_block(const StudyOptions& o, const ProcessGrid& grid) {
  return {o.rows / grid.rows, o.cols / grid.cols};
}

// A pass of K steps takes its ghost zones, K deep, from the blocks beside it alone.
std::string depth_problem(const StudyOptions& o, const ProcessGrid& grid) {
  const ProcessGrid smallest = smallest_block(o, grid);
  const bool rows_short = grid.rows > 1 && smallest.rows < o.fuse;
  const bool cols_short = grid.cols > 1 && smallest.cols < o.fuse;
  if (!rows_short && !cols_short) return "";
  const int deepest = rows_short && cols_short ? std::min(smallest.rows, smallest.cols)
                      : rows_short             ? smallest.rows
                                               : smallest.cols;
  const std::string what = rows_short ? count_of(smallest.rows, "row", "rows")
                                      : count_of(smallest.cols, "column", "columns");
  return "--fuse " + std::to_string(o.fuse) + " is deeper than the blocks: the " +
         std::to_string(grid.rows) + "x" + std::to_string(grid.cols) +
         " process grid leaves blocks of " + what +
         ", and a pass takes its ghost zones from the neighbouring blocks alone; --fuse " +
         std::to_string(deepest) + " at most";
}

std::string passes_problem(const StudyOptions& o, const ProcessGrid& grid) {
  if (o.threads < 1) return "--threads " + std::to_string(o.threads) + " is too few: at least 1";
  if (o.tile != 0 && (o.tile < 16 || o.tile % 8 != 0)) {
    return "--tile " + std::to_string(o.tile) +
           " is not a whole number of cache lines: a multiple of 8 columns, at least 16";
  }
  if (o.fuse_auto) return "";
  if (o.fuse < 1) return "--fuse " + std::to_string(o.fuse) + " is too few: at least 1, or auto";
  if (o.fuse > 1 && o.exchange == Exchange::overlap) {
    return "--fuse " + std::to_string(o.fuse) +
           " does not combine with --exchange overlap, which trades one cell deep every step: "
           "--fuse 1 at most with it";
  }
  return depth_problem(o, grid);
}

}  // namespace

bool stable_time_step(const double& dt, const int& NUMBER_OF_NODES_X,
                      const int& NUMBER_OF_NODES_Y) {
  return stable(dt, 1.0 / NUMBER_OF_NODES_X, 1.0 / NUMBER_OF_NODES_Y);
}

double largest_stable_dt(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
  const double dx = 1.0 / NUMBER_OF_NODES_X;
  const double dy = 1.0 / NUMBER_OF_NODES_Y;
  const double limit = 0.5 / (1.0 / (dx * dx) + 1.0 / (dy * dy));
  const double scale = std::pow(10.0, std::floor(std::log10(limit)) - 5);
  double dt = std::floor(limit / scale) * scale;
  while (!stable(std::strtod(format("%.6g", dt).c_str(), nullptr), dx, dy)) dt -= scale;
  return std::strtod(format("%.6g", dt).c_str(), nullptr);
}

std::string check_problem(const StudyOptions& options, const int& process_count,
                          const ProcessGrid& grid) {
  std::string problem = grid_problem(options);
  if (problem.empty()) problem = counts_problem(options);
  if (problem.empty()) problem = time_step_problem(options);
  if (problem.empty()) problem = split_problem(options, process_count, grid);
  if (problem.empty()) problem = passes_problem(options, grid);
  return problem;
}
