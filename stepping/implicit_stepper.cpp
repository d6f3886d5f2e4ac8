// The implicit methods: each step solves (I - k L) u = f for the field at the new time with the
// multigrid, so that the time step is chosen for accuracy, not for stability.
#include "stepping/implicit_stepper.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>

#include "common/allocate_field.hpp"
#include "multigrid/stencil.hpp"
#include "solver/team.hpp"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const double GAMMA = 2.0 - std::sqrt(2.0);

// The steps Crank-Nicolson starts with backward Euler half-steps.
constexpr int RANNACHER_STEPS = 2;

// The field's own grid as a level, for the operator's rows outside the multigrid.
Level field_level(const Block& block, double k) {
  Level level;
  level.x = finest_axis(block.grid.nx, true, spacing(block.grid.nx));
  level.y = finest_axis(block.grid.ny, false, spacing(block.grid.ny));
  level.block = block;
  level.a = coefficients(level.x, level.y, k);
  return level;
}

}  // namespace

double ImplicitStepper::operator_step(Method method, double dt) {
  switch (method) {
    case Method::euler:
      return dt;
    case Method::crank_nicolson:
      return dt / 2;
    case Method::trbdf2:
      return GAMMA * dt / 2;
    case Method::explicit_update:
      break;
  }
  return 0.0;
}

ImplicitStepper::ImplicitStepper(const Block& block, const ProcessGrid& processes, int process_row,
                                 int process_col, Method method, double dt,
                                 const SolveControl& control, int threads)
    : block_(block),
      method_(method),
      k_(operator_step(method, dt)),
      control_(control),
      multigrid_(block, processes, process_row, process_col, operator_step(method, dt)),
      field_(field_level(block, operator_step(method, dt))),
      unknowns_(field_.unknowns()) {
  team_.threads = threads;
}

int ImplicitStepper::layers() const {
  return method_ == Method::trbdf2 ? 3 : 2;
}

double ImplicitStepper::memory_bytes() const {
  return layers() * block_bytes(block_) + multigrid_.memory_bytes();
}

bool ImplicitStepper::allocate() {
  try {
    U_ = allocate_block(block_, 0);
    F_ = allocate_block(block_, 1);
    if (method_ == Method::trbdf2) V_ = allocate_block(block_, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!multigrid_.allocate()) return false;
  // The team is as large as OpenMP makes it, which may be fewer threads than were asked for.
  team_.threads = touch_rows(block_.allocated(), team_.threads, {U_, F_, V_});
  team_.cells.assign(team_.threads, 0);
  return true;
}

double ImplicitStepper::exchange_seconds() const {
  return own_.exchange_seconds + multigrid_.counts().exchange_seconds;
}

const StepCounts& ImplicitStepper::counts() const {
  const MultigridCounts& m = multigrid_.counts();
  counts_.exchange_seconds = exchange_seconds();
  counts_.messages = own_.messages + m.messages;
  counts_.bytes = own_.bytes + m.bytes;
  return counts_;
}

// The block's own cells, held rows included (they are the next solve's boundary values).
void ImplicitStepper::copy(double** from, double** into) {
  const Region r = block_.owned();
#pragma omp parallel for num_threads(team_.threads) if (team_.threads > 1)
  for (int i = r.row_begin; i < r.row_end; ++i) {
    std::copy(from[i] + r.col_begin, from[i] + r.col_end, into[i] + r.col_begin);
  }
}

// F = (I + k L) from, its ghost cells one deep filled first.
void ImplicitStepper::explicit_part(double** from) {
  if (block_.has_neighbours()) {
    const double start = now();
    exchange_halo(block_, halo_, from, 1);
    own_.exchange_seconds += now() - start;
    const ExchangeVolume volume = exchange_volume(block_, 1);
    own_.messages += volume.messages;
    own_.bytes += volume.bytes;
  }
  const Region& r = unknowns_;
#pragma omp parallel for num_threads(team_.threads) if (team_.threads > 1)
  for (int i = r.row_begin; i < r.row_end; ++i) {
    explicit_part_row(field_, from, i, r.col_begin, r.col_end, F_[i]);
  }
}

// TR-BDF2's second stage from its first, u* (in `star`), and u0 (in `before`), in one sweep: its
// right-hand side F = c1 u* - c2 u0, and its first guess over u0, the line through u0 at t and u*
// at t + gamma dt taken on to t + dt, which is far nearer the solution than u* itself.
void ImplicitStepper::second_stage(double** star, double** before) {
  const double c1 = 1.0 / (GAMMA * (2.0 - GAMMA));
  const double c2 = (1.0 - GAMMA) * (1.0 - GAMMA) / (GAMMA * (2.0 - GAMMA));
  const double ahead = 1.0 / GAMMA;
  const double behind = (1.0 - GAMMA) / GAMMA;
  const Region& r = unknowns_;
#pragma omp parallel for num_threads(team_.threads) if (team_.threads > 1)
  for (int i = r.row_begin; i < r.row_end; ++i) {
    for (int j = r.col_begin; j < r.col_end; ++j) {
      F_[i][j] = c1 * star[i][j] - c2 * before[i][j];
      before[i][j] = ahead * star[i][j] - behind * before[i][j];
    }
  }
}

// The insulated columns take their inner neighbour's new value.
void ImplicitStepper::insulate(double** u) {
  for (int i = unknowns_.row_begin; i < unknowns_.row_end; ++i) {
    if (block_.on_edge(Side::left)) u[i][0] = u[i][1];
    if (block_.on_edge(Side::right)) u[i][block_.cols - 1] = u[i][block_.cols - 2];
  }
}

std::string ImplicitStepper::solve(double** u, int number) {
  const SolveResult result = multigrid_.solve(u, F_, control_, team_);
  if (result.converged) return "";
  char text[400];
  std::snprintf(text, sizeof text,
                "the linear solve of step %d did not converge: in %d V-cycles (--most-cycles) its "
                "residual fell from %.3g to %.3g, not to %.3g (--tolerance %g times the data's "
                "size, %.3g); the run stops",
                number + 1, result.cycles, result.first_residual, result.last_residual,
                result.target, control_.tolerance, result.right_hand_side);
  return text;
}

// The step from `number` steps done to number + 1.
std::string ImplicitStepper::step(int number) {
  std::string problem;
  if (method_ == Method::euler || (method_ == Method::crank_nicolson && number < RANNACHER_STEPS)) {
    const int parts = method_ == Method::euler ? 1 : 2;
    for (int part = 0; part < parts && problem.empty(); ++part) {
      copy(U_, F_);
      problem = solve(U_, number);
    }
  } else if (method_ == Method::crank_nicolson) {
    explicit_part(U_);
    problem = solve(U_, number);
  } else {
    explicit_part(U_);
    copy(U_, V_);
    problem = solve(V_, number);
    if (problem.empty()) {
      second_stage(V_, U_);
      problem = solve(U_, number);
    }
  }
  insulate(U_);
  return problem;
}

std::string ImplicitStepper::advance(int done, int steps) {
  const double start = now();
  const double exchanged = exchange_seconds();
  std::string problem;
  for (int s = 0; s < steps && problem.empty(); ++s) {
    problem = step(done + s);
    ++counts_.steps;
  }
  counts_.update_seconds += (now() - start) - (exchange_seconds() - exchanged);
  return problem;
}
