// Allocation of a field (an array of row pointers, each row an array of doubles of its own) and of
// a layer of a block (its rows in one piece, with its ring of ghost cells).
#pragma once

#include <cstddef>

#include "common/block.hpp"

// Rows start on a cache line: the update's vector stores then stay aligned, and no row shares a
// line with another.
constexpr std::size_t ROW_ALIGNMENT = 64;

// Returns `rows` row pointers, each to `cols` zero-initialised doubles. Fields live until the
// process ends, so there is no matching release.
double** allocate_field(const int& rows, const int& cols);

// The most bytes allocate_field takes for such a field, row pointers and padding included.
double field_bytes(const int& rows, const int& cols);

// Doubles from one row of a block to the next: whole cache lines, an odd number of them, so that
// the rows a stencil reads together fall on different cache sets and page offsets.
std::ptrdiff_t row_stride(const Block& block);

// One layer of a block, its rows in one allocation (so the hardware prefetcher runs on from row to
// row), not yet touched: the threads that will update it touch it first (see first_touch). Rows
// -ghost to rows + ghost - 1 and columns -ghost to cols + ghost - 1 (the block's allocated()
// region) are valid indices, and cell
// [i][0] of every row starts a cache line. Layer 1 starts half a page after layer 0 would, so
// that a row of one layer and the same row of the other, which the update reads and writes side by
// side, never share a page offset (the processor checks loads against pending stores by their low
// 12 address bits, and such pairs would stall every load). Lives until the process ends.
double** allocate_block(const Block& block, int layer);

// The most bytes one layer from allocate_block takes, ghost cells, row pointers and padding
// included.
double block_bytes(const Block& block);
