// Fixed-point text of a double, byte for byte what printf's "%lf" gives.
#pragma once

#include <cstddef>

// Longest text format_lf can produce: "-" and 309 integer digits of DBL_MAX, "." and six digits.
constexpr std::size_t FORMAT_LF_MAX = 320;

// Writes `value` as printf("%lf") would under the default rounding mode (six decimals, the exact
// binary value rounded half to even, "-" on every negative value including -0.0, "inf"/"nan" for
// non-finite values) into `out`, which must hold FORMAT_LF_MAX chars. Returns the length written
// (no terminating NUL).
std::size_t format_lf(double value, char* out);
