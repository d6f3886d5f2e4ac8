// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#pragma once

#include <cstddef>

// Rows start on a cache line: the update's vector stores then stay aligned, and no row shares a
// line with another.
constexpr std::size_t ROW_ALIGNMENT = 64;

// Returns `rows` row pointers, each to `cols` zero-initialised doubles. Fields live until the
// process ends, so there is no matching release.
double** allocate_field(const int& rows, const int& cols);

// The most bytes allocate_field takes for such a field, row pointers and padding included.
double field_bytes(const int& rows, const int& cols);

// A block of `rows` x `cols` cells with a ring of ghost cells around it, zero-initialised: rows -1
// and `rows` and columns -1 and `cols` are valid indices, and cell [i][0] of every row, ghost rows
// included, starts a cache line. The ghost cells hold the neighbouring blocks' edges.
double** allocate_block(const int& rows, const int& cols);

// The most bytes allocate_block takes, ghost cells, row pointers and padding included.
double block_bytes(const int& rows, const int& cols);
