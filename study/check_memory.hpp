// Whether the processes on each host have the memory their blocks need.
#pragma once

#include <string>
#include <vector>

#include "solver/process_grid.hpp"
#include "study/parse_options.hpp"

// Bytes one process needs for its block: two layers with ghost zones --fuse deep as allocate_block
// lays them out and, when snapshots are written, the text buffers.
double block_need(const StudyOptions& options, const Block& block);

// The memory a host has for new work: the lower of MemAvailable in the text of /proc/meminfo (free
// memory plus what the kernel can reclaim) and what the process's control groups leave it
// (cgroup_memory_room; negative when they set no limit).
double available_memory(const std::string& meminfo, double cgroup_room);

// How many bytes the processes of one host need beyond what it has (negative when they fit): every
// process holds its own block, so their needs add up.
double host_shortfall(const std::vector<double>& needs, double available);

// Collective. Gathers what the processes on each host need and compares it with what that host
// has. Returns an empty string, or one line with the sizes when some host is short.
std::string check_memory(const StudyOptions& options, const Block& block, const int& rank);
