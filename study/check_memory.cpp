// Whether the processes on each host have the memory their blocks need.
#include "study/check_memory.hpp"

#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>

#include "study/cgroup_memory.hpp"

namespace {

constexpr double GIB = 1024.0 * 1024.0 * 1024.0;

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

double this_host_available() {
  const double available = available_memory(
      file_text("/proc/meminfo"), cgroup_memory_room(file_text("/proc/self/cgroup"),
                                                     file_text("/proc/self/mountinfo"), file_text));
  if (available >= 0.0) return available;
  return static_cast<double>(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE);
}

}  // namespace

double snapshot_text_bytes(const OutputOptions& output, const Block& block) {
  if (output.every == 0) return 0.0;
  // Snapshot text is made in chunks of about half a million values, or one column when longer.
  return 2.0 * 12.0 * (std::max(1 << 19, block.rows) + block.grid.nx) + (4 << 20);
}

double available_memory(const std::string& meminfo, double cgroup_room) {
  double available = -1.0;
  std::istringstream lines(meminfo);
  std::string line;
  double kib = 0.0;
  while (std::getline(lines, line)) {
    if (std::sscanf(line.c_str(), "MemAvailable: %lf kB", &kib) == 1) available = kib * 1024.0;
  }
  if (cgroup_room >= 0.0) {
    available = available < 0.0 ? cgroup_room : std::min(available, cgroup_room);
  }
  return available;
}

double host_shortfall(const std::vector<double>& needs, double available) {
  return std::accumulate(needs.begin(), needs.end(), 0.0) - available;
}

std::string check_memory(double need, const GridSize& grid, double whole_grid, int rank) {
  MPI_Comm host;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &host);
  int host_rank = 0;
  int host_size = 0;
  MPI_Comm_rank(host, &host_rank);
  MPI_Comm_size(host, &host_size);
  std::vector<double> needs(host_rank == 0 ? host_size : 0);
  MPI_Gather(&need, 1, MPI_DOUBLE, needs.data(), 1, MPI_DOUBLE, 0, host);
  MPI_Comm_free(&host);

  // The host short of the most memory speaks for all: {shortfall, rank} with MAXLOC.
  struct {
    double shortfall;
    int rank;
  } worst = {-std::numeric_limits<double>::infinity(), rank};
  double sizes[2] = {0.0, 0.0};
  if (host_rank == 0) {
    sizes[1] = this_host_available();
    worst.shortfall = host_shortfall(needs, sizes[1]);
    sizes[0] = worst.shortfall + sizes[1];
  }
  MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
  if (worst.shortfall <= 0.0) return "";
  MPI_Bcast(sizes, 2, MPI_DOUBLE, worst.rank, MPI_COMM_WORLD);
  char text[256];
  std::snprintf(text, sizeof text,
                "a %d x %d grid is too large for the memory: its blocks need %.1f GiB on one host, "
                "which has %.1f GiB available (the method's arrays take %.1f GiB for the whole "
                "grid)",
                grid.nx, grid.ny, sizes[0] / GIB, sizes[1] / GIB, whole_grid / GIB);
  return text;
}
