// The update: exact values from the initial field, the reference kernel against the scheme, and
// every other kernel and path (strips and blocks, cached and streamed stores, passes of several
// steps with threads, the spans the overlapped exchange uses) against it, compared by bits.
#include "solver/compute.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bits.hpp"
#include "common/allocate_field.hpp"
#include "driver/initial_field.hpp"
#include "solver/cache_size.hpp"
#include "solver/span_kernel.hpp"
#include "solver/swap_layers.hpp"
#include "solver/tiled_pass.hpp"
#include "stepping/explicit_stepper.hpp"

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

// Random strips, ghost rows distinct from the strip's own rows, through every kernel's strip
// and through heat2d's compute: the first process must hold its first row (ghost_top), the last
// process its last row (ghost_bottom), a middle strip must update both edge rows from the ghost
// rows. Every kernel must give the bits of the scheme written out here.
TEST(Compute, EveryKernelsStripMatchesTheSchemeInEveryPosition) {
  std::mt19937_64 generator(20261206);
  const int shapes[][2] = {{2, 2}, {2, 3}, {3, 10}, {7, 17}, {5, 37}, {64, 33}, {3, 130}};
  const int positions[][2] = {{0, 1}, {0, 4}, {2, 4}, {3, 4}};  // {rank, process_count}
  const Scheme scheme = make_scheme(DX, DY, SMALL_DT);
  for (const auto& shape : shapes) {
    const int sizeX = shape[0];
    const int sizeY = shape[1];
    Block layout;
    layout.rows = sizeX;
    layout.cols = sizeY;
    // Block layers, whose rows may be read a little beyond their ends, as the wide kernels do; the
    // ghost rows too, as in a block.
    double** T0 = allocate_block(layout, 0);
    double** T1 = allocate_block(layout, 1);
    Block ghost_layout = layout;
    ghost_layout.rows = 2;
    double** ghosts = allocate_block(ghost_layout, 0);
    randomise(T0, 0, sizeX - 1, 0, sizeY - 1, generator);
    randomise(ghosts, 0, 1, 0, sizeY - 1, generator);
    for (const auto& position : positions) {
      const int rank = position[0];
      const int count = position[1];
      const StripEdges edges = {ghosts[0], ghosts[1], rank == 0, rank == count - 1};
      const auto check = [&](const std::string& what) {
        for (int i = 0; i < sizeX; ++i) {
          for (int j = 0; j < sizeY; ++j) {
            const double expected =
                strip_cell(T0, i, j, sizeX, sizeY, ghosts[0], ghosts[1], rank, count);
            ASSERT_EQ(bits(T1[i][j]), bits(expected))
                << what << " " << sizeX << "x" << sizeY << " rank " << rank << "/" << count
                << " cell " << i << "," << j;
          }
        }
      };
      for (const SpanKernel& kernel : span_kernels(this_cpu())) {
        kernel.strip(T0, T1, sizeX, sizeY, edges, scheme);
        if (kernel.streams) finish_streaming();
        check(kernel.name);
      }
      compute(T0, T1, sizeX, sizeY, ghosts[0], ghosts[1], DX, DY, SMALL_DT, rank, count);
      check("compute");
    }
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
    for (const ProcessGrid processes : {ProcessGrid{1, 1}, ProcessGrid{3, 1}, ProcessGrid{1, 3},
                                        ProcessGrid{3, 3}, ProcessGrid{2, 4}}) {
      const int deep = std::max(2, steps);
      const int NX = std::max(3, deep * processes.px + steps % 2);
      const int NY = std::max(3, deep * processes.py + 1 + (processes.py == 1 ? 40 : 0));
      std::vector<double> G(NX * NY);
      for (double& value : G) value = temperature(generator);
      std::vector<double> expected = G;
      for (int k = 0; k < steps; ++k) expected = grid_step(expected, NX, NY);
      for (int p = 0; p < processes.px * processes.py; ++p) {
        Block b = block_of({NX, NY}, processes, p / processes.py, p % processes.py);
        b.ghost = steps;
        for (int threads : {1, 3}) {
          for (int tile : {16, 512}) {
            for (Stores stores : {Stores::cached, Stores::streamed}) {
              if (steps > 1 && stores == Stores::streamed) continue;
              ExplicitConfig config;
              config.passes = plan_passes(b, steps, tile, threads, cache_size(2).bytes);
              config.stores = stores;
              ExplicitStepper stepper(b, scheme, config);
              ASSERT_TRUE(stepper.allocate());
              double** T = stepper.field();
              const Region reach = level_region(b, steps, 0);
              for (int i = reach.row_begin; i < reach.row_end; ++i) {
                for (int j = reach.col_begin; j < reach.col_end; ++j) {
                  T[i][j] = G[(b.first_row + i) * NY + b.first_col + j];
                }
              }
              // Without neighbours there is no exchange: the ghost zones already hold their cells.
              stepper.advance(0, steps);
              double** result = stepper.field();
              for (int i = 0; i < b.rows; ++i) {
                for (int j = 0; j < b.cols; ++j) {
                  ASSERT_EQ(bits(result[i][j]),
                            bits(expected[(b.first_row + i) * NY + b.first_col + j]))
                      << steps << " steps, " << processes.px << "x" << processes.py << " block "
                      << p << ", " << threads << " threads, tile " << tile << ", cell " << i << ","
                      << j;
                }
              }
              long long cells = 0;
              for (long long c : stepper.team().cells) cells += c;
              EXPECT_GE(cells, 1LL * steps * b.rows * b.cols);
            }
          }
        }
      }
    }
  }
}

