// Whether a step writes its new layer past the caches.
#pragma once

// Streamed stores pay once the two layers no longer fit in the last-level cache: the layer being
// written would be evicted before the next step reads it anyway, and streaming saves reading it in
// before writing it. Below that size they would push a layer the next step needs out to memory.
// `automatic` decides so; the other two force one path (for studies of the two, and for tests on
// machines where the automatic choice never streams).
enum class Stores { automatic, cached, streamed };

// Whether single steps over two layers of rows x cols cells stream their stores.
bool streams(Stores stores, int rows, int cols);
