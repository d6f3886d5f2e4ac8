// The division of the grid: strips for 1 to 5 processes, blocks on process grids, and the limits
// that every strip and block needs two rows and two columns.
#include <gtest/gtest.h>

#include <vector>

#include "solver/process_grid.hpp"
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

// Every cell belongs to exactly one block, and the blocks know which edges of the grid they touch.
TEST(Decomposition, BlocksTileTheGridAndKnowTheirEdges) {
  const ProcessGrid processes = {3, 4};
  std::vector<int> owners(37 * 23, 0);
  for (int r = 0; r < processes.px; ++r) {
    for (int c = 0; c < processes.py; ++c) {
      const Block b = block_of({37, 23}, processes, r, c);
      EXPECT_EQ(b.rows, r == 2 ? 13 : 12);
      EXPECT_EQ(b.cols, c == 3 ? 8 : 5);
      EXPECT_EQ(b.on_edge(Side::top), r == 0);
      EXPECT_EQ(b.on_edge(Side::bottom), r == 2);
      EXPECT_EQ(b.on_edge(Side::left), c == 0);
      EXPECT_EQ(b.on_edge(Side::right), c == 3);
      for (int i = b.first_row; i < b.first_row + b.rows; ++i) {
        for (int j = b.first_col; j < b.first_col + b.cols; ++j) ++owners[i * 23 + j];
      }
    }
  }
  EXPECT_EQ(std::vector<int>(37 * 23, 1), owners);
}

TEST(Decomposition, GridsTooFineForTheirBlocksSayWhatFits) {
  EXPECT_EQ(check_process_grid({37, 23}, {2, 11}), "");
  EXPECT_EQ(check_process_grid({37, 23}, {2, 12}),
            "the 2x12 process grid does not fit a 37 x 23 grid: 12 process columns leave blocks "
            "of 1 column on 23 columns, and every block needs at least two rows and two columns; "
            "--procs 6x4 fits");
  EXPECT_EQ(check_process_grid({4, 5}, {1, 3}),
            "the 1x3 process grid does not fit a 4 x 5 grid: 3 process columns leave blocks of 1 "
            "column on 5 columns, and every block needs at least two rows and two columns; no "
            "process grid of 3 processes fits, at most 4 processes do");
  EXPECT_NE(check_process_grid({3, 40}, {2, 1})
                .find("2 process rows leave blocks of 1 row on 3 "
                      "rows"),
            std::string::npos);
}

}  // namespace
