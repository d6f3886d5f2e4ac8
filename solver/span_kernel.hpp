// The kernels that update a span of a row, and the one place that chooses among them.
#pragma once

#include <vector>

#include "solver/scheme.hpp"
#include "solver/span.hpp"
#include "solver/update_strip.hpp"

using StripFunction = void (*)(double** T0, double** T1, int sizeX, int sizeY,
                               const StripEdges& edges, const Scheme& scheme);

// A kernel writes cells [span.begin, span.end) of row.out from the current layer: an insulated
// side cell (span.left_side at begin, span.right_side at end - 1) copies its inner neighbour, every
// other cell takes update_cell of its four neighbours. `strip` does every row of a strip with the
// same kernel inlined, for strips of short rows, where a call per row would cost more than the
// row. Every kernel gives the same bits: the same IEEE operations in the same order.
struct SpanKernel {
  SpanFunction span = nullptr;
  StripFunction strip = nullptr;
  bool streams = false;  // stores bypass the caches: finish_streaming() before the layer is read
  const char* name = "";
};

// What the processor can run, as far as the kernels care.
struct Cpu {
  bool avx2 = false;
  bool avx512 = false;
};

// This processor's features (none off x86-64).
Cpu this_cpu();

// Rows narrower than this gain nothing from 512-bit vectors over the compiler's 256-bit loop.
constexpr int WIDE_ROW = 64;

// The fastest kernel for rows of `width` cells on `cpu`: with stores past the caches when
// `stream`. `margins` says the rows can be read 16 cells beyond either end of every span (a
// block's layers can; heat2d's rows, allocated one by one, cannot), which the 512-bit kernels do.
SpanKernel choose_span_kernel(const Cpu& cpu, bool stream, bool margins, int width);

// Cell by cell, as the scheme is written, never vectorised: the reference every other kernel is
// tested against.
SpanKernel reference_span_kernel();

// Every kernel `cpu` runs, the reference first (for tests and benchmarks).
std::vector<SpanKernel> span_kernels(const Cpu& cpu);

// Orders streamed stores before whatever reads the layer next (the next step, or MPI).
void finish_streaming();
