// Agreement of all processes on a verdict each reached alone.
#include "common/agreement.hpp"

#include <climits>

bool on_every_process(bool mine) {
  int value = mine ? 1 : 0;
  MPI_Allreduce(MPI_IN_PLACE, &value, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return value == 1;
}

std::string first_problem(const std::string& mine, MPI_Comm comm) {
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  int speaker = mine.empty() ? INT_MAX : rank;
  MPI_Allreduce(MPI_IN_PLACE, &speaker, 1, MPI_INT, MPI_MIN, comm);
  if (speaker == INT_MAX) return "";
  int length = static_cast<int>(mine.size());
  MPI_Bcast(&length, 1, MPI_INT, speaker, comm);
  std::string problem = rank == speaker ? mine : std::string(length, ' ');
  MPI_Bcast(&problem[0], length, MPI_CHAR, speaker, comm);
  return problem;
}
