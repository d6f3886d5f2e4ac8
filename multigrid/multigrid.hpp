// The linear solve of an implicit step, (I - k L) u = f, by V-cycles of a geometric multigrid that
// takes grids of every size and gives the same bits on every process count, process grid and
// thread count.
#pragma once

#include <string>
#include <vector>

#include "common/block.hpp"
#include "multigrid/axis.hpp"
#include "multigrid/coarse_solve.hpp"
#include "multigrid/level.hpp"
#include "multigrid/pass.hpp"
#include "solver/process_grid.hpp"
#include "solver/team.hpp"

// When a solve ends: when the residual's max-norm is at most `tolerance` times the size of the
// system's data (the right-hand side and the held values), or times the least that doubles can
// reach there: the residual of a solution right to the last bit is still about the operator's
// norm times the data times the rounding unit, which for a time step far past the explicit limit
// is above most tolerances.
struct SolveControl {
  double tolerance = 1e-10;
  int cycles = 0;        // exactly this many V-cycles when positive, whatever the residual
  int most_cycles = 60;  // a solve that needs more has failed
};

// How one solve went. The norms are max-norms over the whole grid's unknowns.
struct SolveResult {
  int cycles = 0;
  double right_hand_side = 0.0;  // the size of the data: the largest of f and the held values
  double first_residual = 0.0;   // of the starting guess
  double last_residual = 0.0;
  double target = 0.0;    // the residual it had to reach
  bool converged = true;  // false: the cycles ran out before the tolerance was met
};

// What the solves of a run cost and sent, on this process.
struct MultigridCounts {
  long long solves = 0;
  long long cycles = 0;
  int most_cycles = 0;
  double log_reduction = 0.0;     // sum over solves of log(first / last residual)
  long long reducing_cycles = 0;  // the cycles of the solves counted in log_reduction
  double seconds = 0.0;           // in solves
  double exchange_seconds = 0.0;  // of which exchanging halos, gathering and scattering
  long long messages = 0;
  long long bytes = 0;
  std::vector<long long> level_messages;  // of `messages`, by level (finest first)
};

// The levels run from the field's grid (level 0) to the coarsest, which is solved exactly. Each
// coarser level keeps every other row, column or both of the one above (a direction is coarsened
// while it has three unknowns or more, and only the more strongly coupled one while one is over
// twice as strong as the other), down to a few dozen unknowns. A level is spread over the
// processes as its finer one is (each process owns the coarse nodes on its own fine rows and
// columns) while every block keeps MIN_EXTENT rows and columns along a split direction; the
// first level that would not, and every coarser one, is gathered onto rank 0, which solves it
// alone and sends each process its part back. Only the spreading depends on the processes; every
// cell is computed from the same values in the same order wherever it is computed.
//
// A cycle on the field's grid restricts the residual, lets the coarser levels solve for the
// correction from zero, interpolates it back, adds it, and smooths what is left with two sweeps of
// red-black Gauss-Seidel (over-relaxed); the residual that the next cycle restricts is the one the
// convergence is judged by, so each cycle computes it once. (Its pre-smoothing is thus the last
// cycle's post-smoothing, and its convergence that of a V(1,1) cycle.) Each coarser level, which
// has no residual to judge, is a V(2,2) cycle from zero: smooth, restrict, correct, smooth.
class Multigrid {
 public:
  // Smoothing sweeps before and after each correction.
  static constexpr int SWEEPS = 2;
  // A level stays spread over the processes while each block has this many rows and columns.
  static constexpr int MIN_EXTENT = 16;
  // The coarsest level has at most this many unknowns.
  static constexpr int DIRECT_UNKNOWNS = 64;
  // A level's smoothing runs its half-sweeps (and the interpolation before them) in one pass over
  // memory, on ghost zones this deep exchanged once: each stage also does the ring of the
  // neighbours' cells that the next reads, and the last leaves u right two deep, where the
  // residual is computed next.
  static constexpr int RESIDUAL_RING = 2;
  static constexpr int GHOST = RESIDUAL_RING + 2 * SWEEPS;
  // The correction's ring a finer level's interpolation reads, for its ring GHOST deep (as deep,
  // along a direction that is not coarsened).
  static constexpr int CORRECTION_RING = GHOST;
  // The residual a solve may stop at on account of rounding: this many rounding units (2^-52)
  // times the operator's norm, relative to the data.
  static constexpr double ROUND_OFF = 64 * 2.220446049250313e-16;

  // Over `finest` (this process's block of the field, ghost cells two deep, its neighbours on its
  // communicator, whose rank 0 gathers the coarse levels), one of `processes` at (process_row,
  // process_col), for the operator I - k L.
  Multigrid(const Block& finest, const ProcessGrid& processes, int process_row, int process_col,
            double k);

  // Bytes the coarser levels take on this process, before they are allocated.
  double memory_bytes() const;
  // Allocates them; false when the memory is not there.
  bool allocate();

  // Solves with u (the field's layer of the finest block: the first guess, then the solution) and
  // f (its ghost cells are filled here); u's insulated columns are left as they were.
  // Collective over the block's communicator; the team's threads share every level's rows.
  SolveResult solve(double** u, double** f, const SolveControl& control, Team& team);

  const MultigridCounts& counts() const { return counts_; }
  // The grids of the levels, finest first, and how many of them are spread over the processes.
  std::vector<GridSize> grids() const { return grids_; }
  int distributed_levels() const {
    return gathered_ < 0 ? static_cast<int>(grids_.size()) : gathered_;
  }
  // Seconds this process spent on each level it computes, finest first.
  std::vector<double> level_seconds() const;

 private:
  void build(const ProcessGrid& processes, int process_row, int process_col, double k);
  void cycle_from(int l, Team& team);
  void go_down(int l, Team& team);
  double pass(int l, const Correction* correction, int sweeps, const CoarsePart* into, Team& team);
  CoarsePart next(int l, bool correction);
  Region ring(const Level& level, int ring) const;
  void exchange(Level& level, double** T, int depth);
  void gather_part();
  void scatter_part();
  bool on_root() const;
  double largest(double mine);
  void count_messages(int level, long long messages, long long bytes);

  std::vector<Level> levels_;  // the ones this process computes
  std::vector<GridSize> grids_;
  std::vector<AxisTransfer> to_x_;  // from level l to l + 1
  std::vector<AxisTransfer> to_y_;
  int gathered_ = -1;        // the first level rank 0 solves alone, or -1
  bool fused_ = true;        // whether the finest level's blocks take ghost zones GHOST deep
  double attainable_ = 0.0;  // the relative residual rounding allows, ROUND_OFF |A|
  int last_ = 0;             // the coarsest level
  Block part_;               // this process's part of level gathered_, ghost one deep
  double** part_f_ = nullptr;
  double** part_u_ = nullptr;
  std::vector<Region> parts_;  // every process's, in the grid of level gathered_, ring included
  std::vector<Region> owned_parts_;
  CoarseSolver coarsest_;
  MultigridCounts counts_;
};
