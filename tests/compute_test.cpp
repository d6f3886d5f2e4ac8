// The update: exact values from the initial field, and every path of the kernel (strips and
// blocks, cached and streamed stores, whole rows and the spans the overlapped exchange uses)
// against a cell-by-cell rendering of the scheme, compared by bits.
#include "solver/compute.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bits.hpp"
#include "common/allocate_field.hpp"
#include "driver/initial_field.hpp"
#include "solver/block_step.hpp"
#include "solver/cache_size.hpp"
#include "solver/stores.hpp"
#include "solver/swap_layers.hpp"
#include "solver/update_span.hpp"

namespace {

constexpr double H = 0.1;
constexpr double DT = 1e-5;
// Unequal spacings, so that a kernel that mixes up rx and ry gives other bits.
constexpr double DX = 1.0 / 37;
constexpr double DY = 1.0 / 23;
constexpr double SMALL_DT = 2e-4;

double formula(double up, double centre, double down, double left, double right, double dx,
               double dy, double dt) {
  const double rx = dt / (dx * dx);
  const double ry = dt / (dy * dy);
  const double vertical = (up - 2.0 * centre) + down;
  const double partial = rx * vertical + centre;
  const double horizontal = (left - 2.0 * centre) + right;
  return partial + ry * horizontal;
}

// A strip cell by cell, tests in the prescribed order: row position, then rank, then column.
double strip_cell(double** T0, int i, int j, int sizeX, int sizeY, const double* ghost_top,
                  const double* ghost_bottom, int rank, int process_count) {
  const double* up = i == 0 ? ghost_top : T0[i - 1];
  const double* down = i == sizeX - 1 ? ghost_bottom : T0[i + 1];
  if (i == 0 && rank == 0) return ghost_top[j];
  if (i == sizeX - 1 && rank == process_count - 1) return ghost_bottom[j];
  if (j == 0) return T0[i][1];
  if (j == sizeY - 1) return T0[i][sizeY - 2];
  return formula(up[j], T0[i][j], down[j], T0[i][j - 1], T0[i][j + 1], DX, DY, SMALL_DT);
}

// A block cell by cell: held rows copy themselves, insulated side cells their inner neighbour, and
// every other cell takes its four neighbours, the ghost ring included.
double block_cell(double** T0, int i, int j, const Block& b) {
  if ((i == 0 && b.top_held) || (i == b.rows() - 1 && b.bottom_held)) return T0[i][j];
  if (j == 0 && b.left_side) return T0[i][1];
  if (j == b.cols() - 1 && b.right_side) return T0[i][b.cols() - 2];
  return formula(T0[i - 1][j], T0[i][j], T0[i + 1][j], T0[i][j - 1], T0[i][j + 1], DX, DY,
                 SMALL_DT);
}

void randomise(double** T, int first_row, int last_row, int first_col, int last_col,
               std::mt19937_64& generator) {
  std::uniform_real_distribution<double> temperature(-50.0, 150.0);
  for (int i = first_row; i <= last_row; ++i) {
    for (int j = first_col; j <= last_col; ++j) T[i][j] = temperature(generator);
  }
}

// Runs `body` once with the update's stores cached and once streamed wherever they can be.
template <typename Body>
void with_both_stores(Body body) {
  for (Stores stores : {Stores::cached, Stores::streamed}) {
    set_stores(stores);
    body(stores == Stores::streamed ? "streamed" : "cached");
  }
  set_stores(Stores::automatic);
}

TEST(Compute, FirstTwoStepsFromTheInitialFieldGiveTheExactDoubles) {
  double** T0 = initial_field(10, 10);
  double** T1 = allocate_field(10, 10);
  const auto step = [&] {
    compute(T0, T1, 10, 10, T0[0], T0[9], H, H, DT, 0, 1);
    swap_layers(T0, T1);
  };

  step();
  for (int j = 0; j < 10; ++j) {
    EXPECT_EQ(bits(T0[0][j]), bits(100.0)) << j;
    const double row1 = (j == 0 || j == 9) ? 0.0 : 0.09999999999999998;
    EXPECT_EQ(bits(T0[1][j]), bits(row1)) << j;
    for (int i = 2; i < 10; ++i) EXPECT_EQ(bits(T0[i][j]), bits(0.0)) << i << "," << j;
  }

  step();
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
// both edge rows from the ghost rows.
TEST(Compute, MatchesTheCellByCellSchemeOnRandomStripsInEveryPosition) {
  std::mt19937_64 generator(20261206);
  const int shapes[][2] = {{2, 2}, {2, 3}, {3, 10}, {7, 17}, {5, 37}, {64, 33}};
  const int positions[][2] = {{0, 1}, {0, 4}, {2, 4}, {3, 4}};  // {rank, process_count}
  for (const auto& shape : shapes) {
    const int sizeX = shape[0];
    const int sizeY = shape[1];
    double** T0 = allocate_field(sizeX, sizeY);
    double** T1 = allocate_field(sizeX, sizeY);
    double** ghosts = allocate_field(2, sizeY);
    randomise(T0, 0, sizeX - 1, 0, sizeY - 1, generator);
    randomise(ghosts, 0, 1, 0, sizeY - 1, generator);
    with_both_stores([&](const char* stores) {
      for (const auto& position : positions) {
        const int rank = position[0];
        const int count = position[1];
        compute(T0, T1, sizeX, sizeY, ghosts[0], ghosts[1], DX, DY, SMALL_DT, rank, count);
        for (int i = 0; i < sizeX; ++i) {
          for (int j = 0; j < sizeY; ++j) {
            const double expected =
                strip_cell(T0, i, j, sizeX, sizeY, ghosts[0], ghosts[1], rank, count);
            ASSERT_EQ(bits(T1[i][j]), bits(expected))
                << stores << " " << sizeX << "x" << sizeY << " rank " << rank << "/" << count
                << " cell " << i << "," << j;
          }
        }
      }
    });
  }
}

// Random blocks in every one of the sixteen positions a block can take against the grid's edges,
// ghost ring included; the block has no neighbours to trade with, so block_step only updates.
TEST(BlockStep, MatchesTheCellByCellSchemeInEveryPosition) {
  std::mt19937_64 generator(12);
  const int shapes[][2] = {{2, 2}, {2, 9}, {3, 3}, {6, 8}, {5, 37}, {33, 64}};
  const int alone[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
  const Scheme scheme = make_scheme(DX, DY, SMALL_DT);
  for (const auto& shape : shapes) {
    double** T0 = allocate_block(shape[0], shape[1]);
    double** T1 = allocate_block(shape[0], shape[1]);
    randomise(T0, -1, shape[0], -1, shape[1], generator);
    Halo halo = make_halo(MPI_COMM_NULL, alone, shape[0], shape[1]);
    with_both_stores([&](const char* stores) {
      for (int edges = 0; edges < 16; ++edges) {
        Block b;
        b.row_end = shape[0];
        b.col_end = shape[1];
        b.top_held = edges & 1;
        b.bottom_held = edges & 2;
        b.left_side = edges & 4;
        b.right_side = edges & 8;
        double seconds = 0.0;
        block_step(T0, T1, b, scheme, halo, Exchange::blocking, seconds);
        for (int i = 0; i < b.rows(); ++i) {
          for (int j = 0; j < b.cols(); ++j) {
            ASSERT_EQ(bits(T1[i][j]), bits(block_cell(T0, i, j, b)))
                << stores << " " << b.rows() << "x" << b.cols() << " edges " << edges << " cell "
                << i << "," << j;
          }
        }
      }
    });
  }
}

// The spans the overlapped exchange updates apart (inner columns first, the ends after the wait),
// of every width and alignment, streamed where they can be: every cell of the span gets the
// scheme's bits and no cell outside it is written.
TEST(UpdateSpan, GivesTheSchemeBitsOnEverySpanAndWritesNothingElse) {
  std::mt19937_64 generator(7);
  const Scheme s = make_scheme(DX, DY, SMALL_DT);
  constexpr double UNTOUCHED = -1.0e300;
  int streamed = 0;
  for (int width : {2, 7, 8, 9, 11, 12, 64, 1001}) {
    double** T = allocate_block(3, width + 4);
    randomise(T, -1, 2, -1, width + 4, generator);
    for (int offset : {0, 1, 4}) {  // 4: 32-byte aligned but not on a cache line
      double* out = T[2] + offset;
      double* up = T[-1] + 1;
      double* centre = T[0] + 1;
      double* down = T[1] + 1;
      for (int begin : {0, 4, 8}) {
        for (int end : {width, (width - 1) / 4 * 4, width - 1}) {
          for (int sides = 0; sides < 4; ++sides) {
            const bool left = sides & 1;
            const bool right = sides & 2;
            if (begin >= end) continue;
            std::fill(out, out + width, UNTOUCHED);
            if (stream_span(out, up, centre, down, begin, end, width, left, right, s.rx, s.ry)) {
              finish_streaming();
              ++streamed;
            } else {
              cached_span(out, up, centre, down, begin, end, width, left, right, s.rx, s.ry);
            }
            for (int j = 0; j < width; ++j) {
              double expected = UNTOUCHED;
              if (j >= begin && j < end) {
                expected = j == 0 && left ? centre[1]
                           : j == width - 1 && right
                               ? centre[width - 2]
                               : formula(up[j], centre[j], down[j], centre[j - 1], centre[j + 1],
                                         DX, DY, SMALL_DT);
              }
              ASSERT_EQ(bits(out[j]), bits(expected))
                  << width << " offset " << offset << " span " << begin << ".." << end << " sides "
                  << sides << " column " << j;
            }
          }
        }
      }
    }
  }
#if defined(__x86_64__)
  // Where the processor has AVX2, the aligned spans must really have gone the streamed way.
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_GT(streamed, 100);
  }
#endif
}

// Where the kernel describes the caches too, the processor's own description must give the same
// last-level cache: one instance, not the package's sum.
TEST(CacheSize, CpuidAgreesWithTheKernelWhereBothSay) {
  const double cpuid = cpuid_last_level_cache_bytes();
  const double sysfs = sysfs_last_level_cache_bytes();
  if (cpuid == 0.0 || sysfs == 0.0) GTEST_SKIP() << "CPUID " << cpuid << ", sysfs " << sysfs;
  EXPECT_EQ(cpuid, sysfs);
  EXPECT_STREQ(last_level_cache().source, "CPUID");
}

}  // namespace