// The spans the overlapped exchange and the tiles update apart, of every width and alignment,
// through every kernel that takes them (streamed, AVX-512 and plain): every cell of the span gets
// the scheme's bits and no cell outside it is written.
TEST(UpdateSpan, EveryKernelGivesTheReferenceBitsOnEverySpanAndWritesNothingElse) {
  std::mt19937_64 generator(7);
  const Scheme s = make_scheme(DX, DY, SMALL_DT);
  constexpr double UNTOUCHED = -1.0e300;
  const std::vector<SpanKernel> kernels = span_kernels(this_cpu());
  const SpanKernel reference = reference_span_kernel();
  for (int width : {2, 7, 8, 9, 11, 12, 64, 1001}) {
    Block layout;
    layout.rows = 4;
    layout.cols = width + 4;
    double** T = allocate_block(layout, 0);
    randomise(T, -1, 3, -1, width + 4, generator);
    for (int offset : {0, 1, 4}) {  // 4: 32-byte aligned but not on a cache line
      double* out = T[2] + offset;
      double* expected = T[3] + offset;
      const RowSet row = {out, T[-1] + 1, T[0] + 1, T[1] + 1};
      const RowSet reference_row = {expected, T[-1] + 1, T[0] + 1, T[1] + 1};
      for (int begin : {0, 4, 8}) {
        for (int end : {width, (width - 1) / 4 * 4, width - 1}) {
          for (int sides = 0; sides < 4; ++sides) {
            const Span span = {begin, end, (sides & 1) != 0, (sides & 2) != 0};
            if (begin + 1 >= end) continue;
            std::fill(expected, expected + width + 1, UNTOUCHED);
            reference.span(reference_row, span, s);
            for (const SpanKernel& kernel : kernels) {
              std::fill(out, out + width + 1, UNTOUCHED);
              kernel.span(row, span, s);
              if (kernel.streams) finish_streaming();
              for (int j = 0; j <= width; ++j) {
                ASSERT_EQ(bits(out[j]), bits(expected[j]))
                    << kernel.name << ", " << width << " offset " << offset << " span " << begin
                    << ".." << end << " sides " << sides << " column " << j;
              }
            }
          }
        }
      }
    }
  }
}

// Whatever the processor, the seam never gives rows that cannot be read beyond their ends
// (heat2d's) a kernel that reads there, nor one the processor lacks, and streams exactly when
// asked.
TEST(UpdateSpan, TheChoiceRespectsTheRowsTheProcessorAndTheStores) {
  for (const Cpu cpu : {Cpu{false, false}, Cpu{true, false}, Cpu{true, true}}) {
    for (bool stream : {false, true}) {
      for (bool margins : {false, true}) {
        for (int width : {8, 63, 64, 4096}) {
          const SpanKernel kernel = choose_span_kernel(cpu, stream, margins, width);
          const std::string name = kernel.name;
          EXPECT_EQ(kernel.streams, stream && cpu.avx2) << name;
          if (!margins || !cpu.avx512) {
            EXPECT_EQ(name.find("avx512"), std::string::npos) << name;
          }
          if (!cpu.avx2) {
            EXPECT_EQ(name, "portable");
          }
          if (cpu.avx512 && margins && width >= WIDE_ROW) {
            EXPECT_EQ(name.find("avx512"), 0u) << name;
          }
        }
      }
    }
  }
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
