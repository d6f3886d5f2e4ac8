// The update kernel as the grid grows: compute() on a middle strip (every formula runs) against a
// plain copy of the same bytes from one layer to the other, the memory-bound reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/allocate_field.hpp"
#include "solver/compute.hpp"

namespace {

constexpr double H = 0.1;
constexpr double DT = 1e-5;

struct Layers {
  double** T0;
  double** T1;
  std::vector<double> ghost_top;
  std::vector<double> ghost_bottom;
};

Layers random_layers(int n) {
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> temperature(0.0, 100.0);
  Layers layers{allocate_field(n, n), allocate_field(n, n), std::vector<double>(n),
                std::vector<double>(n)};
  for (int i = 0; i < n; ++i) {
    std::generate(layers.T0[i], layers.T0[i] + n, [&] { return temperature(generator); });
  }
  std::generate(layers.ghost_top.begin(), layers.ghost_top.end(),
                [&] { return temperature(generator); });
  std::generate(layers.ghost_bottom.begin(), layers.ghost_bottom.end(),
                [&] { return temperature(generator); });
  return layers;
}

void set_counters(benchmark::State& state, int n) {
  state.SetBytesProcessed(state.iterations() * 2 * static_cast<int64_t>(n) * n * sizeof(double));
  state.counters["cells/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * n * n,
                                                 benchmark::Counter::kIsRate);
}

void BM_Compute(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Layers layers = random_layers(n);
  const int rank = 1;
  const int process_count = 3;
  for (auto _ : state) {
    compute(layers.T0, layers.T1, n, n, layers.ghost_top.data(), layers.ghost_bottom.data(), H, H,
            DT, rank, process_count);
    benchmark::ClobberMemory();
  }
  set_counters(state, n);
}

// A loop the compiler vectorises, not a memcpy call: glibc's memcpy switches to `rep movsb` for
// rows this long, which on some processors (AMD Zen among them) runs at a fraction of the
// bandwidth, and a reference that slow would flatter the kernel. Like the kernel, it gets an AVX2
// version.
__attribute__((optimize("no-tree-loop-distribute-patterns"), target_clones("avx2", "default"))) void
copy_row(const double* __restrict from, double* __restrict to, int n) {
  for (int j = 0; j < n; ++j) to[j] = from[j];
}

void BM_Copy(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Layers layers = random_layers(n);
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) copy_row(layers.T0[i], layers.T1[i], n);
    benchmark::ClobberMemory();
  }
  set_counters(state, n);
}

BENCHMARK(BM_Compute)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Copy)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
