// One row of the update written past the caches, for layers too large to stay in them.
#pragma once

// Writes out[0 .. sizeY) as the update of a row that is not held (the inner columns by the scheme,
// the side columns copying their inner neighbour), with stores that bypass the caches: the next
// layer will not fit in them anyway, and such stores save reading each line in before writing it.
// Returns false, having written nothing, where it cannot (no AVX2, `out` not 32-byte aligned, or
// fewer than 8 columns). Gives the same bits as every other path.
bool stream_row(double* out, const double* up, const double* centre, const double* down,
                const int& sizeY, const double& rx, const double& ry);

// Orders the streamed stores before whatever reads the layer next.
void finish_streaming();
