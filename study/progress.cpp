// Progress of a long run, on one line: the step reached, the simulated time, the time per step so
// far and the time left.
#include "study/progress.hpp"

#include <cstdio>

#include "study/wording.hpp"

namespace {

// "0.8 s", "3 min 20 s", "2 h 05 min".
std::string duration(double seconds) {
  if (seconds < 60) return format("%.2g s", seconds);
  const long whole = static_cast<long>(seconds + 0.5);
  const auto two_digits = [](long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  if (whole < 3600) return std::to_string(whole / 60) + " min " + two_digits(whole % 60) + " s";
  return std::to_string(whole / 3600) + " h " + two_digits(whole / 60 % 60) + " min";
}

}  // namespace

std::string progress_line(const Progress& p, int done, double elapsed) {
  const int run = done - p.first_step;
  const double per_step = run > 0 ? elapsed / run : 0.0;
  return "step " + std::to_string(done) + " of " + std::to_string(p.steps) +
         " (t = " + format("%g", done * p.dt) + "), " + format("%.3g", per_step * 1e3) +
         " ms per step, about " + duration(per_step * (p.steps - done)) + " left";
}

void report_progress(const Progress& p, int done, double elapsed) {
  const std::string line = "heat2d-study: " + progress_line(p, done, elapsed);
  if (p.terminal) {
    // Blanks after the text clear what a longer earlier line left.
    std::fprintf(stderr, "\r%s   %s", line.c_str(), done == p.steps ? "\n" : "");
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}
