// Strips: the row division for 1 to 5 processes.
#include <gtest/gtest.h>

#include <vector>

#include "solver/strip_bounds.hpp"

namespace {

constexpr int NX = 10;

std::vector<int> strip_sizes(int process_count) {
  std::vector<int> sizes;
  int expected_begin = 0;
  for (int rank = 0; rank < process_count; ++rank) {
    int row_begin = -1;
    int row_end = -1;
    strip_bounds(NX, rank, process_count, row_begin, row_end);
    EXPECT_EQ(row_begin, expected_begin) << "strips must tile the grid in rank order";
    expected_begin = row_end;
    sizes.push_back(row_end - row_begin);
  }
  EXPECT_EQ(expected_begin, NX);
  return sizes;
}

TEST(Decomposition, RemainderGoesToTheLastProcess) {
  EXPECT_EQ(strip_sizes(1), (std::vector<int>{10}));
  EXPECT_EQ(strip_sizes(2), (std::vector<int>{5, 5}));
  EXPECT_EQ(strip_sizes(3), (std::vector<int>{3, 3, 4}));
  EXPECT_EQ(strip_sizes(4), (std::vector<int>{2, 2, 2, 4}));
  EXPECT_EQ(strip_sizes(5), (std::vector<int>{2, 2, 2, 2, 2}));
  EXPECT_EQ(max_process_count(NX), 5);
}

}  // namespace
