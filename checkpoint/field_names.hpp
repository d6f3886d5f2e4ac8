// The names of a saved field's files, and whether the longest of them fit the file system.
#pragma once

#include <cstddef>
#include <string>

// A save writes FILE.part-XXXXXX and its record FILE.json.part-XXXXXX, and locks FILE.lock: the
// longest adds 17 bytes to the name.
constexpr std::size_t SAVE_ROOM = 17;

// field.npy gives field.S.npy after S steps (and field gives field.S.npy).
std::string series_path(const std::string& path, int steps_done);

// The other way: whether `path` is named as a field of a series, FILE.S.npy, and its FILE and S.
bool series_step(const std::string& path, std::string& stem, long& step);

// "" when `field`, a name heat2d-study reads or writes for the file `option` names, and the names
// built from it (up to `room` bytes longer) fit the limits of the file system that holds it on a
// file name and on a path; else one line saying how long a name may be.
std::string name_room_problem(const std::string& option, const std::string& given,
                              const std::string& field, std::size_t room);
