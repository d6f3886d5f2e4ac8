// Snapshot text: number formatting identical to printf's "%lf", and the transposed file layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "driver/initial_field.hpp"
#include "output/format_lf.hpp"
#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"
#include "output/write_layer.hpp"

namespace {

std::string via_printf(double value) {
  std::vector<char> text(FORMAT_LF_MAX + 1);
  std::snprintf(text.data(), text.size(), "%lf", value);
  return text.data();
}

std::string via_format_lf(double value) {
  char text[FORMAT_LF_MAX];
  return std::string(text, format_lf(value, text));
}

double from_bits(std::uint64_t b) {
  double value;
  std::memcpy(&value, &b, sizeof value);
  return value;
}

void expect_same_as_printf(double value) {
  ASSERT_EQ(via_format_lf(value), via_printf(value)) << "bits " << std::hexfloat << value;
}

TEST(FormatLf, SpecialValuesMatchPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  // clang-format off
  const double values[] = {
      0.0, -0.0, 100.0, 0.09999999999999998, 0.19969999999999996, 0.5, 1.0 / 3.0,
      -1e-9, 5e-7, -5e-7, 4.9999999999999996e-7, 99.9999995, 999999.9999995,
      0.0078125, 0.0234375, -0.0234375,  // exactly halfway at the sixth decimal: even wins
      7999999999.9999995, 8e9, 1.8446744073709e13, 1.8446744073709552e13, 4503599627370496.0,
      1e20, -1e300, DBL_MAX, -DBL_MAX, DBL_MIN, DBL_TRUE_MIN, inf, -inf, std::nan(""), -std::nan("")};
  // clang-format on
  for (double value : values) expect_same_as_printf(value);
}

TEST(FormatLf, HalfwayAndRandomValuesMatchPrintf) {
  std::mt19937_64 generator(42);
  // (2k+1)/128 times 10^6 ends in exactly .5: the rounding must go to the even neighbour.
  for (int k = 0; k < 200000; ++k) {
    expect_same_as_printf((2 * k + 1) / 128.0);
    expect_same_as_printf(-(2 * k + 1) / 1024.0);
  }
  std::uniform_real_distribution<double> temperature(0.0, 100.0);
  for (int k = 0; k < 300000; ++k) expect_same_as_printf(temperature(generator));
  for (int k = 0; k < 300000; ++k) expect_same_as_printf(from_bits(generator()));
  // Values just beside a rounding boundary of the sixth decimal.
  std::uniform_int_distribution<std::int64_t> micros(0, 100000000);
  for (int k = 0; k < 100000; ++k) {
    const double boundary = (static_cast<double>(micros(generator)) + 0.5) / 1e6;
    expect_same_as_printf(std::nextafter(boundary, 0.0));
    expect_same_as_printf(boundary);
    expect_same_as_printf(std::nextafter(boundary, 200.0));
  }
}

TEST(SnapshotName, MatchesPrintfForEveryLabelTheProgramUses) {
  char name[SNAPSHOT_NAME_SIZE];
  char expected[SNAPSHOT_NAME_SIZE];
  for (int rank : {-100, 0, 1, 4, 2147483647, -2147483647 - 1}) {
    for (int step = 0; step < 25000; step += 10) {
      snapshot_name(rank, step, name);
      std::snprintf(expected, sizeof expected, "rank%i_%lf", rank, static_cast<double>(step));
      ASSERT_STREQ(name, expected);
    }
  }
  snapshot_name(0, -1e300, name);  // longer than the buffer: cut like snprintf
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"  // the cut is what is compared
#endif
  std::snprintf(expected, sizeof expected, "rank%i_%lf", 0, -1e300);
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  EXPECT_STREQ(name, expected);
}

TEST(LayerText, InitialFieldIsTransposedWithATabAfterEveryValue) {
  double** T = initial_field(10, 10);
  std::vector<char> text;
  const std::size_t length = layer_text(T, 10, 0, 10, text);
  std::string line = "100.000000\t";
  for (int k = 0; k < 9; ++k) line += "0.000000\t";
  line += "\n";
  std::string expected;
  for (int k = 0; k < 10; ++k) expected += line;
  EXPECT_EQ(std::string(text.data(), length), expected);

  // A 3 x 2 block gives 2 lines of 3 values: line k is column k.
  T[1][0] = -1.5;
  T[2][1] = 1e20;
  const std::size_t block_length = layer_text(T, 3, 0, 2, text);
  EXPECT_EQ(std::string(text.data(), block_length),
            "100.000000\t-1.500000\t0.000000\t\n"
            "100.000000\t0.000000\t100000000000000000000.000000\t\n");
}

// A strip wider than one chunk of text goes out in several writes, and the file must still hold
// every column, in order, once.
TEST(WriteLayer, AStripLargerThanOneChunkIsWrittenWhole) {
  char folder[] = "/tmp/heat2d-write-layer-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  char* previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(folder), 0);
  constexpr int COLS = (1 << 19) + 3;
  std::vector<double> row(COLS);
  for (int k = 0; k < COLS; ++k) row[k] = k;
  double* field[] = {row.data()};
  EXPECT_EQ(write_layer(field, 1, COLS, 3, 40.0), 0);
  std::ifstream file("rank3_40.000000");
  std::string line;
  int count = 0;
  while (std::getline(file, line)) {
    ASSERT_EQ(line, std::to_string(count) + ".000000\t") << "line " << count;
    ++count;
  }
  EXPECT_EQ(count, COLS);
  std::remove("rank3_40.000000");
  EXPECT_EQ(chdir(previous), 0);
  std::free(previous);
  rmdir(folder);
}

}  // namespace
