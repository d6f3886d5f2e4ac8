// A field saved as a NumPy .npy file with its record, by all processes together, whole or not at
// all.
#pragma once

#include <mpi.h>

#include <string>

#include "checkpoint/field_record.hpp"
#include "checkpoint/save_lock.hpp"
#include "common/block.hpp"

// Whether `path` may receive saved fields for the whole run, and with it the fields of `series`
// (FILE.S.npy): every name derived from it must fit the file system (see name_room_problem), no
// other run may be saving to it or to a field of its series, nor it be a field of a series another
// run is saving (rank 0 takes `lock` and keeps it), and it must be new or an existing regular file
// (never a device, FIFO, socket, folder or symbolic link, which a rename would replace) in a
// folder that takes new files. Collective over `comm`; rank 0 looks. Returns an empty string or
// one line.
std::string check_save_path(const std::string& path, const SeriesSteps& series, MPI_Comm comm,
                            SaveLock& lock);

// Collective over `comm`. Every process writes its block of T (block.rows rows of block.cols
// doubles, see write_block) into a new file beside `path` whose size is reserved first, so that a
// full disk or a file-size limit shows up before any data is sent; the record (`record` with the
// CRC-32 of the file's bytes, which the processes add up from their rows as they write them) goes
// beside it; both are renamed into place once complete, the record first. A run killed at any
// moment thus leaves whole fields with their records under final names, and temporary files
// ("PATH.part-XXXXXX") that are never reused. Returns an empty string, or one line saying why
// nothing was saved.
std::string save_field(const std::string& path, double** T, const Block& block,
                       const FieldRecord& record, MPI_Comm comm);

// A reason in words from an errno value: strerror's text starting with a small letter.
std::string in_words(int error);

// "a FIFO", "a device", "a folder", ... for a file's st_mode.
std::string file_kind(unsigned mode);
