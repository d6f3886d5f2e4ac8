// The linear solve of an implicit step, (I - k L) u = f, by V-cycles of a geometric multigrid that
// takes grids of every size and gives the same bits on every process count, process grid and
// thread count.
#include "multigrid/multigrid.hpp"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "common/allocate_field.hpp"
#include "multigrid/pass.hpp"
#include "multigrid/stencil.hpp"
#include "solver/strip_bounds.hpp"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Where each process row (or column) begins along a direction, and where the last ends.
std::vector<int> starts(int nodes, int parts) {
  std::vector<int> edges;
  for (int p = 0; p < parts; ++p) {
    int begin = 0;
    int end = 0;
    strip_bounds(nodes, p, parts, begin, end);
    edges.push_back(begin);
  }
  edges.push_back(nodes);
  return edges;
}

// The same divisions one level coarser: each part keeps the coarse nodes anchored on its nodes.
std::vector<int> coarser(const std::vector<int>& edges, const AxisTransfer& t) {
  std::vector<int> coarse;
  for (int edge : edges) {
    coarse.push_back(static_cast<int>(std::lower_bound(t.anchor.begin(), t.anchor.end(), edge) -
                                      t.anchor.begin()));
  }
  return coarse;
}

bool every_part_holds(const std::vector<int>& edges, int extent) {
  if (edges.size() <= 2) return true;  // one part: the direction is not split
  for (std::size_t p = 0; p + 1 < edges.size(); ++p) {
    if (edges[p + 1] - edges[p] < extent) return false;
  }
  return true;
}

// Which directions a level passes on coarsened: while they can, and where one is coupled over
// twice as strongly as the other, that one alone, until the two are alike.
void directions(const Axis& x, const Axis& y, bool& coarsen_x, bool& coarsen_y) {
  const bool can_x = can_coarsen(x);
  const bool can_y = can_coarsen(y);
  coarsen_x = can_x && (!can_y || 2 * x.strength() >= y.strength());
  coarsen_y = can_y && (!can_x || 2 * y.strength() >= x.strength());
}

bool coarsest(const Axis& x, const Axis& y) {
  return (!can_coarsen(x) && !can_coarsen(y)) ||
         static_cast<long long>(x.unknowns()) * y.unknowns() <= Multigrid::DIRECT_UNKNOWNS;
}

Block block_at(const GridSize& grid, const std::vector<int>& rows, const std::vector<int>& cols,
               int process_row, int process_col) {
  Block b;
  b.grid = grid;
  b.first_row = rows[process_row];
  b.rows = rows[process_row + 1] - rows[process_row];
  b.first_col = cols[process_col];
  b.cols = cols[process_col + 1] - cols[process_col];
  b.ghost = Multigrid::GHOST;
  return b;
}

void zero(double** T, const Block& block) {
  const Region all = block.allocated();
  for (int i = all.row_begin; i < all.row_end; ++i) {
    std::fill(T[i] + all.col_begin, T[i] + all.col_end, 0.0);
  }
}

}  // namespace

Multigrid::Multigrid(const Block& finest, const ProcessGrid& processes, int process_row,
                     int process_col, double k) {
  Level top;
  top.x = finest_axis(finest.grid.nx, true, spacing(finest.grid.nx));
  top.y = finest_axis(finest.grid.ny, false, spacing(finest.grid.ny));
  top.block = finest;
  top.a = coefficients(top.x, top.y, k);
  // The operator's max-norm: its largest row sum, 1 + 2 (x_sum + y_sum).
  double x_sum = 0.0;
  double y_sum = 0.0;
  for (double sum : top.a.x_sum) x_sum = std::max(x_sum, sum);
  for (double sum : top.a.y_sum) y_sum = std::max(y_sum, sum);
  attainable_ = ROUND_OFF * (1.0 + 2.0 * (x_sum + y_sum));
  levels_.push_back(std::move(top));
  build(processes, process_row, process_col, k);
}

bool Multigrid::on_root() const {
  int rank = 0;
  MPI_Comm_rank(levels_[0].block.comm, &rank);
  return rank == 0;
}

