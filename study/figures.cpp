// The figures each process contributes to the summary, brought together over the processes.
#include "study/figures.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>

#include "study/largest_difference.hpp"
#include "study/wording.hpp"

std::vector<ProcessTimes> gather_process_times(const ProcessTimes& mine, MPI_Comm comm) {
  int rank = 0;
  int processes = 0;
  MPI_Comm_rank(comm, &rank);
  MPI_Comm_size(comm, &processes);
  // Gathered as plain doubles: the struct is nothing else.
  constexpr int FIGURES = sizeof(ProcessTimes) / sizeof(double);
  static_assert(sizeof(ProcessTimes) == FIGURES * sizeof(double), "ProcessTimes holds doubles");
  std::vector<ProcessTimes> times(rank == 0 ? processes : 0);
  MPI_Gather(&mine, FIGURES, MPI_DOUBLE, times.data(), FIGURES, MPI_DOUBLE, 0, comm);
  return times;
}

TrafficFigures most_traffic(const StepCounts& counts, MPI_Comm comm) {
  const double steps = static_cast<double>(std::max<long long>(1, counts.steps));
  double sent[2] = {counts.bytes / steps, counts.messages / steps};
  MPI_Allreduce(MPI_IN_PLACE, sent, 2, MPI_DOUBLE, MPI_MAX, comm);
  return {std::llround(sent[0]), sent[1]};
}

double largest_error(double** T, const Block& block, double t, MPI_Comm comm) {
  double error = largest_difference(T, block, t);
  MPI_Allreduce(MPI_IN_PLACE, &error, 1, MPI_DOUBLE, MPI_MAX, comm);
  return error;
}

bool field_is_finite(double** T, const Block& block, MPI_Comm comm) {
  int finite = 1;
  for (int i = 0; i < block.rows && finite; ++i) {
    for (int j = 0; j < block.cols; ++j) finite &= std::isfinite(T[i][j]) ? 1 : 0;
  }
  MPI_Allreduce(MPI_IN_PLACE, &finite, 1, MPI_INT, MPI_LAND, comm);
  return finite != 0;
}

SolveFigures solve_figures(const Multigrid& multigrid, MPI_Comm comm) {
  const MultigridCounts& c = multigrid.counts();
  SolveFigures f;
  f.solves = c.solves;
  f.cycles = c.cycles;
  f.most_cycles = c.most_cycles;
  f.reduction = c.reducing_cycles > 0 ? std::exp(c.log_reduction / c.reducing_cycles) : 0.0;
  const double cycles = static_cast<double>(std::max<long long>(1, c.cycles));
  double most[2] = {c.seconds / cycles, c.messages / cycles};
  MPI_Allreduce(MPI_IN_PLACE, most, 2, MPI_DOUBLE, MPI_MAX, comm);
  f.cycle_seconds = most[0];
  f.messages_per_cycle = most[1];
  const std::vector<double> seconds = multigrid.level_seconds();
  double total = 0.0;
  for (double s : seconds) total += s;
  for (double s : seconds) f.level_shares.push_back(total > 0.0 ? s / total : 0.0);
  for (const GridSize& grid : multigrid.grids()) {
    f.level_grids.push_back(std::to_string(grid.nx) + " x " + std::to_string(grid.ny));
  }
  f.level_grids.resize(f.level_shares.size());
  std::vector<double> messages(multigrid.grids().size(), 0.0);
  for (std::size_t l = 0; l < c.level_messages.size() && l < messages.size(); ++l) {
    messages[l] = c.level_messages[l] / cycles;
  }
  MPI_Allreduce(MPI_IN_PLACE, messages.data(), static_cast<int>(messages.size()), MPI_DOUBLE,
                MPI_MAX, comm);
  f.level_messages = messages;
  f.distributed_levels = multigrid.distributed_levels();
  return f;
}

double peak_resident_bytes(MPI_Comm comm) {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  double bytes = usage.ru_maxrss * 1024.0;  // Linux gives kibibytes
  MPI_Allreduce(MPI_IN_PLACE, &bytes, 1, MPI_DOUBLE, MPI_MAX, comm);
  return bytes;
}
