// One cell of the explicit update, in the scheme's order of operations.
#pragma once

// ((rx*((up - 2c) + down)) + c) + (ry*((left - 2c) + right)), evaluated left to right: every path
// of the update computes exactly this. (The compiler may turn 2.0 * c into c + c: both are exact,
// so the bits are the same.) Values, not pointers, so that loops calling it keep their pointers'
// __restrict and vectorise without run-time alias checks.
inline double update_cell(double up, double centre, double down, double left, double right,
                          double rx, double ry) {
  const double partial = rx * ((up - 2.0 * centre) + down) + centre;
  return partial + ry * ((left - 2.0 * centre) + right);
}
