// A block of the field moved between memory and its place in a shared file, with MPI-IO.
#include "checkpoint/field_io.hpp"

#include <algorithm>
#include <vector>

namespace {

// Rows at most this many bytes per collective call: MPI counts are int, and a large block's
// datatype would otherwise exceed them.
constexpr double BATCH_BYTES = 1 << 30;

// Rows [first, first + count) of the block: in the file `count` runs of `cols` doubles, NY apart;
// in memory wherever each row was allocated.
int transfer_rows(MPI_File file, const MPI_Offset& offset, double** T, const Block& block,
                  int first, int count, const int& NY, bool writing) {
  const int cols = block.cols;
  MPI_Datatype in_file;
  MPI_Type_vector(count, cols, NY, MPI_DOUBLE, &in_file);
  MPI_Type_commit(&in_file);
  std::vector<MPI_Aint> where(count);
  for (int i = 0; i < count; ++i) MPI_Get_address(T[first + i], &where[i]);
  MPI_Datatype in_memory;
  MPI_Type_create_hindexed_block(count, cols, where.data(), MPI_DOUBLE, &in_memory);
  MPI_Type_commit(&in_memory);

  const MPI_Offset start =
      offset + (static_cast<MPI_Offset>(block.first_row + first) * NY + block.first_col) *
                   static_cast<MPI_Offset>(sizeof(double));
  char native[] = "native";
  int code = MPI_File_set_view(file, start, MPI_DOUBLE, in_file, native, MPI_INFO_NULL);
  MPI_Status status;
  const int instances = count > 0 ? 1 : 0;
  const int moved = writing ? MPI_File_write_all(file, MPI_BOTTOM, instances, in_memory, &status)
                            : MPI_File_read_all(file, MPI_BOTTOM, instances, in_memory, &status);
  if (code == MPI_SUCCESS) code = moved;
  MPI_Type_free(&in_memory);
  MPI_Type_free(&in_file);
  // A full disk, or the end of a short file, may give fewer values rather than an error.
  MPI_Count values = 0;
  if (code == MPI_SUCCESS) code = MPI_Get_elements_x(&status, MPI_DOUBLE, &values);
  if (code == MPI_SUCCESS && values != static_cast<MPI_Count>(count) * cols) code = SHORT_TRANSFER;
  return code;
}

// Every process makes the same number of collective calls; one with fewer rows moves nothing in
// the last ones.
int transfer_block(MPI_Comm comm, MPI_File file, const MPI_Offset& offset, double** T,
                   const Block& block, const int& NY, bool writing) {
  const int rows = block.rows;
  const int batch = std::max(1, static_cast<int>(BATCH_BYTES / (block.cols * sizeof(double))));
  int batches = (rows + batch - 1) / batch;
  MPI_Allreduce(MPI_IN_PLACE, &batches, 1, MPI_INT, MPI_MAX, comm);
  int code = MPI_SUCCESS;
  for (int b = 0; b < batches; ++b) {
    const int first = std::min(rows, b * batch);
    const int count = std::min(rows - first, batch);
    const int moved = transfer_rows(file, offset, T, block, first, count, NY, writing);
    if (code == MPI_SUCCESS) code = moved;
  }
  return code;
}

}  // namespace

int write_block(MPI_Comm comm, MPI_File file, const MPI_Offset& offset, double** T,
                const Block& block, const int& NUMBER_OF_NODES_Y) {
  return transfer_block(comm, file, offset, T, block, NUMBER_OF_NODES_Y, true);
}

int read_block(MPI_Comm comm, MPI_File file, const MPI_Offset& offset, double** T,
               const Block& block, const int& NUMBER_OF_NODES_Y) {
  return transfer_block(comm, file, offset, T, block, NUMBER_OF_NODES_Y, false);
}
