// The header of a NumPy .npy file holding a field of doubles: written, and read back.
#pragma once

#include <cstddef>
#include <string>

#include "problem/problem.hpp"

// Version 1.0 header for a C-ordered float64 array of grid.nx x grid.ny values in
// this machine's byte order, padded with spaces so that the data starts on a 64-byte boundary.
std::string npy_header(const GridSize& grid);

// What a header says about the array after it.
struct NpyLayout {
  std::size_t data_offset = 0;  // bytes before the first value
  std::string descr;            // e.g. "<f8"
  bool fortran_order = false;
  int dimensions = 0;
  long long shape[2] = {0, 0};  // the first two dimensions
};

// The header's length in bytes as its preamble says (magic, version, length field), or 0 when
// `start` (the file's first bytes, at least 12 of them) is not the start of a .npy file or is of a
// version this reader does not know.
std::size_t npy_header_length(const std::string& start);

// Reads the dictionary of a complete header (npy_header_length bytes). Returns an empty string, or
// what is wrong with it.
std::string parse_npy_header(const std::string& header, NpyLayout& layout);

// Whether the layout is a two-dimensional, C-ordered float64 array in this machine's byte order;
// returns an empty string, or what it holds instead.
std::string check_field_layout(const NpyLayout& layout);
