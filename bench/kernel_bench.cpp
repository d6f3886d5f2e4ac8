// One time step of a one-process heat2d-study run (the update of its one block, no snapshot)
// against the fastest plain copy of a layer of the same size: a vectorised loop, memcpy and
// streamed stores, each on the step's own layers (whose large rows are staggered within the page)
// and on layers of rows allocated plainly one after another, since either layout may suit a copy
// better. All seven are measured in turn in every round, so that the machine's drift affects them
// alike. Prints the medians as a table.
//
// Usage: kernel_bench [ROUNDS] [N...]    (default: 21 rounds, N = 1024 4096)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>
#include <vector>

#include "common/allocate_field.hpp"
#include "copies.hpp"
#include "solver/advance.hpp"
#include "solver/stores.hpp"

namespace {

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

void measure(int n, int rounds) {
  const ProcessGrid one = {1, 1};
  Stepper stepper;
  stepper.block = block_of(n, n, one, 0, 0);
  const int alone[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
  stepper.halo = make_halo(MPI_COMM_NULL, alone, {n, n, 1});
  stepper.stream = streams_layers(n, n);
  allocate_layers(stepper);
  double** T0 = stepper.T0;
  double** T1 = stepper.T1;
  double** P0 = plain_field(n);
  double** P1 = plain_field(n);
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> temperature(0.0, 100.0);
  for (int i = 0; i < n; ++i) {
    std::generate(T0[i], T0[i] + n, [&] { return temperature(generator); });
    std::copy(T0[i], T0[i] + n, P0[i]);
  }
  const double h = 1.0 / n;
  stepper.scheme = make_scheme(h, h, 0.2 * h * h);

  constexpr int KINDS = 7;
  const std::function<void()> work[KINDS] = {
      [&] { advance(stepper, 1); },         [&] { copy_loop(T0, T1, n, n); },
      [&] { copy_memcpy(T0, T1, n, n); },   [&] { copy_streaming(T0, T1, n, n); },
      [&] { copy_loop(P0, P1, n, n); },     [&] { copy_memcpy(P0, P1, n, n); },
      [&] { copy_streaming(P0, P1, n, n); }};
  std::vector<double> times[KINDS];
  for (auto& w : work) w();  // first touch of every page
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < KINDS; ++k) times[k].push_back(seconds(work[k]));
  }
  double medians[KINDS];
  for (int k = 0; k < KINDS; ++k) medians[k] = median(times[k]);
  const double floor = *std::min_element(medians + 1, medians + KINDS);
  std::printf("%5dx%-5d", n, n);
  for (double m : medians) std::printf(" %8.3f", m * 1e3);
  std::printf(" %7.3f\n", medians[0] / floor);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  std::vector<int> sizes;
  for (int k = 2; k < argc; ++k) sizes.push_back(std::atoi(argv[k]));
  if (sizes.empty()) sizes = {1024, 4096};
  std::printf(
      "One step of a one-process run against plain copies of a layer, median of %d alternating "
      "rounds, ms (ratio: step / fastest copy; target <= 1.10 at 4096)\n",
      rounds);
  std::printf("%-11s %8s %26s %26s %7s\n", "", "", "copies, step's layers", "copies, plain rows",
              "");
  std::printf("%-11s %8s %8s %8s %8s %8s %8s %8s %7s\n", "cells", "step", "loop", "memcpy",
              "stream", "loop", "memcpy", "stream", "ratio");
  for (int n : sizes) measure(n, rounds);
}
