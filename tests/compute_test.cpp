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
#include "solver/advance.hpp"
#include "solver/cache_size.hpp"
#include "solver/stores.hpp"
#include "solver/swap_layers.hpp"
#include "solver/tiled_pass.hpp"
#include "solver/update_region.hpp"
#include "solver/update_span.hpp"
#include "solver/wide_span.hpp"

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

// The whole grid advanced one step cell by cell: the first and last rows held, the side columns
// copying their inner neighbour, every other cell taking its four neighbours.
std::vector<double> grid_step(const std::vector<double>& G, int NX, int NY) {
  std::vector<double> next = G;
  for (int i = 1; i < NX - 1; ++i) {
    const double* row = &G[i * NY];
    next[i * NY] = row[1];
    next[i * NY + NY - 1] = row[NY - 2];
    for (int j = 1; j < NY - 1; ++j) {
      next[i * NY + j] =
          formula(row[j - NY], row[j], row[j + NY], row[j - 1], row[j + 1], DX, DY, SMALL_DT);
    }
  }
  return next;
}

// Every block of a process grid, given the field around it `steps` cells deep where it faces a
// neighbour, advanced `steps` steps in one pass, with one thread and with three, tiles narrow and
// wide, single steps cached and streamed: every cell of the block gets the bits of the grid
// advanced step by step. The grids put blocks exactly `steps` rows or columns deep beside others,
// so that ghost zones reach the grid's held rows and insulated columns.
TEST(Passes, EveryBlockOfEveryProcessGridMatchesTheGridSteppedCellByCell) {
  std::mt19937_64 generator(21);
  std::uniform_real_distribution<double> temperature(-50.0, 150.0);
  const Scheme scheme = make_scheme(DX, DY, SMALL_DT);
  for (int steps : {1, 2, 3, 5, 9}) {
    for (const ProcessGrid grid : {ProcessGrid{1, 1}, ProcessGrid{3, 1}, ProcessGrid{1, 3},
                                   ProcessGrid{3, 3}, ProcessGrid{2, 4}}) {
      const int deep = std::max(2, steps);
      const int NX = std::max(3, deep * grid.rows + steps % 2);
      const int NY = std::max(3, deep * grid.cols + 1 + (grid.cols == 1 ? 40 : 0));
      std::vector<double> G(NX * NY);
      for (double& value : G) value = temperature(generator);
      std::vector<double> expected = G;
      for (int k = 0; k < steps; ++k) expected = grid_step(expected, NX, NY);
      for (int p = 0; p < grid.rows * grid.cols; ++p) {
        const Block b = block_of(NX, NY, grid, p / grid.cols, p % grid.cols);
        for (int threads : {1, 3}) {
          for (int tile : {16, 512}) {
            for (Stores stores : {Stores::cached, Stores::streamed}) {
              if (steps > 1 && stores == Stores::streamed) continue;
              set_stores(stores);
              Stepper s;
              s.block = b;
              s.scheme = scheme;
              s.fuse = steps;
              s.tile_width = tile;
              s.team.threads = threads;
              s.stream = streams_layers(b.rows(), b.cols());
              const int none[SIDES] = {MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL, MPI_PROC_NULL};
              s.halo = make_halo(MPI_COMM_NULL, none, {b.rows(), b.cols(), steps});
              ASSERT_TRUE(allocate_layers(s));
              const Region reach = level_region(b, steps, 0);
              for (int i = reach.row_begin; i < reach.row_end; ++i) {
                for (int j = reach.col_begin; j < reach.col_end; ++j) {
                  s.T0[i][j] = G[(b.row_begin + i) * NY + b.col_begin + j];
                }
              }
              // Without neighbours there is no trade: the ghost zones already hold their cells.
              advance(s, steps);
              double** result = s.T0;
              for (int i = 0; i < b.rows(); ++i) {
                for (int j = 0; j < b.cols(); ++j) {
                  ASSERT_EQ(bits(result[i][j]),
                            bits(expected[(b.row_begin + i) * NY + b.col_begin + j]))
                      << steps << " steps, " << grid.rows << "x" << grid.cols << " block " << p
                      << ", " << threads << " threads, tile " << tile << ", cell " << i << "," << j;
                }
              }
              long long cells = 0;
              for (long long c : s.team.cells) cells += c;
              EXPECT_GE(cells, 1LL * steps * b.rows() * b.cols());
            }
          }
        }
      }
    }
  }
  set_stores(Stores::automatic);
}

