// Whether the processes on each host have the memory their strips need.
#pragma once

#include <string>

#include "study/parse_options.hpp"

// Bytes one process needs for a strip of sizeX rows: two layers as allocate_field lays them out,
// the four row buffers and, when snapshots are written, the text buffers.
double strip_bytes(const StudyOptions& options, const int& sizeX);

// Collective. Sums what the processes on each host need and compares it with what that host has
// available (the memory the kernel reports available, or the cgroup's limit when lower). Returns
// an empty string, or one line with the sizes when some host is short.
std::string check_memory(const StudyOptions& options, const int& sizeX, const int& rank);
