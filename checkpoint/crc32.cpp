// The CRC-32 of zlib, gzip and PNG, as fast as this machine computes it.
#include "checkpoint/crc32.hpp"

#include <zlib.h>

#ifdef HEAT2D_HAVE_ISAL
#include <isa-l/crc.h>
#endif

std::uint32_t crc32_update(std::uint32_t crc, const void* bytes, std::size_t length) {
#ifdef HEAT2D_HAVE_ISAL
  // The same polynomial, bit order and flips as zlib's, so a record stays valid either way.
  return crc32_gzip_refl(crc, static_cast<const unsigned char*>(bytes), length);
#else
  return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(bytes), length));
#endif
}

bool crc32_is_accelerated() {
#ifdef HEAT2D_HAVE_ISAL
  return true;
#else
  return false;
#endif
}
