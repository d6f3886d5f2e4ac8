// The memory that a process's control groups leave it: their limits from its own group up to the
// root of the hierarchy.
#pragma once

#include <functional>
#include <string>

// A file's whole text; empty when it cannot be read.
using ReadText = std::function<std::string(const std::string& path)>;

// Bytes the memory limits of a process's control groups leave it: over its own group and every
// group above it (a scheduler sets the job's limit on a group above the process's own), the least
// of the limit less the usage, where the usage leaves out the file pages the kernel drops first
// when a group reaches its limit (inactive files). Reads cgroup v2 (memory.max, memory.current)
// or, where the memory controller is on a v1 hierarchy, v1 (memory.limit_in_bytes,
// memory.usage_in_bytes). `cgroups` is the text of /proc/self/cgroup, `mounts` that of
// /proc/self/mountinfo, which say where the group's files are; `read` reads them. Negative when
// no group sets a limit.
double cgroup_memory_room(const std::string& cgroups, const std::string& mounts,
                          const ReadText& read);
