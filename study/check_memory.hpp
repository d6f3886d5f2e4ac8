// Whether the processes on each host have the memory their blocks need.
#pragma once

#include <string>
#include <vector>

#include "solver/process_grid.hpp"
#include "study/parse_options.hpp"

// Bytes one process needs for its block: two layers with ghost zones --fuse deep as allocate_block
// lays them out and, when snapshots are written, the text buffers.
double block_need(const StudyOptions& options, const Block& block);

// The memory a host has for new work, from the text of /proc/meminfo (MemAvailable: free memory
// plus what the kernel can reclaim) and of a cgroup v2 limit and usage (memory.max, which may say
// "max", and memory.current; empty when there is none): the lower of the two.
double available_memory(const std::string& meminfo, const std::string& cgroup_max,
                        const std::string& cgroup_current);

// How many bytes the processes of one host need beyond what it has (negative when they fit): every
// process holds its own block, so their needs add up.
double host_shortfall(const std::vector<double>& needs, double available);

// Collective. Gathers what the processes on each host need and compares it with what that host
// has. Returns an empty string, or one line with the sizes when some host is short.
std::string check_memory(const StudyOptions& options, const Block& block, const int& rank);
