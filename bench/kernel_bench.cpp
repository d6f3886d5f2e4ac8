// Steps of a one-process heat2d-study run against the fastest plain copy of a layer of the same
// size (a vectorised loop, memcpy and streamed stores, each on the step's own layers and on rows
// allocated plainly one after another), for passes of K steps over tiles, and against the same
// update on a field small enough to stay in the core's own cache. Every kind is measured in turn in
// every round, so that the machine's drift affects them alike; prints the medians as a table.
//
// Usage: kernel_bench [--rounds R] [--sizes N,...] [--fuse K,...] [--tile W] [--threads T]
//        (default: 15 rounds, N = 1024,4096, K = 1,2,4,8,16,32, the tile from the cache, 1 thread)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

#include "common/allocate_field.hpp"
#include "copies.hpp"
#include "solver/cache_size.hpp"
#include "solver/pass_plan.hpp"
#include "solver/stores.hpp"
#include "stepping/explicit_stepper.hpp"

namespace {

// Steps in every measurement: a multiple of every K measured.
constexpr int STEPS = 32;

struct Settings {
  int rounds = 15;
  std::vector<int> sizes = {1024, 4096};
  std::vector<int> fuses = {1, 2, 4, 8, 16, 32};
  int tile = 0;
  int threads = 1;
};

double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Rows allocated one after another on cache lines, with nothing between them.
double** plain_field(int n) {
  double** field = new double*[n];
  for (int i = 0; i < n; ++i) field[i] = new (std::align_val_t{ROW_ALIGNMENT}) double[n]();
  return field;
}

// A one-process block of rows x cols at a stable time step, its field random.
ExplicitStepper stepper_for(int rows, int cols, int pass_length, const Settings& settings) {
  const Block block = block_of({rows, cols}, {1, 1}, 0, 0);
  ExplicitConfig config;
  config.passes =
      plan_passes(block, pass_length, settings.tile, settings.threads, cache_size(2).bytes);
  const double h = 1.0 / std::max(rows, cols);
  ExplicitStepper stepper(block, make_scheme(h, h, 0.2 * h * h), config);
  if (!stepper.allocate()) {
    std::fprintf(stderr, "kernel_bench: %d x %d does not fit in memory\n", rows, cols);
    std::exit(1);
  }
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> temperature(0.0, 100.0);
  double** T = stepper.field();
  for (int i = 0; i < rows; ++i) {
    std::generate(T[i], T[i] + cols, [&] { return temperature(generator); });
  }
  return stepper;
}

// The processor's nominal clock, from the kernel's description, for cycles per cell; 0 where it
// gives none. A VM reports the host's nominal rate, not the boosted one.
double nominal_hz() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    double mhz = 0.0;
    if (std::sscanf(line.c_str(), "cpu MHz : %lf", &mhz) == 1 ||
        std::sscanf(line.c_str(), "cpu MHz\t: %lf", &mhz) == 1) {
      return mhz * 1e6;
    }
  }
  return 0.0;
}