// The spans the overlapped exchange and the tiles update apart, of every width and alignment,
// through every kernel that takes them (streamed, AVX-512 and plain): every cell of the span gets
// the scheme's bits and no cell outside it is written.
TEST(UpdateSpan, GivesTheSchemeBitsOnEverySpanAndWritesNothingElse) {
  std::mt19937_64 generator(7);
  const Scheme s = make_scheme(DX, DY, SMALL_DT);
  constexpr double UNTOUCHED = -1.0e300;
  using Kernel = bool (*)(const RowSet&, const Span&, const Scheme&);
  const Kernel kernels[] = {
      [](const RowSet& r, const Span& p, const Scheme& c) {
        if (!stream_span(r, p, c)) return false;
        finish_streaming();
        return true;
      },
      wide_span,
      [](const RowSet& r, const Span& p, const Scheme& c) { return cached_span(r, p, c), true; }};
  int taken[3] = {0, 0, 0};
  for (int width : {2, 7, 8, 9, 11, 12, 64, 1001}) {
    double** T = allocate_block({3, width + 4, 1}, 0);
    randomise(T, -1, 2, -1, width + 4, generator);
    for (int offset : {0, 1, 4}) {  // 4: 32-byte aligned but not on a cache line
      double* out = T[2] + offset;
      const RowSet row = {out, T[-1] + 1, T[0] + 1, T[1] + 1};
      for (int begin : {0, 4, 8}) {
        for (int end : {width, (width - 1) / 4 * 4, width - 1}) {
          for (int sides = 0; sides < 4; ++sides) {
            const Span span = {begin, end, (sides & 1) != 0, (sides & 2) != 0};
            if (begin + 1 >= end) continue;
            for (int k = 0; k < 3; ++k) {
              std::fill(out, out + width + 1, UNTOUCHED);
              if (!kernels[k](row, span, s)) continue;
              ++taken[k];
              for (int j = 0; j <= width; ++j) {
                double expected = UNTOUCHED;
                if (j >= begin && j < end) {
                  expected = j == begin && span.left_side ? row.centre[j + 1]
                             : j == end - 1 && span.right_side
                                 ? row.centre[j - 1]
                                 : formula(row.up[j], row.centre[j], row.down[j], row.centre[j - 1],
                                           row.centre[j + 1], DX, DY, SMALL_DT);
                }
                ASSERT_EQ(bits(out[j]), bits(expected))
                    << "kernel " << k << ", " << width << " offset " << offset << " span " << begin
                    << ".." << end << " sides " << sides << " column " << j;
              }
            }
          }
        }
      }
    }
  }
#if defined(__x86_64__)
  // Where the processor has the instructions, the spans must really have gone those ways.
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_GT(taken[0], 100);
  }
  if (__builtin_cpu_supports("avx512f")) {
    EXPECT_GT(taken[1], 100);
  }
#endif
}

// Where the kernel describes the caches too, the processor's own description must give the same
// sizes: one instance of the last level, not the package's sum, and the core's own L2.
TEST(CacheSize, CpuidAgreesWithTheKernelWhereBothSay) {
  for (int level : {2, LAST_LEVEL}) {
    const double cpuid = cpuid_cache_bytes(level);
    const double sysfs = sysfs_cache_bytes(level);
    if (cpuid == 0.0 || sysfs == 0.0) GTEST_SKIP() << "CPUID " << cpuid << ", sysfs " << sysfs;
    EXPECT_EQ(cpuid, sysfs) << level;
  }
  EXPECT_STREQ(last_level_cache().source, "CPUID");
}

}  // namespace
