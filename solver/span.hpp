// One row of the update: the rows it reads and writes, and the columns it covers.
#pragma once

// The rows one row of the update reads and writes: `out` in the next layer, the row above, the
// row itself and the row below in the current one, all indexed by the same columns.
struct RowSet {
  double* out;
  const double* up;
  const double* centre;
  const double* down;
};

// Columns [begin, end) of a row, and whether its first and last cells are the grid's insulated
// side columns.
struct Span {
  int begin;
  int end;
  bool left_side;
  bool right_side;
};
