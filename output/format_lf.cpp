// Fixed-point text of a double, byte for byte what printf's "%lf" gives.
#include "output/format_lf.hpp"

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
  char digits[20];
  char* p = digits + sizeof digits;
  while (n >= 100) {
    const std::uint64_t pair = n % 100;
    n /= 100;
    p -= 2;
    std::memcpy(p, DIGIT_PAIRS + 2 * pair, 2);
  }
  if (n >= 10) {
    p -= 2;
    std::memcpy(p, DIGIT_PAIRS + 2 * n, 2);
  } else {
    *--p = static_cast<char>('0' + n);
  }
  const std::size_t length = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, length);
  return length;
}

// Writes exactly six digits of n < 10^6.
void write_six_digits(std::uint32_t n, char* out) {
  for (int k = 4; k >= 0; k -= 2) {
    std::memcpy(out + k, DIGIT_PAIRS + 2 * (n % 100), 2);
    n /= 100;
  }
}

}  // namespace

std::size_t format_lf(double value, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

  // value = mantissa * 2^exponent exactly; value * 10^6 then needs at most 73 bits before scaling.
  const std::uint64_t mantissa =
      biased_exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int exponent = (biased_exponent == 0 ? 1 : biased_exponent) - 1075;
  const u128 scaled = static_cast<u128>(mantissa) * MICRO;

  // Rounded value * 10^6. Where that needs more than 64 bits (|value| >= about 1.8e13) or the value
  // is not finite, the C library does the work; the program's temperatures never get there.
  std::uint64_t micros = 0;  // what is left below 2^73 * 2^-128 rounds to zero
  const int shift = -exponent;
  bool fits = biased_exponent != 0x7ff && shift > 0;
  if (fits && shift < 128) {
    u128 quotient = scaled >> shift;
    const u128 remainder = scaled - (quotient << shift);
    const u128 half = u128{1} << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    fits = (quotient >> 64) == 0;
    micros = static_cast<std::uint64_t>(quotient);
  }
  if (!fits) return static_cast<std::size_t>(std::snprintf(out, FORMAT_LF_MAX, "%lf", value));

  std::size_t length = 0;
  if (negative) out[length++] = '-';
  length += write_integer(micros / MICRO, out + length);
  out[length++] = '.';
  write_six_digits(static_cast<std::uint32_t>(micros % MICRO), out + length);
  return length + 6;
}
