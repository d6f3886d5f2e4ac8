// The sizes of the caches that one core of this processor can use.
#pragma once

// Where a size was learnt: "CPUID" (the processor's cache description, x86-64), "sysfs" (the
// kernel's, elsewhere or where CPUID says nothing) or "assumed" (neither answered).
struct CacheSize {
  double bytes;
  const char* source;
};

// The cache instance the calling core belongs to, not the sum over the package (which is what
// glibc's sysconf reports on some AMD processors, and what a 2-core VM may see as 320 MiB). CPUID's
// deterministic cache leaves come first since they do not depend on the kernel exposing
// /sys/devices/system/cpu/cpu0/cache (some VMs do not); then sysfs; then 32 MiB, the L3 of one core
// complex on current server processors.
CacheSize last_level_cache();

// Cache levels are counted from 1, the core's own; LAST_LEVEL asks for the highest there is.
constexpr int LAST_LEVEL = 0;

// The data or unified cache of `level` the calling core uses, as above, from CPUID or sysfs, or
// else an assumed size (32 MiB for the last level, 512 KiB for L2).
CacheSize cache_size(int level);

// The data or unified cache of `level` named by CPUID's deterministic cache leaves (leaf 4 on
// Intel, 0x8000001D on AMD and Hygon), or 0 where the processor does not describe its caches that
// way.
double cpuid_cache_bytes(int level);

// The data or unified cache of `level` of cpu0 in sysfs, or 0 where the kernel does not say.
double sysfs_cache_bytes(int level);
