// A rectangle of cells of a block, in the block's own coordinates (ghost cells have negative
// indices or indices beyond its rows and columns).
#pragma once

#include <algorithm>

#include "common/side.hpp"

struct Region {
  int row_begin = 0;
  int row_end = 0;
  int col_begin = 0;
  int col_end = 0;

  int rows() const { return row_end - row_begin; }
  int cols() const { return col_end - col_begin; }
  bool empty() const { return row_begin >= row_end || col_begin >= col_end; }
  long long cells() const { return empty() ? 0 : static_cast<long long>(rows()) * cols(); }

  // `n` more rows or columns beyond `side` (fewer when n is negative).
  Region grown(Side side, int n) const {
    Region r = *this;
    switch (side) {
      case Side::top:
        r.row_begin -= n;
        break;
      case Side::bottom:
        r.row_end += n;
        break;
      case Side::left:
        r.col_begin -= n;
        break;
      case Side::right:
        r.col_end += n;
        break;
    }
    return r;
  }

  // `n` more beyond every side.
  Region grown(int n) const { return {row_begin - n, row_end + n, col_begin - n, col_end + n}; }

  // The `depth` rows or columns of the region next to `side` (inside), or the `depth` just beyond
  // it (outside), over the region's whole extent along that side.
  Region slab(Side side, int depth, bool outside) const {
    Region r = *this;
    const int near = outside ? -depth : 0;
    switch (side) {
      case Side::top:
        r.row_begin += near, r.row_end = r.row_begin + depth;
        break;
      case Side::bottom:
        r.row_end -= near, r.row_begin = r.row_end - depth;
        break;
      case Side::left:
        r.col_begin += near, r.col_end = r.col_begin + depth;
        break;
      case Side::right:
        r.col_end -= near, r.col_begin = r.col_end - depth;
        break;
    }
    return r;
  }
};

// The cells both hold (empty when they do not meet).
inline Region intersection(const Region& a, const Region& b) {
  return {std::max(a.row_begin, b.row_begin), std::min(a.row_end, b.row_end),
          std::max(a.col_begin, b.col_begin), std::min(a.col_end, b.col_end)};
}
