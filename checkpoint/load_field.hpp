// A field read back from a .npy file, for a restart or as a starting field.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "checkpoint/field_record.hpp"
#include "common/block.hpp"

// What a field file holds, as far as the processes need to know before they read it.
struct FieldFile {
  int rows = 0;
  int cols = 0;
  std::size_t data_offset = 0;
  bool has_crc32 = false;  // whether the bytes read must have this CRC-32 (their record's)
  std::uint32_t crc32 = 0;
};

// Looks at the file alone (call on one process): a regular file holding a .npy array of float64
// in this machine's byte order, C-ordered, two-dimensional, at least 3 x 3, exactly as long as
// its shape needs.
// Returns an empty string, or one line naming the file and what is wrong.
std::string inspect_field_file(const std::string& path, FieldFile& file);

// Reads the record beside a saved field (call on one process): a regular file of at most
// LONGEST_RECORD bytes holding a record (see parse_record) of the file's grid. Returns an empty
// string, or one line naming the record and what is wrong.
std::string read_record(const std::string& path, const FieldFile& file, FieldRecord& record);

// Collective over `comm`: each process reads its block of the field at `file`; the bytes read must
// have the CRC-32 `file` gives, if it gives one, and every value must be finite. Returns an empty
// string, or one line (the same on every process) naming the file and what is wrong.
std::string load_field(const std::string& path, const FieldFile& file, double** T,
                       const Block& block, MPI_Comm comm);