void Multigrid::build(const ProcessGrid& processes, int process_row, int process_col, double k) {
  // A copy: the levels below are appended to levels_, which moves the finest.
  const Block finest = levels_[0].block;
  const bool alone = processes.px * processes.py == 1;
  const bool root = alone || on_root();
  std::vector<int> rows = starts(finest.grid.nx, processes.px);
  std::vector<int> cols = starts(finest.grid.ny, processes.py);
  // Blocks too thin for ghost zones GHOST deep exchange one cell deep between the half-sweeps.
  fused_ = every_part_holds(rows, GHOST) && every_part_holds(cols, GHOST);
  Axis x = levels_[0].x;
  Axis y = levels_[0].y;
  grids_.push_back(finest.grid);
  bool spread = true;
  for (int l = 0;; ++l) {
    bool coarsen_x = false;
    bool coarsen_y = false;
    // A grid small enough to solve exactly still gets a level below it, its copy on one process,
    // so that the finest level is always one that every process shares.
    if (l > 0 && coarsest(x, y)) {
      last_ = l;
      break;
    }
    if (!coarsest(x, y)) directions(x, y, coarsen_x, coarsen_y);
    to_x_.emplace_back();
    to_y_.emplace_back();
    x = coarser_axis(x, coarsen_x, to_x_.back());
    y = coarser_axis(y, coarsen_y, to_y_.back());
    rows = coarser(rows, to_x_.back());
    cols = coarser(cols, to_y_.back());
    const GridSize grid = {x.nodes, y.nodes};
    grids_.push_back(grid);
    const bool spread_below =
        alone || (spread && !coarsest(x, y) && every_part_holds(rows, MIN_EXTENT) &&
                  every_part_holds(cols, MIN_EXTENT));
    if (spread && !spread_below) {
      gathered_ = l + 1;
      part_ = block_at(grid, rows, cols, process_row, process_col);
      for (int r = 0; r < processes.px; ++r) {
        for (int c = 0; c < processes.py; ++c) {
          const Region owned = {rows[r], rows[r + 1], cols[c], cols[c + 1]};
          owned_parts_.push_back(owned);
          parts_.push_back(intersection(owned.grown(CORRECTION_RING), {0, grid.nx, 0, grid.ny}));
        }
      }
    }
    spread = spread_below;
    if (!spread && !root) continue;
    Level level;
    level.x = x;
    level.y = y;
    if (spread) {
      level.block = block_at(grid, rows, cols, process_row, process_col);
      level.block.comm = finest.comm;
      level.block.neighbour = finest.neighbour;
    } else {
      level.block = block_at(grid, {0, grid.nx}, {0, grid.ny}, 0, 0);
    }
    level.a = coefficients(x, y, k);
    levels_.push_back(std::move(level));
  }
  if (root) coarsest_ = factor(levels_[last_]);
}

double Multigrid::memory_bytes() const {
  double bytes = 0.0;
  for (std::size_t l = 1; l < levels_.size(); ++l) bytes += 2 * layer_bytes(levels_[l].block);
  if (gathered_ > 0) bytes += 2 * layer_bytes(part_);
  return bytes + sizeof(double) * coarsest_.lu.size();
}

bool Multigrid::allocate() {
  for (std::size_t l = 1; l < levels_.size(); ++l) {
    if (!allocate_level(levels_[l])) return false;
  }
  if (gathered_ > 0) {
    Level part;
    part.block = part_;
    if (!allocate_level(part)) return false;
    part_f_ = part.f;
    part_u_ = part.u;
  }
  return true;
}

std::vector<double> Multigrid::level_seconds() const {
  std::vector<double> seconds;
  for (const Level& level : levels_) seconds.push_back(level.seconds);
  return seconds;
}

void Multigrid::count_messages(int level, long long messages, long long bytes) {
  counts_.messages += messages;
  counts_.bytes += bytes;
  if (counts_.level_messages.size() < grids_.size()) counts_.level_messages.resize(grids_.size());
  counts_.level_messages[level] += messages;
}

// The largest of every process's `mine` (a block alone on no communicator, as in the unit
// tests, has no one to ask).
double Multigrid::largest(double mine) {
  if (levels_[0].block.comm == MPI_COMM_NULL) return mine;
  const double start = now();
  MPI_Allreduce(MPI_IN_PLACE, &mine, 1, MPI_DOUBLE, MPI_MAX, levels_[0].block.comm);
  counts_.exchange_seconds += now() - start;
  return mine;
}

void Multigrid::exchange(Level& level, double** T, int depth) {
  if (!level.block.has_neighbours()) return;
  const double start = now();
  const ExchangeVolume volume = exchange_volume(level.block, depth);
  count_messages(static_cast<int>(&level - levels_.data()), volume.messages, volume.bytes);
  exchange_halo(level.block, level.halo, T, depth);
  counts_.exchange_seconds += now() - start;
}

