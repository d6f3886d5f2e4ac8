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
