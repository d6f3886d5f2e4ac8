// The floor of a heat2d run: only the work no implementation can avoid. It joins MPI, trades the
// same rows with the same neighbours in the same order for 25000 steps, creates the same files with
// the same sizes with one write each (names and sizes from a manifest, so it formats no numbers),
// and leaves. It computes nothing.
//
// Usage: mpiexec -n N floor MANIFEST_DIR    (MANIFEST_DIR/manifest.R lists "name size" per line,
// the initial-field copy first, then the strip files in step order)
#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "solver/exchange.hpp"
#include "solver/strip_bounds.hpp"

namespace {

struct Snapshot {
  std::string name;
  std::size_t size;
};

std::vector<Snapshot> read_manifest(const std::string& path) {
  std::vector<Snapshot> snapshots;
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  char name[128];
  std::size_t size = 0;
  while (std::fscanf(file, "%127s %zu", name, &size) == 2) snapshots.push_back({name, size});
  std::fclose(file);
  return snapshots;
}

void write_snapshot(const Snapshot& snapshot, const std::vector<char>& bytes) {
  const int fd = ::open(snapshot.name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0 || ::write(fd, bytes.data(), snapshot.size) != static_cast<ssize_t>(snapshot.size)) {
    std::perror(snapshot.name.c_str());
  }
  if (fd >= 0) ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  int process_count = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);
  if (argc < 2) {
    if (rank == 0) std::fprintf(stderr, "usage: floor MANIFEST_DIR\n");
    MPI_Finalize();
    return 2;
  }
  // Read before the clock that matters: the launcher's wall time covers it, but it is tiny.
  const std::vector<Snapshot> snapshots =
      read_manifest(std::string(argv[1]) + "/manifest." + std::to_string(rank));
  std::size_t largest = 0;
  for (const Snapshot& s : snapshots) largest = s.size > largest ? s.size : largest;
  const std::vector<char> bytes(largest, '0');

  const int NUMBER_OF_NODES_X = 10;
  const int sizeY = 10;
  int row_begin = 0;
  int row_end = 0;
  strip_bounds(NUMBER_OF_NODES_X, rank, process_count, row_begin, row_end);
  std::vector<double> rows(4 * sizeY);

  std::size_t next = 0;
  write_snapshot(snapshots[next++], bytes);
  for (int step = 0; step < 25000; ++step) {
    exchange(&rows[0], &rows[sizeY], &rows[2 * sizeY], &rows[3 * sizeY], sizeY, rank,
             process_count);
    if (step % 10 == 0 && next < snapshots.size()) write_snapshot(snapshots[next++], bytes);
  }
  MPI_Finalize();
  return 0;
}
