// The CRC-32 of zlib, gzip and PNG, as fast as this machine computes it.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of the bytes that gave `crc`, followed by `length` more at `bytes` (start from 0):
// exactly zlib's crc32(crc, bytes, length). With Intel's ISA-L (Debian's libisal) it runs on
// carry-less multiplication, several times zlib's speed, so that a save checksums its field about
// as fast as it writes it; zlib's own where the build has no ISA-L.
std::uint32_t crc32_update(std::uint32_t crc, const void* bytes, std::size_t length);

// Whether crc32_update is ISA-L's rather than zlib's (the tests compare the two bit for bit).
bool crc32_is_accelerated();
