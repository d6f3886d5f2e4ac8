// Whether the processes on each host have the memory their strips need.
#include "study/check_memory.hpp"

#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "common/allocate_field.hpp"

namespace {

constexpr double GIB = 1024.0 * 1024.0 * 1024.0;

// MemAvailable from /proc/meminfo (free memory plus what the kernel can reclaim), or the free
// pages where there is no such file; lowered to what a cgroup v2 limit leaves.
double available_bytes() {
  double available = -1.0;
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  double kib = 0.0;
  while (std::getline(meminfo, line)) {
    if (std::sscanf(line.c_str(), "MemAvailable: %lf kB", &kib) == 1) available = kib * 1024.0;
  }
  if (available < 0.0) {
    available = static_cast<double>(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE);
  }
  double limit = 0.0;
  double current = 0.0;
  std::ifstream max_file("/sys/fs/cgroup/memory.max");
  std::ifstream current_file("/sys/fs/cgroup/memory.current");
  if (max_file >> limit && current_file >> current) {
    available = std::min(available, limit - current);
  }
  return available;
}

}  // namespace

double strip_bytes(const StudyOptions& options, const int& sizeX) {
  double bytes = 2.0 * field_bytes(sizeX, options.cols) + 4.0 * options.cols * sizeof(double);
  // Snapshot text is made in chunks of about half a million values, or one line when longer.
  if (options.every > 0) bytes += 12.0 * (std::max(1 << 19, sizeX) + options.rows) + (4 << 20);
  return bytes;
}

std::string check_memory(const StudyOptions& options, const int& sizeX, const int& rank) {
  MPI_Comm host;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &host);
  int host_rank = 0;
  MPI_Comm_rank(host, &host_rank);
  double needed = strip_bytes(options, sizeX);
  MPI_Allreduce(MPI_IN_PLACE, &needed, 1, MPI_DOUBLE, MPI_SUM, host);
  MPI_Comm_free(&host);

  // The host short of the most memory speaks for all: {shortfall, rank} with MAXLOC.
  struct {
    double shortfall;
    int rank;
  } worst = {-std::numeric_limits<double>::infinity(), rank};
  double sizes[2] = {needed, 0.0};
  if (host_rank == 0) {
    sizes[1] = available_bytes();
    worst.shortfall = needed - sizes[1];
  }
  MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_DOUBLE_INT, MPI_MAXLOC, MPI_COMM_WORLD);
  if (worst.shortfall <= 0.0) return "";
  MPI_Bcast(sizes, 2, MPI_DOUBLE, worst.rank, MPI_COMM_WORLD);
  char text[256];
  std::snprintf(text, sizeof text,
                "a %d x %d grid is too large for the memory: its strips need %.1f GiB on one host, "
                "which has %.1f GiB available (two layers take %.1f GiB in all)",
                options.rows, options.cols, sizes[0] / GIB, sizes[1] / GIB,
                2.0 * options.rows * options.cols * sizeof(double) / GIB);
  return text;
}
