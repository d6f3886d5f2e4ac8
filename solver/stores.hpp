// Whether a step writes its new layer past the caches.
#pragma once

// Streamed stores pay once the two layers no longer fit in the last-level cache: the layer being
// written would be evicted before the next step reads it anyway, and streaming saves reading it in
// before writing it. Below that size they would push a layer the next step needs out to memory.
// The cache is shared with everything else the core and its neighbours keep there, so `automatic`
// streams once the two layers take more than half of it (measured on a 2-core VM of a 260 MiB
// cache: 4096^2 single steps 1.4 times faster streamed, 2048^2 alike, 1024^2 faster cached); the
// other two force one path (for studies of the two, and for tests on machines where the automatic
// choice never streams).
enum class Stores { automatic, cached, streamed };

// Whether single steps over two layers of rows x cols cells stream their stores.
bool streams(Stores stores, int rows, int cols);
