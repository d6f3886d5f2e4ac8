// The multigrid's parts in-process: the transfers between a direction's levels, the vector loops
// against the cell-by-cell ones, and whole solves with one thread and with several.
#include "multigrid/multigrid.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bits.hpp"
#include "common/allocate_field.hpp"
#include "multigrid/axis.hpp"
#include "multigrid/stencil.hpp"
#include "solver/process_grid.hpp"

namespace {

// Of every size, held or insulated, a coarser direction interpolates linear functions exactly
// between its nodes (held ends holding 0) and restricts with weights that add up to 1 at each
// coarse unknown.
TEST(Axis, TransfersInterpolateLinesAndRestrictWithWeightsOfOne) {
  for (int nodes : {5, 6, 7, 8, 37, 64, 1025}) {
    for (bool held : {true, false}) {
      Axis fine = finest_axis(nodes, held, 1.0 / nodes);
      for (int level = 0; can_coarsen(fine); ++level) {
        AxisTransfer t;
        const Axis coarse = coarser_axis(fine, true, t);
        const std::string what = std::to_string(nodes) + (held ? " held" : " insulated") +
                                 ", level " + std::to_string(level);
        for (int c = 1; c <= coarse.nodes - 2; ++c) {
          EXPECT_NEAR(t.gather[c][0] + t.gather[c][1] + t.gather[c][2], 1.0, 1e-14) << what;
        }
        // e(p) = p on the coarse nodes, 0 at held ends.
        const auto line = [&](int c) {
          return held && (c == 0 || c == coarse.nodes - 1) ? 0.0 : coarse.position[c];
        };
        for (int f = 1; f <= fine.nodes - 2; ++f) {
          const int a = t.parent[0][f];
          const int b = t.parent[1][f];
          const double interpolated = t.part[0][f] * line(a) + t.part[1][f] * line(b);
          // On a coarse node, or between two that are not held ends.
          const bool on_node = t.part[0][f] == 1.0 && coarse.position[a] == fine.position[f];
          const bool inside = a != b && !(held && (a == 0 || b == coarse.nodes - 1));
          if (on_node || inside) {
            EXPECT_NEAR(interpolated, fine.position[f], 1e-12) << what << ", fine node " << f;
          }
        }
        fine = coarse;
      }
    }
  }
}

// A level of the grid of `nx` x `ny` on one block, its layers random.
struct RandomLevel {
  Level level;
  RandomLevel(int nx, int ny, double k, std::mt19937_64& generator) {
    level.x = finest_axis(nx, true, 1.0 / nx);
    level.y = finest_axis(ny, false, 1.0 / ny);
    level.block = block_of({nx, ny}, {1, 1}, 0, 0);
    level.block.ghost = Multigrid::GHOST;
    level.a = coefficients(level.x, level.y, k);
    EXPECT_TRUE(allocate_level(level));
    std::uniform_real_distribution<double> value(-50.0, 150.0);
    const Region all = level.block.allocated();
    for (int i = all.row_begin; i < all.row_end; ++i) {
      for (int j = all.col_begin; j < all.col_end; ++j) {
        level.u[i][j] = value(generator);
        level.f[i][j] = value(generator);
      }
    }
  }
};

// Where the processor has AVX-512, the vector loops must give the cell-by-cell loops' bits on
// every row, colour and range of columns.
TEST(Stencil, TheVectorLoopsGiveTheCellByCellBits) {
  std::mt19937_64 generator(11);
  for (const auto& grid : {std::pair<int, int>{9, 40}, {5, 133}, {7, 1031}}) {
    RandomLevel a(grid.first, grid.second, 0.37, generator);
    RandomLevel b(grid.first, grid.second, 0.37, generator);
    const Region all = a.level.block.allocated();
    for (int i = all.row_begin; i < all.row_end; ++i) {
      std::copy(a.level.u[i] + all.col_begin, a.level.u[i] + all.col_end,
                b.level.u[i] + all.col_begin);
      std::copy(a.level.f[i] + all.col_begin, a.level.f[i] + all.col_end,
                b.level.f[i] + all.col_begin);
    }
    const Region unknowns = a.level.unknowns();
    for (int begin : {unknowns.col_begin, 3, 10}) {
      for (int end : {unknowns.col_end, unknowns.col_end - 9}) {
        for (int colour : {0, 1}) {
          for (int i = unknowns.row_begin; i < unknowns.row_end; ++i) {
            EXPECT_EQ(relax_row(a.level, i, begin, end, colour, true),
                      relax_row(b.level, i, begin, end, colour, false));
          }
        }
        std::vector<double> wide(grid.second + 2);
        std::vector<double> plain(grid.second + 2);
        for (int i = unknowns.row_begin; i < unknowns.row_end; ++i) {
          for (int j = 0; j < grid.second; ++j) {
            ASSERT_EQ(bits(a.level.u[i][j]), bits(b.level.u[i][j])) << i << "," << j;
          }
          residual_row(a.level, i, begin, end, wide.data(), true);
          residual_row(b.level, i, begin, end, plain.data(), false);
          explicit_part_row(a.level, a.level.u, i, begin, end, wide.data() + 1, true);
          explicit_part_row(b.level, b.level.u, i, begin, end, plain.data() + 1, false);
          for (int j = begin; j <= end; ++j)
            ASSERT_EQ(bits(wide[j]), bits(plain[j])) << i << "," << j;
        }
      }
    }
  }
}

// Whole solves on grids that coarsen in both directions, in one, and barely: each cycle cuts the
// residual at least five times, and three threads give one thread's bits.
TEST(Multigrid, CyclesReduceTheResidualAndThreadsKeepTheBits) {
  std::mt19937_64 generator(3);
  for (const auto& grid : {std::pair<int, int>{65, 65}, {37, 23}, {3, 300}, {300, 5}}) {
    std::vector<double> solutions[2];
    for (int threads : {1, 3}) {
      RandomLevel problem(grid.first, grid.second, 0.5, generator);
      std::mt19937_64 same(grid.first);
      std::uniform_real_distribution<double> value(-1.0, 1.0);
      const Region all = problem.level.block.allocated();
      for (int i = all.row_begin; i < all.row_end; ++i) {
        for (int j = all.col_begin; j < all.col_end; ++j) {
          problem.level.u[i][j] = 0.0;
          problem.level.f[i][j] = value(same);
        }
      }
      Multigrid multigrid(problem.level.block, {1, 1}, 0, 0, 0.5);
      ASSERT_TRUE(multigrid.allocate());
      Team team;
      team.threads = threads;
      team.cells.assign(threads, 0);
      SolveControl control;
      control.tolerance = 1e-11;
      const SolveResult result = multigrid.solve(problem.level.u, problem.level.f, control, team);
      ASSERT_TRUE(result.converged);
      EXPECT_GE(std::pow(result.first_residual / result.last_residual, 1.0 / result.cycles), 5.0)
          << grid.first << " x " << grid.second << ", " << result.cycles << " cycles";
      for (int i = 0; i < grid.first; ++i) {
        solutions[threads == 1 ? 0 : 1].insert(solutions[threads == 1 ? 0 : 1].end(),
                                               problem.level.u[i],
                                               problem.level.u[i] + grid.second);
      }
    }
    ASSERT_EQ(solutions[0].size(), solutions[1].size());
    for (std::size_t n = 0; n < solutions[0].size(); ++n) {
      ASSERT_EQ(bits(solutions[0][n]), bits(solutions[1][n])) << grid.first << " x " << grid.second;
    }
  }
}

}  // namespace
