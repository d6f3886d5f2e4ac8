// The CRC-32 of a saved field's .npy file, computed from the blocks the processes hold.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>

#include "common/block.hpp"

// Collective over `comm`. The CRC-32 (zlib's: the one gzip, PNG and Python's zlib.crc32 give) of
// the file that holds `header` and then the NUMBER_OF_NODES_X x NUMBER_OF_NODES_Y field row by row,
// each process's block (block.rows rows of T, block.cols values each) at its place: the bytes
// a save writes, or a restart has read. Each process adds up its own rows; rank 0 gives `header`
// and gets the result (other ranks get their own share, which means nothing).
std::uint32_t field_crc32(const std::string& header, double** T, const Block& block,
                          const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y,
                          MPI_Comm comm);
