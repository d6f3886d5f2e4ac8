// The names of a saved field's files, and whether the longest of them fit the file system.
#include "checkpoint/field_names.hpp"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "checkpoint/quoted_path.hpp"

namespace {

// What pathconf says of the folder that would hold `path`, or the system's usual limit where it
// cannot say (the folder is missing, or its own name too long): a later check names that.
long limit(const std::string& path, int name, long usual) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + (slash == 0));
  const long value = ::pathconf(folder.c_str(), name);
  return value > 0 ? value : usual;
}

// "at most N bytes fit" for a limit that `room` bytes of derived names and `extra` of a series'
// step take from.
std::string longest_fitting(std::size_t limit, std::size_t room, std::size_t extra) {
  return "at most " + std::to_string(limit > room + extra ? limit - room - extra : 0) +
         " bytes fit";
}

std::size_t name_length(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path.size() : path.size() - slash - 1;
}

}  // namespace

std::string series_path(const std::string& path, int steps_done) {
  const std::string extension = ".npy";
  const bool npy = path.size() > extension.size() &&
                   path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
  const std::string stem = npy ? path.substr(0, path.size() - extension.size()) : path;
  return stem + "." + std::to_string(steps_done) + extension;
}

bool series_step(const std::string& path, std::string& stem, long& step) {
  const std::string extension = ".npy";
  if (path.size() <= extension.size() ||
      path.compare(path.size() - extension.size(), extension.size(), extension) != 0) {
    return false;
  }
  const std::string rest = path.substr(0, path.size() - extension.size());
  const std::size_t dot = rest.rfind('.');
  if (dot == std::string::npos || dot == 0 || rest[dot - 1] == '/' || dot + 1 == rest.size() ||
      rest.find_first_not_of("0123456789", dot + 1) != std::string::npos) {
    return false;
  }
  stem = rest.substr(0, dot);
  step = std::strtol(rest.c_str() + dot + 1, nullptr, 10);
  return true;
}

std::string name_room_problem(const std::string& option, const std::string& given,
                              const std::string& field, std::size_t room) {
  const std::size_t name_max = static_cast<std::size_t>(limit(field, _PC_NAME_MAX, NAME_MAX));
  // PATH_MAX counts the terminating zero byte.
  const std::size_t path_max = static_cast<std::size_t>(limit(field, _PC_PATH_MAX, PATH_MAX)) - 1;
  std::size_t common = 0;
  while (common < given.size() && common < field.size() && given[common] == field[common]) {
    ++common;
  }
  if (common > 0 && field[common - 1] == '.') --common;
  const std::size_t extra = field.size() - given.size();  // a series' ".S"
  const std::string with =
      field == given ? "it" : "with the series' step (" + field.substr(common) + ") it";
  const std::string more = room == 0 ? " bytes, beyond the "
                                     : " bytes, and the names heat2d-study builds from it " +
                                           std::to_string(room) + " more, beyond the ";
  const std::string start = option + " " + quoted_path(given, 60) + ": the ";
  if (name_length(field) + room > name_max) {
    return start + "name is too long: " + with + " takes " + std::to_string(name_length(field)) +
           more + std::to_string(name_max) +
           " a file name may have here: " + longest_fitting(name_max, room, extra);
  }
  if (field.size() + room > path_max) {
    return start + "path is too long: " + with + " takes " + std::to_string(field.size()) + more +
           std::to_string(path_max) + " a path may have: " + longest_fitting(path_max, room, extra);
  }
  return "";
}
