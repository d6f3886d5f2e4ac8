// The names of a saved field's files, and whether the longest of them fit the file system.
#pragma once

#include <cstddef>
#include <string>

// MPI-IO builds names of its own from the name of a file it opens: Open MPI 4.1's shared file
// pointers add up to 30 bytes (FILE_cid-C-P.sm in its session folder, FILE-J-P.lock beside the
// file), and a name too long for them crashes or hangs the job. Names heat2d-study opens with
// MPI-IO leave this room.
constexpr std::size_t MPI_IO_ROOM = 32;
// A save writes FILE.part-XXXXXX through MPI-IO (and FILE.json.part-XXXXXX, FILE.lock beside it).
constexpr std::size_t SAVE_ROOM = MPI_IO_ROOM + 12;

// field.npy gives field.S.npy after S steps (and field gives field.S.npy).
std::string series_path(const std::string& path, int steps_done);

// "" when `field`, a name heat2d-study reads or writes for the file `option` names, and the names
// built from it (up to `room` bytes longer) fit the limits of the file system that holds it on a
// file name and on a path; else one line saying how long a name may be.
std::string name_room_problem(const std::string& option, const std::string& given,
                              const std::string& field, std::size_t room);
