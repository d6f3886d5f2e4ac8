// Whether a step writes its new layer past the caches.
#include "solver/stores.hpp"

#include "solver/cache_size.hpp"

bool streams(Stores stores, int rows, int cols) {
  if (stores != Stores::automatic) return stores == Stores::streamed;
  static const double cache_bytes = last_level_cache().bytes;
  return 2.0 * rows * cols * sizeof(double) > cache_bytes / 2;
}
