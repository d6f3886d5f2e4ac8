// A block of the field moved between memory and its place in a file that every process opens, with
// positioned reads and writes.
#pragma once

#include <cstddef>
#include <string>

#include "checkpoint/field_checksum.hpp"
#include "common/block.hpp"

// Not an errno value: the file ended before the block did.
constexpr int SHORT_TRANSFER = -1;

// The file `fd` holds the block's grid row by row after `offset` bytes; each process moves its
// block's cells (block.rows rows of T, each row of block.cols doubles) to or from their
// place, so the file's bytes do not depend on how the grid is split, and adds every row to `sum`
// while it is in the cache. Rows that lie one after another in the file go in one call. Returns
// 0, an errno value, or SHORT_TRANSFER.
int write_block(int fd, std::size_t offset, double** T, const Block& block, BlockChecksum& sum);
int read_block(int fd, std::size_t offset, double** T, const Block& block, BlockChecksum& sum);

// `bytes` written at `offset` of `fd`, however many calls it takes. Returns 0 or an errno value.
int write_at(int fd, const std::string& bytes, std::size_t offset);
