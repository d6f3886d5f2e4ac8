// Whether the processes on each host have the memory their blocks need.
#pragma once

#include <string>
#include <vector>

#include "common/block.hpp"
#include "study/options.hpp"

// Bytes the text of a block's snapshots takes while it is written (none without snapshots).
double snapshot_text_bytes(const OutputOptions& output, const Block& block);

// The memory a host has for new work: the lower of MemAvailable in the text of /proc/meminfo (free
// memory plus what the kernel can reclaim) and what the process's control groups leave it
// (cgroup_memory_room; negative when they set no limit).
double available_memory(const std::string& meminfo, double cgroup_room);

// How many bytes the processes of one host need beyond what it has (negative when they fit): every
// process holds its own block, so their needs add up.
double host_shortfall(const std::vector<double>& needs, double available);

// Collective. Gathers what the processes on each host `need` (bytes each) and compares it with
// what that host has. Returns an empty string, or one line with the sizes when some host is short;
// `whole_grid` is what the method's arrays take for the whole grid, which the line gives too.
std::string check_memory(double need, const GridSize& grid, double whole_grid, int rank);
