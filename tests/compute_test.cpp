// The update: exact values from the initial field, and the row-wise kernel against a cell-by-cell
// rendering of the scheme's case analysis in every strip position.
#include "solver/compute.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bits.hpp"
#include "common/allocate_field.hpp"
#include "driver/initial_field.hpp"
#include "solver/stream_row.hpp"
#include "solver/swap_layers.hpp"

namespace {

constexpr double H = 0.1;
constexpr double DT = 1e-5;

// The scheme cell by cell, tests in the prescribed order: row position, then rank, then column.
double reference_cell(double** T0, int i, int j, int sizeX, int sizeY, const double* ghost_top,
                      const double* ghost_bottom, int rank, int process_count) {
  const bool inner = j > 0 && j < sizeY - 1;
  const double* up = nullptr;
  const double* down = nullptr;
  if (i == 0) {
    if (rank == 0) return ghost_top[j];
    up = ghost_top;
    down = T0[1];
  } else if (i == sizeX - 1) {
    if (rank == process_count - 1) return ghost_bottom[j];
    up = T0[i - 1];
    down = ghost_bottom;
  } else {
    up = T0[i - 1];
    down = T0[i + 1];
  }
  if (!inner) return j == 0 ? T0[i][1] : T0[i][sizeY - 2];
  const double rx = DT / (H * H);
  const double ry = DT / (H * H);
  const double centre = T0[i][j];
  const double vertical = (up[j] - 2.0 * centre) + down[j];
  const double partial = rx * vertical + centre;
  const double horizontal = (T0[i][j - 1] - 2.0 * centre) + T0[i][j + 1];
  return partial + ry * horizontal;
}

// One whole-grid step in one process: the ghost rows are the grid's own first and last rows.
void serial_step(double**& T0, double**& T1, int rows, int cols) {
  compute(T0, T1, rows, cols, T0[0], T0[rows - 1], H, H, DT, 0, 1);
  swap_layers(T0, T1);
}

TEST(Compute, FirstTwoStepsFromTheInitialFieldGiveTheExactDoubles) {
  double** T0 = initial_field(10, 10);
  double** T1 = allocate_field(10, 10);

  serial_step(T0, T1, 10, 10);
  for (int j = 0; j < 10; ++j) {
    EXPECT_EQ(bits(T0[0][j]), bits(100.0)) << j;
    const double row1 = (j == 0 || j == 9) ? 0.0 : 0.09999999999999998;
    EXPECT_EQ(bits(T0[1][j]), bits(row1)) << j;
    for (int i = 2; i < 10; ++i) EXPECT_EQ(bits(T0[i][j]), bits(0.0)) << i << "," << j;
  }

  serial_step(T0, T1, 10, 10);
  for (int j = 0; j < 10; ++j) {
    double row1 = 0.19979999999999995;
    if (j == 1 || j == 8) row1 = 0.19969999999999996;
    if (j == 0 || j == 9) row1 = 0.09999999999999998;  // edges lag one step
    EXPECT_EQ(bits(T0[1][j]), bits(row1)) << j;
    EXPECT_EQ(bits(T0[0][j]), bits(100.0)) << j;
    EXPECT_EQ(bits(T0[9][j]), bits(0.0)) << j;
  }
}

// Random strips, ghost rows distinct from the strip's own rows: the first process must hold its
// first row (ghost_top), the last process its last row (ghost_bottom), a middle strip must update
// both edge rows from the ghost rows, and every bit must agree.
TEST(Compute, MatchesTheCellByCellSchemeOnRandomStripsInEveryPosition) {
  std::mt19937_64 generator(20261206);
  std::uniform_real_distribution<double> temperature(-50.0, 150.0);
  const int shapes[][2] = {{2, 2}, {2, 3}, {3, 10}, {7, 17}, {64, 33}};
  const int positions[][2] = {{0, 1}, {0, 4}, {2, 4}, {3, 4}};  // {rank, process_count}
  for (const auto& shape : shapes) {
    const int sizeX = shape[0];
    const int sizeY = shape[1];
    double** T0 = allocate_field(sizeX, sizeY);
    double** T1 = allocate_field(sizeX, sizeY);
    std::vector<double> ghost_top(sizeY);
    std::vector<double> ghost_bottom(sizeY);
    for (int i = 0; i < sizeX; ++i) {
      for (int j = 0; j < sizeY; ++j) T0[i][j] = temperature(generator);
    }
    for (int j = 0; j < sizeY; ++j) {
      ghost_top[j] = temperature(generator);
      ghost_bottom[j] = temperature(generator);
    }
    for (const auto& position : positions) {
      const int rank = position[0];
      const int count = position[1];
      compute(T0, T1, sizeX, sizeY, ghost_top.data(), ghost_bottom.data(), H, H, DT, rank, count);
      for (int i = 0; i < sizeX; ++i) {
        for (int j = 0; j < sizeY; ++j) {
          const double expected = reference_cell(T0, i, j, sizeX, sizeY, ghost_top.data(),
                                                 ghost_bottom.data(), rank, count);
          ASSERT_EQ(bits(T1[i][j]), bits(expected)) << sizeX << "x" << sizeY << " rank " << rank
                                                    << "/" << count << " cell " << i << "," << j;
        }
      }
    }
  }
}

// Streamed rows of every width and alignment, where they can be streamed, give the scheme's bits.
TEST(StreamRow, GivesTheSchemeBitsWhereverItStreams) {
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> temperature(-50.0, 150.0);
  const double rx = DT / (H * H);
  int streamed = 0;
  for (int width : {2, 7, 8, 9, 11, 64, 1001}) {
    for (int offset : {0, 1, 4}) {
      // Rows on cache lines, as allocate_field gives them, so that offsets 0 and 4 stream.
      const int stride = (width + 8 + 7) / 8 * 8;
      double* up = allocate_field(1, 4 * stride)[0];
      for (int k = 0; k < 3 * stride; ++k) up[k] = temperature(generator);
      double* centre = up + stride;
      double* down = centre + stride;
      double* out = down + stride + offset;
      const std::vector<double> before(out, out + width);
      if (!stream_row(out, up, centre, down, width, rx, rx)) {
        EXPECT_TRUE(std::equal(before.begin(), before.end(), out));
        continue;
      }
      finish_streaming();
      ++streamed;
      double* strip[] = {up, centre, down};
      for (int j = 0; j < width; ++j) {
        ASSERT_EQ(bits(out[j]), bits(reference_cell(strip, 1, j, 3, width, up, down, 0, 1)))
            << width << " offset " << offset << " column " << j;
      }
    }
  }
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_GT(streamed, 4);
  }
#endif
}

}  // namespace
