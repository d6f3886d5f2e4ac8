// Part of a row of the update written past the caches, for layers too large to stay in them.
#pragma once

#include "solver/scheme.hpp"
#include "solver/span.hpp"

// Writes the span as cached_span does, with stores that bypass the caches: the next layer will
// not fit in them anyway, and such stores save reading each line in before writing it. Every
// store covers a whole aligned 32-byte piece where it can, so `begin` must be a multiple of 4.
// Returns false, having written nothing, where it cannot stream (no AVX2, `out` not 32-byte
// aligned, a span that does not start on a piece, or one of fewer than 8 cells). Gives the same
// bits as every other path.
bool stream_span(const RowSet& row, const Span& span, const Scheme& scheme);

// Orders the streamed stores before whatever reads the layer next (the next step, or MPI).
void finish_streaming();
