// Strips: the row division for 1 to 5 processes, and strips advanced with their neighbours' rows
// staying bit for bit equal to the one-process grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bits.hpp"
#include "common/allocate_field.hpp"
#include "driver/initial_field.hpp"
#include "solver/compute.hpp"
#include "solver/strip_bounds.hpp"
#include "solver/swap_layers.hpp"

namespace {

constexpr int NX = 10;
constexpr int NY = 10;
constexpr double H = 0.1;
constexpr double DT = 1e-5;

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

struct Strip {
  int row_begin = 0;
  int row_end = 0;
  double** T0 = nullptr;
  double** T1 = nullptr;
  std::vector<double> ghost_top = std::vector<double>(NY);
  std::vector<double> ghost_bottom = std::vector<double>(NY);
};

const double* last_row(const Strip& s) {
  return s.T0[s.row_end - s.row_begin - 1];
}

// Strips of one grid advanced in one process: each takes its own edge rows as ghost rows, then
// the neighbours' edge rows where there are neighbours, exactly what the row exchange delivers.
TEST(Decomposition, StripsWithNeighbourRowsEqualTheOneProcessGridEveryStep) {
  constexpr int STEPS = 600;
  for (int process_count = 2; process_count <= 5; ++process_count) {
    double** whole = initial_field(NX, NY);
    double** whole_next = allocate_field(NX, NY);
    std::vector<Strip> strips(process_count);
    for (int rank = 0; rank < process_count; ++rank) {
      Strip& s = strips[rank];
      strip_bounds(NX, rank, process_count, s.row_begin, s.row_end);
      s.T0 = allocate_field(s.row_end - s.row_begin, NY);
      s.T1 = allocate_field(s.row_end - s.row_begin, NY);
      for (int k = s.row_begin; k < s.row_end; ++k) {
        std::copy(whole[k], whole[k] + NY, s.T0[k - s.row_begin]);
      }
    }

    for (int step = 0; step < STEPS; ++step) {
      for (int rank = 0; rank < process_count; ++rank) {
        Strip& s = strips[rank];
        const double* above = rank > 0 ? last_row(strips[rank - 1]) : s.T0[0];
        const double* below = rank < process_count - 1 ? strips[rank + 1].T0[0] : last_row(s);
        std::copy(above, above + NY, s.ghost_top.begin());
        std::copy(below, below + NY, s.ghost_bottom.begin());
      }
      for (int rank = 0; rank < process_count; ++rank) {
        Strip& s = strips[rank];
        compute(s.T0, s.T1, s.row_end - s.row_begin, NY, s.ghost_top.data(), s.ghost_bottom.data(),
                H, H, DT, rank, process_count);
        swap_layers(s.T0, s.T1);
      }
      compute(whole, whole_next, NX, NY, whole[0], whole[NX - 1], H, H, DT, 0, 1);
      swap_layers(whole, whole_next);

      for (const Strip& s : strips) {
        for (int k = s.row_begin; k < s.row_end; ++k) {
          for (int j = 0; j < NY; ++j) {
            ASSERT_EQ(bits(s.T0[k - s.row_begin][j]), bits(whole[k][j]))
                << process_count << " processes, step " << step << ", cell " << k << "," << j;
          }
        }
      }
    }
  }
}

}  // namespace
