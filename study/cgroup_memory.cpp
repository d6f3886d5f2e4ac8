// The memory that a process's control groups leave it: their limits from its own group up to the
// root of the hierarchy.
#include "study/cgroup_memory.hpp"

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

// The file names of one cgroup version.
struct MemoryFiles {
  const char* limit;
  const char* usage;
  const char* inactive;  // the key in memory.stat
};

constexpr MemoryFiles V1 = {"/memory.limit_in_bytes", "/memory.usage_in_bytes",
                            "total_inactive_file"};
constexpr MemoryFiles V2 = {"/memory.max", "/memory.current", "inactive_file"};

// Where the process sits in the hierarchy that holds the memory controller.
struct Place {
  bool v1 = false;
  std::string path;  // the group, as /proc/self/cgroup names it
  bool found = false;
};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

bool holds(const std::string& list, const std::string& item) {
  const std::vector<std::string> items = split(list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// A v1 line "ID:CONTROLLERS:PATH" naming memory wins over the v2 line "0::PATH": on a machine with
// both, the memory controller is on the v1 hierarchy.
Place place_of(const std::string& cgroups) {
  Place place;
  for (const std::string& line : split(cgroups, '\n')) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (holds(controllers, "memory")) return {true, path, true};
    if (line.compare(0, second + 1, "0::") == 0) place = {false, path, true};
  }
  return place;
}

// mountinfo writes a blank, tab, newline or backslash in a path as \ and three octal digits.
std::string unescape(const std::string& field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const bool escape =
        field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(&field[i + 1], &field[i + 4], [](char c) { return c >= '0' && c <= '7'; });
    if (!escape) {
      text += field[i];
      continue;
    }
    text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + field[i + 3] -
                              '0');
    i += 3;
  }
  return text;
}

// The folders of the process's group and of each group above it, up to the hierarchy's mount
// point. A mount may show only part of the hierarchy (its root, as in a container): paths are
// taken relative to it, and a group outside it leaves the mount point alone.
std::vector<std::string> group_folders(const Place& place, const std::string& mounts) {
  for (const std::string& line : split(mounts, '\n')) {
    const std::vector<std::string> fields = split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields.end() - dash < 4) continue;
    const bool memory =
        place.v1 ? dash[1] == "cgroup" && holds(dash[3], "memory") : dash[1] == "cgroup2";
    if (!memory) continue;
    const std::string root = unescape(fields[3]);
    const std::string point = unescape(fields[4]);
    std::string inside;
    if (root == "/") {
      inside = place.path;
    } else if (place.path.compare(0, root.size(), root) == 0 &&
               (place.path.size() == root.size() || place.path[root.size()] == '/')) {
      inside = place.path.substr(root.size());
    }
    std::vector<std::string> folders;
    for (std::string group = inside; !group.empty() && group != "/";
         group = group.substr(0, group.rfind('/'))) {
      folders.push_back(point + group);
    }
    folders.push_back(point);
    return folders;
  }
  return {};
}

// The number a file holds; false for "max" (no limit), an empty or an unreadable text.
bool number_in(const std::string& text, double& value) {
  return static_cast<bool>(std::istringstream(text) >> value);
}

double stat_value(const std::string& stat, const std::string& key) {
  for (const std::string& line : split(stat, '\n')) {
    double value = 0.0;
    if (line.compare(0, key.size() + 1, key + " ") == 0 &&
        number_in(line.substr(key.size() + 1), value)) {
      return value;
    }
  }
  return 0.0;
}

}  // namespace

double cgroup_memory_room(const std::string& cgroups, const std::string& mounts,
                          const ReadText& read) {
  const Place place = place_of(cgroups);
  if (!place.found) return -1.0;
  const MemoryFiles& files = place.v1 ? V1 : V2;
  double room = -1.0;
  for (const std::string& folder : group_folders(place, mounts)) {
    double limit = 0.0;
    double usage = 0.0;
    if (!number_in(read(folder + files.limit), limit) ||
        !number_in(read(folder + files.usage), usage)) {
      continue;
    }
    usage -= stat_value(read(folder + "/memory.stat"), files.inactive);
    const double left = std::max(limit - usage, 0.0);
    room = room < 0.0 ? left : std::min(room, left);
  }
  return room;
}
