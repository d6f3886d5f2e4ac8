// Name of a snapshot file: "rank%i_%lf" of the rank label and the step label.
#pragma once

#include <cstddef>

// The rank label of the initial-field snapshot, rank-100_0.000000, which every process appends.
constexpr int INITIAL_FIELD_RANK = -100;

// The name buffer of a snapshot: every name the program produces is far shorter.
constexpr std::size_t SNAPSHOT_NAME_SIZE = 100;

// Writes the NUL-terminated name into `name` (SNAPSHOT_NAME_SIZE chars, truncated like snprintf),
// e.g. rank2_130.000000 or rank-100_0.000000, byte for byte what printf's "rank%i_%lf" gives.
void snapshot_name(const int& rank_label, double step_label, char* name);