// Keeps the calling thread on one core: a thread that starts for a millisecond's work may
// otherwise run on the core of the thread that started it.
void on_core(int core) {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(core % std::max(1, static_cast<int>(std::thread::hardware_concurrency())), &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
#else
  (void)core;
#endif
}

// A field that fits the core's own cache (two layers of rows as long as the tiles' in half of
// L2), stepped with K = 1: how fast the update runs where memory does not matter.
// `share` of L2 for the two layers: a half for one field; a quarter each for fields stepped at
// once, so that they fit even where two cores share their L2.
constexpr int IN_CACHE_COLS = 1024;

int in_cache_rows(double share) {
  return std::max(8, static_cast<int>(cache_size(2).bytes * share / (2.0 * 8 * IN_CACHE_COLS)));
}

ExplicitStepper in_cache_stepper(const Settings& settings, double share = 0.5) {
  const bool say = share == 0.5;
  const CacheSize l2 = cache_size(2);
  const int cols = IN_CACHE_COLS;
  const int rows = in_cache_rows(share);
  Settings one = settings;
  one.threads = 1;
  if (!say) return stepper_for(rows, cols, 1, one);
  std::printf(
      "in the cache: %d x %d, stepped one step at a time (two layers %.0f KiB, L2 %.0f "
      "KiB from %s)\n",
      rows, cols, 2.0 * rows * cols * 8 / 1024, l2.bytes / 1024, l2.source);
  return stepper_for(rows, cols, 1, settings);
}

// The tile width a pass of `pass_length` steps over the n x n grid takes.
int plan_tile(int n, int pass_length, const Settings& settings) {
  return plan_passes(block_of({n, n}, {1, 1}, 0, 0), pass_length, settings.tile, settings.threads,
                     cache_size(2).bytes)
      .tile_width;
}

void measure(int n, const Settings& settings, double hz) {
  ExplicitStepper cached = in_cache_stepper(settings);
  const double cached_cells = static_cast<double>(in_cache_rows(0.5)) * IN_CACHE_COLS;
  // As many cells as a measured step of the large grid, so that both take about as long.
  const int cached_steps = std::max(1, static_cast<int>(STEPS * n * n / cached_cells));
  std::vector<ExplicitStepper> steppers;
  for (int fuse : settings.fuses) steppers.push_back(stepper_for(n, n, fuse, settings));
  double** P0 = plain_field(n);
  double** P1 = plain_field(n);
  // The field and the other layer, the same rows the step reads and writes.
  double** T0 = steppers[0].field();
  steppers[0].advance(0, 1);
  double** T1 = steppers[0].field();
  for (int i = 0; i < n; ++i) std::copy(T0[i], T0[i] + n, P0[i]);

  std::vector<std::function<void()>> work = {
      [&] { copy_loop(T0, T1, n, n); },      [&] { copy_memcpy(T0, T1, n, n); },
      [&] { copy_streaming(T0, T1, n, n); }, [&] { copy_loop(P0, P1, n, n); },
      [&] { copy_memcpy(P0, P1, n, n); },    [&] { copy_streaming(P0, P1, n, n); }};
  const std::size_t copies = work.size();
  work.push_back([&] { cached.advance(0, cached_steps); });
  // The machine's own limit for threads: as many small fields in the cache as threads, each
  // stepped by a thread of its own on a core of its own, all at once, against one alone (cores
  // that share their arithmetic units and caches, as a VM's may, fall short of the thread count).
  ExplicitStepper alone = in_cache_stepper(settings, 0.25);
  std::vector<ExplicitStepper> apart;
  for (int t = 0; t < settings.threads; ++t) apart.push_back(in_cache_stepper(settings, 0.25));
  const int apart_steps = cached_steps * 2;
  work.push_back([&] { alone.advance(0, apart_steps); });
  work.push_back([&] {
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < apart.size(); ++t) {
      threads.emplace_back([&, t] {
        on_core(static_cast<int>(t));
        apart[t].advance(0, apart_steps);
      });
    }
    for (std::thread& t : threads) t.join();
  });
  for (ExplicitStepper& s : steppers) work.push_back([&s] { s.advance(0, STEPS); });
  std::vector<std::vector<double>> times(work.size());
  for (auto& w : work) w();  // first touch of every page
  for (int r = 0; r < settings.rounds; ++r) {
    for (std::size_t k = 0; k < work.size(); ++k) times[k].push_back(seconds(work[k]));
  }
  double copy = 1e300;
  for (std::size_t k = 0; k < copies; ++k) copy = std::min(copy, median(times[k]));
  const double cells = static_cast<double>(n) * n;
  const double in_cache = median(times[copies]) / (cached_steps * cached_cells);
  std::printf("%5dx%-5d copy %8.3f ms, in the cache %.3f ns/cell, %.2f cycles/cell\n", n, n,
              copy * 1e3, in_cache * 1e9, in_cache * hz);
  if (settings.threads > 1) {
    std::printf("%11s %d fields in the cache at once, a thread each: %.2f x one field's speed\n",
                "", settings.threads,
                settings.threads * median(times[copies + 1]) / median(times[copies + 2]));
  }
  for (std::size_t f = 0; f < steppers.size(); ++f) {
    const double step = median(times[copies + 3 + f]) / STEPS;
    std::printf(
        "%11s K = %2d  tile %5d  %8.3f ms  %6.3f x copy  %6.3f ns/cell  %5.2f cycles/cell"
        "  %5.2f x in cache\n",
        "", settings.fuses[f],
        settings.fuses[f] > 1 ? plan_tile(n, settings.fuses[f], settings) : 0, step * 1e3,
        step / copy, step / cells * 1e9, step / cells * hz, step / cells / in_cache);
  }
}

std::vector<int> numbers(const char* text) {
  std::vector<int> values;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) values.push_back(std::atoi(item.c_str()));
  return values;
}

Settings read_settings(int argc, char** argv) {
  Settings s;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string option = argv[k];
    if (option == "--rounds") s.rounds = std::atoi(argv[k + 1]);
    if (option == "--sizes") s.sizes = numbers(argv[k + 1]);
    if (option == "--fuse") s.fuses = numbers(argv[k + 1]);
    if (option == "--tile") s.tile = std::atoi(argv[k + 1]);
    if (option == "--threads") s.threads = std::atoi(argv[k + 1]);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const Settings settings = read_settings(argc, argv);
  const double hz = nominal_hz();
  std::printf(
      "Steps of a one-process run, %d thread%s, against the fastest plain copy of a layer "
      "and the same update in the cache; median of %d alternating rounds (targets at "
      "4096: best K <= 0.6 x copy, <= 1.1 x in cache); cycles at the nominal %.2f GHz\n",
      settings.threads, settings.threads == 1 ? "" : "s", settings.rounds, hz / 1e9);
  for (int n : settings.sizes) measure(n, settings, hz);
}
