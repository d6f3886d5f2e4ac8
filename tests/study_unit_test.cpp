// heat2d-study's arithmetic: the exact solution's two series, the largest stable time step, the
// memory a host needs, and the figures the summary gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/json_line.hpp"
#include "study/check_memory.hpp"
#include "study/check_problem.hpp"
#include "study/exact_solution.hpp"
#include "study/summary.hpp"

namespace {

// Where both series converge within a few dozen terms they must agree to the promised 1e-12, hold
// the edges at 100 and 0, and reach the steady straight line in the end.
TEST(ExactSolution, FourierAndImageSeriesAgreeAndHoldTheEdges) {
  for (double L : {1.0, 0.9, 0.999}) {
    for (double t : {1e-3, 1e-2, 0.05, 0.3}) {
      for (int k = 0; k <= 20; ++k) {
        const double x = L * k / 20;
        const double fourier = exact_solution_fourier(x, L, t);
        EXPECT_NEAR(fourier, exact_solution_images(x, L, t), 1e-12) << L << " " << t << " " << x;
        EXPECT_NEAR(fourier, exact_solution(x, L, t), 1e-12);
      }
      EXPECT_NEAR(exact_solution(0.0, L, t), 100.0, 1e-12);
      EXPECT_NEAR(exact_solution(L, L, t), 0.0, 1e-12);
    }
    EXPECT_NEAR(exact_solution(0.25 * L, L, 50.0), 75.0, 1e-12);
  }
  // A few steps on a fine grid: only the erfc form converges fast; the front has barely moved.
  EXPECT_NEAR(exact_solution(0.0, 1.0, 1e-9), 100.0, 1e-12);
  EXPECT_NEAR(exact_solution(1e-3, 1.0, 1e-9), 0.0, 1e-12);
  EXPECT_NEAR(exact_solution(1e-5, 1.0, 1e-9), 100.0 * std::erfc(1e-5 / (2 * std::sqrt(1e-9))),
              1e-12);
}

// The value named in the refusal must itself pass, and the next six-digit value above it fail.
TEST(LargestStableDt, PassesTheCheckAndIsTheLargestAtSixDigits) {
  const int grids[][2] = {{10, 10}, {37, 23}, {1000, 7}, {16384, 16384}, {3, 100000}};
  for (const auto& grid : grids) {
    StudyOptions options;
    options.rows = grid[0];
    options.cols = grid[1];
    options.dt = largest_stable_dt(grid[0], grid[1]);
    EXPECT_EQ(check_problem(options, 1, {1, 1}), "") << grid[0] << " x " << grid[1];
    const double digit = std::pow(10.0, std::floor(std::log10(options.dt)) - 5);
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", options.dt + digit);
    options.dt = std::strtod(text, nullptr);
    EXPECT_NE(check_problem(options, 1, {1, 1}).find("is unstable"), std::string::npos)
        << options.dt;
  }
  EXPECT_EQ(largest_stable_dt(10, 10), 0.0025);
}

// The processes of a host each hold their own block, so a host needs their sum: two 6 GiB
// blocks do not fit in 10 GiB. The memory available is the lower of the kernel's estimate and
// what the cgroup's limit leaves.
TEST(CheckMemory, AHostNeedsTheSumOfItsBlocksAndHasTheLowerOfItsLimits) {
  const double GIB = 1024.0 * 1024.0 * 1024.0;
  EXPECT_EQ(host_shortfall({6 * GIB, 6 * GIB}, 10 * GIB), 2 * GIB);
  const std::string meminfo = "MemTotal: 24000000 kB\nMemAvailable: 20000000 kB\nCached: 5 kB\n";
  EXPECT_EQ(available_memory(meminfo, "", ""), 20000000.0 * 1024);
  EXPECT_EQ(available_memory(meminfo, "max\n", "4096\n"), 20000000.0 * 1024);
  EXPECT_EQ(available_memory(meminfo, "8589934592\n", "1073741824\n"), 7 * GIB);
  EXPECT_EQ(available_memory("MemFree: 1 kB\n", "8589934592\n", "0\n"), 8 * GIB);
}

// The slowest process's time loop, and the largest share any process spent trading edges (not
// the slowest process's share): here process 1 is slowest, process 2 trades the most.
TEST(Summary, TimesAreTheSlowestLoopAndTheLargestExchangeShare) {
  RunFigures figures;
  set_times(figures, {{2.0, 0.5}, {3.0, 0.3}, {1.0, 0.9}, {2.5, 0.0}});
  EXPECT_EQ(figures.wall_seconds, 3.0);
  EXPECT_EQ(figures.exchange_share, 0.9);
}

// Scripts read the summary with any JSON parser: a figure that cannot be measured (a time loop too
// short for the clock gives infinitely many updates per second) is null, never inf or nan, and the
// keys keep the order and the kinds scripts know.
TEST(Summary, JsonIsStandardWithEveryKeyInItsPlace) {
  RunFigures figures;
  figures.split = "strips";
  figures.exchange = "blocking";
  figures.steps = 5;
  figures.dt = 1e-5;
  figures.exact = false;
  const std::string text = summary(figures, true);
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  const Json json = Json::parse(text);
  EXPECT_TRUE(json["cell_updates_per_second"].is_null() && json["max_error"].is_null());
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  const std::vector<std::string> expected = {"rows",
                                             "cols",
                                             "processes",
                                             "split",
                                             "procs",
                                             "exchange",
                                             "first_step",
                                             "steps",
                                             "dt",
                                             "final_time",
                                             "wall_seconds",
                                             "seconds_per_step",
                                             "cell_updates_per_second",
                                             "exchange_share",
                                             "bytes_per_step",
                                             "stores",
                                             "fields_saved",
                                             "save_seconds",
                                             "max_error"};
  EXPECT_EQ(keys, expected);
  EXPECT_TRUE(json["procs"].is_array() && json["bytes_per_step"].is_number_integer());
}

}  // namespace