// The block's unknowns and `ring` more rows and columns beyond each side with a neighbour (none
// beyond the grid's end rows and columns).
Region Multigrid::ring(const Level& level, int ring) const {
  Region region = level.unknowns();
  for (Side side : SIDES) {
    if (level.block.has_neighbour(side)) region = region.grown(side, ring);
  }
  return intersection(region,
                      {1 - level.block.first_row, level.grid().nx - 1 - level.block.first_row,
                       1 - level.block.first_col, level.grid().ny - 1 - level.block.first_col});
}

// Level l's work between two visits of the next level: the interpolated correction (when there
// is one) and `sweeps` red-black sweeps, then (when `into` is given) the residual restricted into
// the next level. Fused into one pass, u's ghost cells must hold the neighbours' values GHOST deep
// (or zero, as all of u on a coarse level before its first smoothing) and f's GHOST - 1 deep, and
// every stage also does the ring of the neighbours' cells that the next one reads; u is left
// right RESIDUAL_RING deep. Otherwise each stage is a pass of its own, with the ghost cells
// exchanged one deep in between. Returns the residual's largest magnitude on the block.
double Multigrid::pass(int l, const Correction* correction, int sweeps, const CoarsePart* into,
                       Team& team) {
  Level& level = levels_[l];
  std::vector<Stage> stages;
  if (correction != nullptr) stages.push_back({StageKind::prolong, Region{}});
  for (int sweep = 0; sweep < sweeps; ++sweep) {
    stages.push_back({StageKind::red, Region{}});
    stages.push_back({StageKind::black, Region{}});
  }
  const bool fused = fused_ || l > 0;
  const int count = static_cast<int>(stages.size());
  for (int s = 0; s < count; ++s) {
    stages[s].region = ring(level, fused ? RESIDUAL_RING + count - 1 - s : 0);
  }
  Restriction restriction;
  if (into != nullptr) {
    restriction = {&to_x_[l], &to_y_[l], *into, ring(level, RESIDUAL_RING - 1)};
  }
  const Restriction* restricting = into != nullptr ? &restriction : nullptr;
  if (fused) return run_pass(level, stages, correction, restricting, team);
  for (const Stage& stage : stages) {
    if (stage.kind != StageKind::prolong) exchange(level, level.u, 1);
    run_pass(level, {stage}, correction, nullptr, team);
  }
  if (into == nullptr) return 0.0;
  exchange(level, level.u, RESIDUAL_RING);
  return run_pass(level, {}, nullptr, restricting, team);
}

// The rows and columns of level gathered_ that each process computed are sent to rank 0, which
// solves that level and the coarser ones alone.
void Multigrid::gather_part() {
  const MPI_Comm comm = levels_[0].block.comm;
  std::vector<double> mine;
  for (int i = 0; i < part_.rows; ++i) mine.insert(mine.end(), part_f_[i], part_f_[i] + part_.cols);
  const bool root = on_root();
  std::vector<int> counts;
  std::vector<int> displacements;
  int total = 0;
  for (const Region& r : owned_parts_) {
    counts.push_back(static_cast<int>(r.cells()));
    displacements.push_back(total);
    total += counts.back();
  }
  std::vector<double> all(root ? total : 0);
  MPI_Gatherv(mine.data(), static_cast<int>(mine.size()), MPI_DOUBLE, all.data(), counts.data(),
              displacements.data(), MPI_DOUBLE, 0, comm);
  if (!root) {
    count_messages(gathered_, 1, static_cast<long long>(mine.size() * sizeof(double)));
    return;
  }
  Level& whole = levels_[gathered_];
  for (std::size_t p = 0; p < owned_parts_.size(); ++p) {
    const Region& r = owned_parts_[p];
    const double* from = all.data() + displacements[p];
    for (int i = r.row_begin; i < r.row_end; ++i, from += r.cols()) {
      std::copy(from, from + r.cols(), whole.f[i] + r.col_begin);
    }
  }
}

