// Whether a step writes its new layer past the caches.
#include "solver/stores.hpp"

#include "solver/cache_size.hpp"

namespace {
Stores chosen = Stores::automatic;
}  // namespace

void set_stores(Stores stores) {
  chosen = stores;
}

Stores stores() {
  return chosen;
}

bool streams_layers(int rows, int cols) {
  if (chosen != Stores::automatic) return chosen == Stores::streamed;
  static const double cache_bytes = last_level_cache().bytes;
  return 2.0 * rows * cols * sizeof(double) > cache_bytes;
}
