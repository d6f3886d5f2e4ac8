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
#include "solver/advance.hpp"
#include "solver/cache_size.hpp"
#include "solver/pass_plan.hpp"
#include "solver/stores.hpp"

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
Stepper stepper_for(int rows, int cols, int fuse, const Settings& settings) {
  Stepper s;
  s.block = block_of(rows, cols, {1, 1}, 0, 0);
  const int alone[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
  s.halo = make_halo(MPI_COMM_NULL, alone, {rows, cols, fuse});
  s.fuse = fuse;
  s.team.threads = settings.threads;
  s.tile_width =
      settings.tile > 0
          ? settings.tile
          : plan_passes(s.block, {1, 1}, fuse, settings.threads, cache_size(2).bytes).tile;
  s.stream = streams_layers(rows, cols);
  if (!allocate_layers(s)) {
    std::fprintf(stderr, "kernel_bench: %d x %d does not fit in memory\n", rows, cols);
    std::exit(1);
  }
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> temperature(0.0, 100.0);
  for (int i = 0; i < rows; ++i) {
    std::generate(s.T0[i], s.T0[i] + cols, [&] { return temperature(generator); });
  }
  const double h = 1.0 / std::max(rows, cols);
  s.scheme = make_scheme(h, h, 0.2 * h * h);
  return s;
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
Stepper in_cache_stepper(const Settings& settings, double share = 0.5) {
  const bool say = share == 0.5;
  const CacheSize l2 = cache_size(2);
  const int cols = 1024;
  const int rows = std::max(8, static_cast<int>(l2.bytes * share / (2.0 * 8 * cols)));
  Settings one = settings;
  one.threads = 1;
  if (!say) return stepper_for(rows, cols, 1, one);
  std::printf(
      "in the cache: %d x %d, stepped one step at a time (two layers %.0f KiB, L2 %.0f "
      "KiB from %s)\n",
      rows, cols, 2.0 * rows * cols * 8 / 1024, l2.bytes / 1024, l2.source);
  return stepper_for(rows, cols, 1, settings);
}

void measure(int n, const Settings& settings, double hz) {
  Stepper cached = in_cache_stepper(settings);
  const double cached_cells = static_cast<double>(cached.block.rows()) * cached.block.cols();
  // As many cells as a measured step of the large grid, so that both take about as long.
  const int cached_steps = std::max(1, static_cast<int>(STEPS * n * n / cached_cells));
  std::vector<Stepper> steppers;
  for (int fuse : settings.fuses) steppers.push_back(stepper_for(n, n, fuse, settings));
  double** P0 = plain_field(n);
  double** P1 = plain_field(n);
  double** T0 = steppers[0].T0;
  double** T1 = steppers[0].T1;
  for (int i = 0; i < n; ++i) std::copy(T0[i], T0[i] + n, P0[i]);

  std::vector<std::function<void()>> work = {
      [&] { copy_loop(T0, T1, n, n); },      [&] { copy_memcpy(T0, T1, n, n); },
      [&] { copy_streaming(T0, T1, n, n); }, [&] { copy_loop(P0, P1, n, n); },
      [&] { copy_memcpy(P0, P1, n, n); },    [&] { copy_streaming(P0, P1, n, n); }};
  const std::size_t copies = work.size();
  work.push_back([&] { advance(cached, cached_steps); });
  // The machine's own limit for threads: as many small fields in the cache as threads, each
  // stepped by a thread of its own on a core of its own, all at once, against one alone (cores
  // that share their arithmetic units and caches, as a VM's may, fall short of the thread count).
  Stepper alone = in_cache_stepper(settings, 0.25);
  std::vector<Stepper> apart;
  for (int t = 0; t < settings.threads; ++t) apart.push_back(in_cache_stepper(settings, 0.25));
  const int apart_steps = cached_steps * 2;
  work.push_back([&] { advance(alone, apart_steps); });
  work.push_back([&] {
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < apart.size(); ++t) {
      threads.emplace_back([&, t] {
        on_core(static_cast<int>(t));
        advance(apart[t], apart_steps);
      });
    }
    for (std::thread& t : threads) t.join();
  });
  for (Stepper& s : steppers) work.push_back([&s] { advance(s, STEPS); });
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
        "", settings.fuses[f], steppers[f].fuse > 1 ? steppers[f].tile_width : 0, step * 1e3,
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
