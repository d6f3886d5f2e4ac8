// Fixed-point text of a double, byte for byte what printf's "%lf" gives.
#include "output/format_lf.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t MICRO = 1000000;

// Two-digit groups, so the integer-to-text loop does half as many divisions.
constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of n (at least one) and returns their count.
std::size_t write_integer(std::uint64_t n, char* out) {
  if (n < 10) {
    out[0] = static_cast<char>('0' + n);
    return 1;
  }
  if (n < 100) {
    std::memcpy(out, DIGIT_PAIRS + 2 * n, 2);
    return 2;
  }
  if (n < 1000) {  // 100.000000, the hot edge, is one value in ten of a run's output
    out[0] = static_cast<char>('0' + n / 100);
    std::memcpy(out + 1, DIGIT_PAIRS + 2 * (n % 100), 2);
    return 3;
  }
  std::size_t length = 0;
  for (std::uint64_t rest = n; rest != 0; rest /= 10) ++length;
  char* p = out + length;
  while (n >= 10) {
    p -= 2;
    std::memcpy(p, DIGIT_PAIRS + 2 * (n % 100), 2);
    n /= 100;
  }
  if (p != out) *--p = static_cast<char>('0' + n);
  return length;
}

// Writes exactly six digits of n < 10^6.
void write_six_digits(std::uint32_t n, char* out) {
  const std::uint32_t high = n / 10000;
  const std::uint32_t low = n % 10000;
  std::memcpy(out, DIGIT_PAIRS + 2 * high, 2);
  std::memcpy(out + 2, DIGIT_PAIRS + 2 * (low / 100), 2);
  std::memcpy(out + 4, DIGIT_PAIRS + 2 * (low % 100), 2);
}

// Exact value * 10^6 rounded half to even, from the binary representation: needs no floating-point
// rounding to be right, but costs 128-bit shifts. False when the result exceeds 64 bits.
bool exact_micros(double value, std::uint64_t& micros) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  // |value| = mantissa * 2^-shift exactly; mantissa * 10^6 needs at most 73 bits.
  const std::uint64_t mantissa =
      biased_exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int shift = 1075 - (biased_exponent == 0 ? 1 : biased_exponent);
  if (biased_exponent == 0x7ff || shift <= 0) return false;
  if (shift >= 128) {
    micros = 0;  // below 2^73 * 2^-128
    return true;
  }
  const u128 scaled = static_cast<u128>(mantissa) * MICRO;
  u128 quotient = scaled >> shift;
  const u128 remainder = scaled - (quotient << shift);
  const u128 half = u128{1} << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  micros = static_cast<std::uint64_t>(quotient);
  return (quotient >> 64) == 0;
}

// The same result from one double multiplication where that is provably right: the rounded
// product p differs from the exact one by at most p * 2^-53, so unless p's fraction lies within
// p * 2^-52 of one half, both round to the same integer. False where it cannot decide.
bool fast_micros(double magnitude, std::uint64_t& micros) {
  if (!(magnitude < 8e9)) return false;  // also rejects NaN; p stays below 2^53
  const double p = magnitude * 1e6;
  const std::int64_t whole = static_cast<std::int64_t>(p);
  const double fraction = p - static_cast<double>(whole);  // exact: p and whole are close
  const double tolerance = p * 0x1p-52;
  if (fraction - 0.5 > tolerance) {
    micros = static_cast<std::uint64_t>(whole) + 1;
    return true;
  }
  if (0.5 - fraction > tolerance) {
    micros = static_cast<std::uint64_t>(whole);
    return true;
  }
  return false;
}

}  // namespace

std::size_t format_lf(double value, char* out) {
  std::uint64_t micros = 0;
  if (!fast_micros(std::fabs(value), micros) && !exact_micros(value, micros)) {
    // Not finite, or |value| * 10^6 beyond 64 bits: far outside the program's temperatures.
    return static_cast<std::size_t>(std::snprintf(out, FORMAT_LF_MAX, "%lf", value));
  }
  std::size_t length = 0;
  if (std::signbit(value)) out[length++] = '-';
  length += write_integer(micros / MICRO, out + length);
  out[length++] = '.';
  write_six_digits(static_cast<std::uint32_t>(micros % MICRO), out + length);
  return length + 6;
}
