// One row of the explicit update: the kernel of every time step.
#pragma once

// Writes out[0 .. sizeY) for a row that is not held: the forward-time centred-space update on the
// inner columns, evaluated exactly as ((rx*((up - 2c) + down)) + c) + (ry*((left - 2c) + right)),
// and the insulated side columns copying their inner neighbour from the current layer (so they lag
// one step behind). `up`, `centre` and `down` are rows of the current layer; `out` must not alias
// them. With `stream`, the row is written past the caches: worth it when the next layer will not
// fit in them anyway. Every path gives the same bits. Requires sizeY >= 2.
void update_row(double* out, const double* up, const double* centre, const double* down,
                const int& sizeY, const double& rx, const double& ry, bool stream);

// Orders streamed stores before whatever the caller does next with the layer.
void finish_streaming();
