// A snapshot of one row of blocks, written as one strip file.
#include "output/write_process_row.hpp"

#include "output/layer_text.hpp"

namespace {

constexpr int TEXT_TAG = 2;

// The text of each chunk of a block's columns goes to the row's first process as one message.
void send_columns(double** field, const int& rows, const int& cols, MPI_Comm row) {
  static std::vector<char> text;
  const int chunk = columns_per_chunk(rows);
  for (int k = 0; k < cols; k += chunk) {
    const int end = cols - k <= chunk ? cols : k + chunk;
    const std::size_t length = layer_text(field, rows, k, end, text);
    MPI_Send(text.data(), static_cast<int>(length), MPI_CHAR, 0, TEXT_TAG, row);
  }
}

// Receives the chunks of one block and writes them, or only receives them once writing failed.
int receive_columns(int fd, int sender, const int& rows, const int& cols, int error, MPI_Comm row) {
  static std::vector<char> text;
  const int chunk = columns_per_chunk(rows);
  for (int k = 0; k < cols; k += chunk) {
    MPI_Status status;
    MPI_Probe(sender, TEXT_TAG, row, &status);
    int length = 0;
    MPI_Get_count(&status, MPI_CHAR, &length);
    if (text.size() < static_cast<std::size_t>(length)) text.resize(length);
    MPI_Recv(text.data(), length, MPI_CHAR, sender, TEXT_TAG, row, MPI_STATUS_IGNORE);
    if (error == 0) error = write_text(fd, text.data(), length);
  }
  return error;
}

}  // namespace

int write_process_row(double** field, const int& rows, const std::vector<int>& widths,
                      const int& rank_label, double step_label, SnapshotMode mode, MPI_Comm row) {
  int position = 0;
  MPI_Comm_rank(row, &position);
  if (position != 0) {
    send_columns(field, rows, widths[position], row);
    return 0;
  }
  const int fd = open_snapshot(rank_label, step_label, mode);
  int error = fd < 0 ? -fd : write_columns(fd, field, rows, 0, widths[0]);
  for (int sender = 1; sender < static_cast<int>(widths.size()); ++sender) {
    error = receive_columns(fd, sender, rows, widths[sender], error, row);
  }
  return fd < 0 ? error : close_snapshot(fd, error);
}
