// The implicit methods: each step solves (I - k L) u = f for the field at the new time with the
// multigrid, so that the time step is chosen for accuracy, not for stability.
#pragma once

#include "common/block.hpp"
#include "multigrid/multigrid.hpp"
#include "solver/halo.hpp"
#include "solver/process_grid.hpp"
#include "stepping/method.hpp"
#include "stepping/stepper.hpp"

// The held rows keep their values; an insulated column equals its inner neighbour at the new time
// (there is no lag to speak of in an implicit step). Each method uses one operator, k = theta * dt
// of its own, for all its solves:
// - backward Euler, k = dt: (I - dt L) u1 = u0;
// - Crank-Nicolson, k = dt / 2: (I - k L) u1 = (I + k L) u0, except that the first two steps are
//   each two backward Euler steps of dt / 2 (Rannacher's start), which damp the jump between the
//   hot edge and the cold field that Crank-Nicolson alone would carry on as an oscillation;
// - TR-BDF2, gamma = 2 - sqrt 2, k = gamma dt / 2: a trapezoidal stage to t + gamma dt,
//   (I - k L) u* = (I + k L) u0, then a BDF2 stage, (I - k L) u1 = c1 u* - c2 u0 with
//   c1 = 1 / (gamma (2 - gamma)) and c2 = (1 - gamma)^2 / (gamma (2 - gamma)).
// Every step follows from the field and its number alone, so a restart from any saved step goes on
// with the uninterrupted run's bits.
class ImplicitStepper : public Stepper {
 public:
  // Over `block` (ghost cells two deep, neighbours on its communicator), one of `processes` at
  // (process_row, process_col).
  ImplicitStepper(const Block& block, const ProcessGrid& processes, int process_row,
                  int process_col, Method method, double dt, const SolveControl& control,
                  int threads);

  double memory_bytes() const override;
  bool allocate() override;
  double** field() override { return U_; }
  std::string advance(int done, int steps) override;
  const StepCounts& counts() const override;
  const Team& team() const override { return team_; }

  const Multigrid& multigrid() const { return multigrid_; }
  // k = theta * dt of the method's operator.
  static double operator_step(Method method, double dt);

 private:
  int layers() const;
  std::string step(int number);
  std::string solve(double** u, int number);
  void explicit_part(double** from);
  void second_stage(double** star, double** before);
  void copy(double** from, double** into);
  void insulate(double** u);
  double exchange_seconds() const;

  Block block_;
  Method method_;
  double k_;
  SolveControl control_;
  Multigrid multigrid_;
  Level field_;      // the field's grid, for the explicit part of a step
  Region unknowns_;  // of the block
  Halo halo_;
  Team team_;
  double** U_ = nullptr;  // the field
  double** V_ = nullptr;  // TR-BDF2's stage
  double** F_ = nullptr;  // the right-hand side
  StepCounts own_;        // the exchanges outside the multigrid
  mutable StepCounts counts_;
};
