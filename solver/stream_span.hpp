// The update of a span with 256-bit stores past the caches, for layers too large to stay in them.
#pragma once

#include "solver/span_kernel.hpp"

// Writes a span as every kernel does, with stores that bypass the caches: the next layer will not
// fit in them anyway, and such stores save reading each line in before writing it. Every store
// covers a whole aligned 32-byte piece; spans that cannot be streamed that way (fewer than 8
// cells, or not starting on a piece) take the 256-bit loop instead. Reads nothing beyond the span
// but the two neighbours of its end cells. For processors with AVX2.
SpanKernel streamed_avx2_kernel();