// Rank 0 sends each process the correction on its part of level gathered_ and the ring around it,
// which the prolongation into its finer block reads.
void Multigrid::scatter_part() {
  const MPI_Comm comm = levels_[0].block.comm;
  const bool root = on_root();
  // What is sent, and how it is cut, matters on rank 0 alone.
  std::vector<int> counts;
  std::vector<int> displacements;
  std::vector<double> all;
  if (root) {
    const Level& whole = levels_[gathered_];
    for (const Region& r : parts_) {
      counts.push_back(static_cast<int>(r.cells()));
      displacements.push_back(static_cast<int>(all.size()));
      for (int i = r.row_begin; i < r.row_end; ++i) {
        all.insert(all.end(), whole.u[i] + r.col_begin, whole.u[i] + r.col_end);
      }
    }
  }
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  const Region mine = parts_[rank];
  std::vector<double> received(mine.cells());
  MPI_Scatterv(all.data(), counts.data(), displacements.data(), MPI_DOUBLE, received.data(),
               static_cast<int>(received.size()), MPI_DOUBLE, 0, comm);
  if (root) {
    count_messages(gathered_, static_cast<long long>(parts_.size()) - 1,
                   static_cast<long long>((all.size() - received.size()) * sizeof(double)));
  }
  const double* from = received.data();
  for (int i = mine.row_begin; i < mine.row_end; ++i, from += mine.cols()) {
    std::copy(from, from + mine.cols(),
              part_u_[i - part_.first_row] + mine.col_begin - part_.first_col);
  }
}

void Multigrid::go_down(int l, Team& team) {
  if (l + 1 == gathered_) {
    double start = now();
    gather_part();
    counts_.exchange_seconds += now() - start;
    if (on_root()) {
      zero(levels_[gathered_].u, levels_[gathered_].block);
      cycle_from(gathered_, team);
    }
    start = now();
    scatter_part();
    counts_.exchange_seconds += now() - start;
    return;
  }
  zero(levels_[l + 1].u, levels_[l + 1].block);
  cycle_from(l + 1, team);
}

// The part of the next level that level l restricts into and takes its correction from.
CoarsePart Multigrid::next(int l, bool correction) {
  if (l + 1 == gathered_) return {&part_, correction ? part_u_ : part_f_};
  Level& coarse = levels_[l + 1];
  return {&coarse.block, correction ? coarse.u : coarse.f};
}

// Level l from a right-hand side on its unknowns and a zero guess: smoothing, the next level's
// correction of what is left, then smoothing again. Leaves u's ghost cells CORRECTION_RING deep
// filled, for the finer level's interpolation.
void Multigrid::cycle_from(int l, Team& team) {
  Level& level = levels_[l];
  double start = now();
  if (l == last_) {
    solve_coarsest(coarsest_, level);
    level.seconds += now() - start;
    return;
  }
  exchange(level, level.f, GHOST - 1);
  const CoarsePart into = next(l, false);
  pass(l, nullptr, SWEEPS, &into, team);
  level.seconds += now() - start;
  go_down(l, team);
  start = now();
  exchange(level, level.u, GHOST);
  const Correction correction = {&to_x_[l], &to_y_[l], next(l, true)};
  pass(l, &correction, SWEEPS, nullptr, team);
  exchange(level, level.u, CORRECTION_RING);
  level.seconds += now() - start;
}

SolveResult Multigrid::solve(double** u, double** f, const SolveControl& control, Team& team) {
  const double began = now();
  Level& top = levels_[0];
  top.u = u;
  top.f = f;
  double start = now();
  exchange(top, f, fused_ ? GHOST - 1 : 1);
  exchange(top, u, RESIDUAL_RING);
  const Region unknowns = top.unknowns();
  double mine = 0.0;
  for (int i = unknowns.row_begin; i < unknowns.row_end; ++i) {
    mine = std::max(mine, right_hand_side_row_norm(top, i, unknowns.col_begin, unknowns.col_end));
  }
  SolveResult result;
  result.right_hand_side = largest(mine);
  const CoarsePart into = next(0, false);
  double residual = largest(pass(0, nullptr, 0, &into, team));
  result.first_residual = residual;
  result.target = (control.tolerance + attainable_) * result.right_hand_side;
  for (;; ++result.cycles) {
    result.last_residual = residual;
    const bool done =
        control.cycles > 0 ? result.cycles == control.cycles : residual <= result.target;
    if (done) break;
    if (result.cycles == control.most_cycles) {
      result.converged = false;
      break;
    }
    top.seconds += now() - start;
    go_down(0, team);
    start = now();
    if (fused_) exchange(top, u, GHOST);
    const Correction correction = {&to_x_[0], &to_y_[0], next(0, true)};
    residual = largest(pass(0, &correction, SWEEPS, &into, team));
  }
  top.seconds += now() - start;
  ++counts_.solves;
  counts_.cycles += result.cycles;
  counts_.most_cycles = std::max(counts_.most_cycles, result.cycles);
  if (result.cycles > 0 && result.first_residual > 0.0 && result.last_residual > 0.0) {
    counts_.log_reduction += std::log(result.first_residual / result.last_residual);
    counts_.reducing_cycles += result.cycles;
  }
  counts_.seconds += now() - began;
  return result;
}
