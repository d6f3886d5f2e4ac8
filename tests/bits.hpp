// Doubles compared by their bits in the tests: a tolerance would hide a changed last bit.
#pragma once

#include <cstdint>
#include <cstring>

inline std::uint64_t bits(double value) {
  std::uint64_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}
