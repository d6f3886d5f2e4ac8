// Part of a row of the update written past the caches, for layers too large to stay in them.
#pragma once

// Writes out[begin .. end) of a row `width` cells wide, as update_span does, with stores that
// bypass the caches: the next layer will not fit in them anyway, and such stores save reading each
// line in before writing it. Every store covers a whole aligned 32-byte piece where it can, so
// `begin` must be a multiple of 4 and `end` either one too or the row's end. Returns false, having
// written nothing, where it cannot stream (no AVX2, `out` not 32-byte aligned, a span that does not
// start or end on a piece, or a row narrower than 8 cells). Gives the same bits as every other
// path.
bool stream_span(double* out, const double* up, const double* centre, const double* down, int begin,
                 int end, int width, bool left_side, bool right_side, double rx, double ry);

// Orders the streamed stores before whatever reads the layer next (the next step, or MPI).
void finish_streaming();
