// The kernels that update a span of a row, and the one place that chooses among them.
#include "solver/span_kernel.hpp"

#include "solver/cached_span.hpp"
#include "solver/stream_span.hpp"
#include "solver/wide_span.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HEAT2D_X86 1
#endif

namespace {

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
void reference_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  for (int j = span.begin; j < span.end; ++j) {
    if (j == span.begin && span.left_side) {
      row.out[j] = row.centre[j + 1];
    } else if (j == span.end - 1 && span.right_side) {
      row.out[j] = row.centre[j - 1];
    } else {
      row.out[j] = update_cell(row.up[j], row.centre[j], row.down[j], row.centre[j - 1],
                               row.centre[j + 1], scheme.rx, scheme.ry);
    }
  }
}

void reference_strip(double** T0, double** T1, int sizeX, int sizeY, const StripEdges& edges,
                     const Scheme& scheme) {
  update_strip<reference_span>(T0, T1, sizeX, sizeY, edges, scheme);
}

// The compiler's loop for the build's own target (SSE2 on x86-64): runs everywhere.
void portable_span(const RowSet& row, const Span& span, const Scheme& scheme) {
  cached_span(row, span, scheme);
}

void portable_strip(double** T0, double** T1, int sizeX, int sizeY, const StripEdges& edges,
                    const Scheme& scheme) {
  update_strip<cached_span>(T0, T1, sizeX, sizeY, edges, scheme);
}

#if HEAT2D_X86
// The same loop compiled for AVX2.
__attribute__((target("avx2"))) void avx2_span(const RowSet& row, const Span& span,
                                               const Scheme& scheme) {
  cached_span(row, span, scheme);
}

__attribute__((target("avx2"))) void avx2_strip(double** T0, double** T1, int sizeX, int sizeY,
                                                const StripEdges& edges, const Scheme& scheme) {
  update_strip<cached_span>(T0, T1, sizeX, sizeY, edges, scheme);
}
#endif

const SpanKernel REFERENCE = {reference_span, reference_strip, false, "reference"};
const SpanKernel PORTABLE = {portable_span, portable_strip, false, "portable"};
#if HEAT2D_X86
const SpanKernel AVX2 = {avx2_span, avx2_strip, false, "avx2"};
#endif

}  // namespace

Cpu this_cpu() {
  Cpu cpu;
#if HEAT2D_X86
  cpu.avx2 = __builtin_cpu_supports("avx2");
  cpu.avx512 = __builtin_cpu_supports("avx512f");
#endif
  return cpu;
}

SpanKernel choose_span_kernel(const Cpu& cpu, bool stream, bool margins, int width) {
#if HEAT2D_X86
  if (cpu.avx512 && margins && (stream || width >= WIDE_ROW)) {
    return stream ? streamed_wide_kernel() : wide_kernel();
  }
  if (cpu.avx2) return stream ? streamed_avx2_kernel() : AVX2;
#else
  (void)cpu, (void)stream, (void)margins, (void)width;
#endif
  return PORTABLE;
}

SpanKernel reference_span_kernel() {
  return REFERENCE;
}

std::vector<SpanKernel> span_kernels(const Cpu& cpu) {
  std::vector<SpanKernel> kernels = {REFERENCE, PORTABLE};
#if HEAT2D_X86
  if (cpu.avx2) kernels.insert(kernels.end(), {AVX2, streamed_avx2_kernel()});
  if (cpu.avx512) kernels.insert(kernels.end(), {wide_kernel(), streamed_wide_kernel()});
#else
  (void)cpu;
#endif
  return kernels;
}

void finish_streaming() {
#if HEAT2D_X86
  _mm_sfence();
#endif
}
