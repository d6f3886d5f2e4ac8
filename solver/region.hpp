// A rectangle of cells of a block, in the block's own coordinates (ghost cells have negative
// indices or indices beyond its rows and columns).
#pragma once

#include <algorithm>

struct Region {
  int row_begin = 0;
  int row_end = 0;
  int col_begin = 0;
  int col_end = 0;

  int rows() const { return row_end - row_begin; }
  int cols() const { return col_end - col_begin; }
  bool empty() const { return row_begin >= row_end || col_begin >= col_end; }
};

// The cells both hold (empty when they do not meet).
inline Region intersection(const Region& a, const Region& b) {
  return {std::max(a.row_begin, b.row_begin), std::min(a.row_end, b.row_end),
          std::max(a.col_begin, b.col_begin), std::min(a.col_end, b.col_end)};
}
