// Exchange of the current and next time layers.
#pragma once

#include <utility>

// Swaps the row-pointer arrays; no cell is copied.
inline void swap_layers(double**& T0, double**& T1) {
  std::swap(T0, T1);
}
