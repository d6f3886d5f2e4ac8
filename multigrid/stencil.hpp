// The five-point operator of a level on one row of its block: relaxation, the residual, and the
// explicit half of a step.
#pragma once

#include "multigrid/axis.hpp"
#include "multigrid/level.hpp"

// Red-black Gauss-Seidel smooths best a little over-relaxed (Yavneh): u moves this far towards
// its Gauss-Seidel value, which damps the rough part of the error in 2-D about twice as fast as
// plain Gauss-Seidel.
constexpr double OVER_RELAXATION = 1.15;

// Red-black Gauss-Seidel on block row i: each unknown of `colour` in columns [begin, end) (colour
// is (grid row + grid column) % 2) takes u + w ((f + neighbours) / diagonal - u), w the
// over-relaxation. Its neighbours are all of the other colour, so the order in which cells, rows,
// threads and processes go does not change a bit. Returns the cells updated.
//
// Each function here takes the columns where the level's coefficients are the same eight at a
// time where the processor has AVX-512, with the same operations in the same order as the cell by
// cell loop that does the rest; `wide` false keeps to that loop (for the tests that compare them).
int relax_row(const Level& level, int i, int begin, int end, int colour, bool wide = true);

// The residual f - A u of block row i over columns [begin, end), into out[begin .. end).
void residual_row(const Level& level, int i, int begin, int end, double* out, bool wide = true);

// The size of the data of the system on block row i's columns [begin, end): the largest magnitude
// of f there and of the held values of an end row next to it. The operator's inverse is at most 1
// in the max-norm (its diagonal outweighs the rest of each row by 1), so a residual that small
// against it bounds the solution's error as much against the field's own values.
double right_hand_side_row_norm(const Level& level, int i, int begin, int end);

// (I + k L) u of block row i over columns [begin, end) into out: u + (neighbours - (x_sum +
// y_sum) u), the explicit half of Crank-Nicolson and of TR-BDF2's trapezoidal stage.
void explicit_part_row(const Level& level, double** u, int i, int begin, int end, double* out,
                       bool wide = true);

// The largest magnitude of x[begin .. end).
double largest_magnitude(const double* x, int begin, int end);

// u[j] += w0 * a[j] + w1 * b[j] for j in [begin, end): a correction interpolated between two rows.
void add_between(double* u, const double* a, const double* b, double w0, double w1, int begin,
                 int end);

// The fine residual row r (indexed by the fine block's columns) gathered along y onto the coarse
// columns [first, last) (the coarse block's): out[J] = (g0 r(G - 1) + g1 r(G)) + g2 r(G + 1), G the
// anchor of J and g its weights. `fine_col` and `coarse_col` are the blocks' first grid columns.
void restrict_along_y(const double* r, const AxisTransfer& y, int fine_col, int coarse_col,
                      int first, int last, double* out);

// Coarse row E (indexed by the coarse block's columns) interpolated along y onto the fine columns
// [begin, end): out[j] = w0 E(q0) + w1 E(q1), q0, q1 the parents of j and w0, w1 their weights.
void interpolate_along_y(const double* E, const AxisTransfer& y, int fine_col, int coarse_col,
                         int begin, int end, double* out);
