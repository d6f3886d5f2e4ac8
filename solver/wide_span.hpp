// The update of a span eight cells at a time, for processors with AVX-512.
#pragma once

#include "solver/span_kernel.hpp"

// Each cell's left and right neighbours are shifted out of the vectors of the row that are loaded
// anyway, so that each eight cells take three loads, and 2 * centre is a multiplication, not the
// addition a compiler would make of it (the adders are what limits the update). The pieces of
// eight cells that a span only partly covers are computed whole and stored in part. Reads the row
// up to 15 cells beyond the span on either side, which must be readable memory (a block's rows
// are; the values read there are not used). Spans of fewer than 8 cells to update take the
// compiler's loop.
SpanKernel wide_kernel();

// The same with the whole pieces written past the caches, where the row starts on a cache line.
SpanKernel streamed_wide_kernel();
