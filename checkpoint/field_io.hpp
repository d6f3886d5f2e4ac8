// A block of the field moved between memory and its place in a shared file, with MPI-IO.
#pragma once

#include <mpi.h>

#include "common/block.hpp"

// Not an MPI error code: the call returned, but moved fewer values than asked.
constexpr int SHORT_TRANSFER = -1;

// Collective over `comm`, the communicator the file was opened on. The file holds the NX x NY field
// row by row after `offset` bytes; each process moves its block's cells (block.rows rows of T,
// each row of block.cols doubles) to or from their place, so the file's bytes do not depend on
// how the grid is split. Returns MPI_SUCCESS, an MPI error code, or SHORT_TRANSFER.
int write_block(MPI_Comm comm, MPI_File file, const MPI_Offset& offset, double** T,
                const Block& block, const int& NUMBER_OF_NODES_Y);
int read_block(MPI_Comm comm, MPI_File file, const MPI_Offset& offset, double** T,
               const Block& block, const int& NUMBER_OF_NODES_Y);
