// Whether a problem of heat2d-study makes sense for the number of processes.
#include "study/check_problem.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The stability condition exactly as the check evaluates it.
bool stable(double dt, double dx, double dy) {
  return dt * (1.0 / (dx * dx) + 1.0 / (dy * dy)) <= 0.5;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

}  // namespace

double largest_stable_dt(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
  const double dx = 1.0 / NUMBER_OF_NODES_X;
  const double dy = 1.0 / NUMBER_OF_NODES_Y;
  const double limit = 0.5 / (1.0 / (dx * dx) + 1.0 / (dy * dy));
  const double scale = std::pow(10.0, std::floor(std::log10(limit)) - 5);
  double dt = std::floor(limit / scale) * scale;
  while (!stable(std::strtod(format("%.6g", dt).c_str(), nullptr), dx, dy)) dt -= scale;
  return std::strtod(format("%.6g", dt).c_str(), nullptr);
}

std::string check_problem(const StudyOptions& options, const int& process_count) {
  const StudyOptions& o = options;
  if (o.rows < 2) return "--rows " + std::to_string(o.rows) + " is too few: at least 2";
  if (o.rows < 2 * process_count) {
    return "--rows " + std::to_string(o.rows) + " is too few for " + std::to_string(process_count) +
           " processes: every strip needs two rows, so at least " +
           std::to_string(2 * process_count) + " rows, or at most " + std::to_string(o.rows / 2) +
           " processes";
  }
  if (o.cols < 2) {
    return "--cols " + std::to_string(o.cols) +
           " is too few: at least 2 (each side column copies its inner neighbour)";
  }
  if (o.steps < 1) return "--steps " + std::to_string(o.steps) + " is too few: at least 1";
  if (o.every < 0) {
    return "--every " + std::to_string(o.every) + " is negative: 0 writes no snapshots";
  }
  if (!(o.dt > 0.0)) return format("--dt %g is not positive", o.dt);
  if (!stable(o.dt, 1.0 / o.rows, 1.0 / o.cols)) {
    return format("--dt %g is unstable", o.dt) + " on a " + std::to_string(o.rows) + " x " +
           std::to_string(o.cols) + " grid: the scheme needs dt*(1/dx^2 + 1/dy^2) <= 1/2, so " +
           format("--dt %.6g at most", largest_stable_dt(o.rows, o.cols));
  }
  return "";
}
