// The explicit update of a block: one step at a time, or in passes of several steps over ghost
// zones as deep, with the halo exchanged once per pass.
#pragma once

#include "common/block.hpp"
#include "solver/halo.hpp"
#include "solver/pass_plan.hpp"
#include "solver/scheme.hpp"
#include "solver/span_kernel.hpp"
#include "solver/stores.hpp"
#include "stepping/stepper.hpp"

// Blocking exchanges every edge before the update; overlap posts the exchange, updates the cells
// that need nothing from a neighbour while the edges travel, then waits and updates the rest.
enum class Exchange { blocking, overlap };

// How the explicit update runs: its exchange, its passes and its stores.
struct ExplicitConfig {
  Exchange exchange = Exchange::blocking;
  PassPlan passes;                    // pass length, tiles and threads
  Stores stores = Stores::automatic;  // of single steps
};

// A pass of k steps exchanges ghost zones k deep and then computes the block and the shrinking
// band of its neighbours' cells that those determine, so that the block exchanges once every k
// steps instead of every step. The block's ghost width must be the plan's pass length where it
// has neighbours.
class ExplicitStepper : public Stepper {
 public:
  ExplicitStepper(const Block& block, const Scheme& scheme, const ExplicitConfig& config);

  double memory_bytes() const override;
  bool allocate() override;
  double** field() override { return T0_; }
  std::string advance(int done, int steps) override;
  const StepCounts& counts() const override { return counts_; }
  const Team& team() const override { return team_; }

  // The kernels it updates with: single steps, and the tiles of passes.
  const SpanKernel& single_kernel() const { return single_; }
  const SpanKernel& tile_kernel() const { return tiled_; }

 private:
  void sweep(const Region& region);
  void single_step();
  void overlapped_step();
  void update_edge_columns(const Region& inner, int first, int last);
  void fused_pass(int steps);
  void count_exchange(int depth);

  Block block_;
  Scheme scheme_;
  ExplicitConfig config_;
  SpanKernel single_;
  SpanKernel tiled_;
  Halo halo_;
  Team team_;
  double** T0_ = nullptr;  // the current layer
  double** T1_ = nullptr;
  StepCounts counts_;
};
