// The size of the last-level cache that one core of this processor can use.
#include "solver/cache_size.hpp"

#include <fstream>
#include <string>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>

#include <cstring>
#endif

namespace {

constexpr double KIB = 1024.0;
constexpr double ASSUMED_BYTES = 32.0 * KIB * KIB;
constexpr double ASSUMED_L2_BYTES = 512.0 * KIB;

#if defined(__x86_64__) && defined(__GNUC__)
// The leaf that lists the caches, one subleaf each, on this vendor's processors; 0 for none.
unsigned cache_leaf() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  char vendor[13] = {};
  std::memcpy(vendor, &b, 4);
  std::memcpy(vendor + 4, &d, 4);
  std::memcpy(vendor + 8, &c, 4);
  if (std::strcmp(vendor, "GenuineIntel") == 0) return a >= 4 ? 4 : 0;
  if (std::strcmp(vendor, "AuthenticAMD") != 0 && std::strcmp(vendor, "HygonGenuine") != 0) {
    return 0;
  }
  constexpr unsigned AMD_CACHES = 0x8000001D;
  if (static_cast<unsigned>(__get_cpuid_max(0x80000000, nullptr)) < AMD_CACHES) return 0;
  __cpuid(0x80000001, a, b, c, d);
  const bool topology_extensions = (c >> 22) & 1;
  return topology_extensions ? AMD_CACHES : 0;
}
#endif

// Whether a cache of `this_level` is the one asked for: that level, or the highest seen so far.
bool wanted(int level, int this_level, int best) {
  return level == LAST_LEVEL ? this_level >= best : this_level == level;
}

}  // namespace

double cpuid_cache_bytes(int level) {
#if defined(__x86_64__) && defined(__GNUC__)
  const unsigned leaf = cache_leaf();
  if (leaf == 0) return 0.0;
  double bytes = 0.0;
  int best = 0;
  for (unsigned subleaf = 0; subleaf < 16; ++subleaf) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    const unsigned type = a & 0x1f;  // 0: no more caches, 1: data, 2: instructions, 3: unified
    if (type == 0) break;
    const int this_level = (a >> 5) & 0x7;
    if (type == 2 || !wanted(level, this_level, best)) continue;
    // Ways, partitions, line size and sets, each stored as the number less one.
    const double ways = ((b >> 22) & 0x3ff) + 1.0;
    const double partitions = ((b >> 12) & 0x3ff) + 1.0;
    const double line = (b & 0xfff) + 1.0;
    const double sets = c + 1.0;
    bytes = ways * partitions * line * sets;
    best = this_level;
  }
  return bytes;
#else
  (void)level;
  return 0.0;
#endif
}

double sysfs_cache_bytes(int level) {
  double bytes = 0.0;
  int best = 0;
  for (int index = 0; index < 16; ++index) {
    const std::string folder = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index);
    std::ifstream type_file(folder + "/type");
    std::ifstream level_file(folder + "/level");
    std::ifstream size_file(folder + "/size");
    std::string type;
    int this_level = 0;
    double kib = 0.0;
    if (!(type_file >> type && level_file >> this_level && size_file >> kib)) break;
    if (type == "Instruction" || !wanted(level, this_level, best) || kib <= 0.0) continue;
    bytes = kib * KIB;
    best = this_level;
  }
  return bytes;
}

CacheSize cache_size(int level) {
  const double cpuid = cpuid_cache_bytes(level);
  if (cpuid > 0.0) return {cpuid, "CPUID"};
  const double sysfs = sysfs_cache_bytes(level);
  if (sysfs > 0.0) return {sysfs, "sysfs"};
  return {level == 2 ? ASSUMED_L2_BYTES : ASSUMED_BYTES, "assumed"};
}

CacheSize last_level_cache() {
  return cache_size(LAST_LEVEL);
}
