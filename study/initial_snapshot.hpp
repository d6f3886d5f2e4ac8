// The initial-field snapshot of a run that starts from a user's field.
#pragma once

#include <string>

#include "checkpoint/load_field.hpp"

// Appends `copies` copies of the field in the .npy file `path` to rank-100_0.000000 as snapshot
// text, one after another, as the strips' writers would each append theirs: copies of a field
// whose lines differ must never interleave, so one process writes them all. The field is read a
// chunk of columns at a time, so no process holds it whole. Returns 0, or the errno value that
// kept the copies from being written in full.
int write_initial_copies(const std::string& path, const FieldFile& file, const int& copies);
