// Where a run of heat2d-study starts: heat2d's field, a user's field, or a saved field to continue.
#include "study/start.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "checkpoint/field_names.hpp"
#include "checkpoint/quoted_path.hpp"
#include "common/agreement.hpp"
#include "common/json_line.hpp"
#include "study/check_problem.hpp"

namespace {

// The shortest of %g's precisions that reads back as the same double.
std::string exact(double value) {
  char text[64];
  for (int digits : {6, 15, 17}) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

// The command line's grid against the file's.
std::string grid_disagreement(const StudyOptions& o, const std::string& path,
                              const FieldFile& file) {
  const std::string holds = quoted_path(path) + ", which holds a " + std::to_string(file.rows) +
                            " x " + std::to_string(file.cols) + " field";
  if (o.given.rows && o.problem.grid.nx != file.rows) {
    return "--rows " + std::to_string(o.problem.grid.nx) + " disagrees with " + holds;
  }
  if (o.given.cols && o.problem.grid.ny != file.cols) {
    return "--cols " + std::to_string(o.problem.grid.ny) + " disagrees with " + holds;
  }
  return "";
}

// What the record says that heat2d-study itself would never have written: the explicit update
// saves no field of an unstable time step.
std::string record_problem(const std::string& path, const FieldRecord& record) {
  if (is_implicit(record.method) || stable_time_step(record.dt, {record.rows, record.cols})) {
    return "";
  }
  return "the record " + quoted_path(record_path(path)) +
         " is damaged: its dt = " + exact(record.dt) + " is unstable on its " +
         std::to_string(record.rows) + " x " + std::to_string(record.cols) +
         " grid (the scheme needs dt*(1/dx^2 + 1/dy^2) <= 1/2), and heat2d-study saves no such run";
}

// A field saved as FILE.S.npy holds S steps, as its record must say (heat2d-view checks the same).
std::string name_disagreement(const std::string& path, const FieldRecord& record) {
  std::string stem;
  long step = 0;
  if (!series_step(path, stem, step) || step == record.steps) return "";
  const std::string name = path.substr(path.rfind('/') + 1);
  return quoted_path(record_path(path)) + ": " + std::to_string(record.steps) +
         " steps done, but the name " + quoted_path(name) + " says " + std::to_string(step);
}

// Whether --save would replace the field the run starts from.
std::string saves_over(const std::string& save, const std::string& source) {
  struct stat saved, read;
  if (save.empty() || ::stat(save.c_str(), &saved) != 0 || ::stat(source.c_str(), &read) != 0 ||
      saved.st_dev != read.st_dev || saved.st_ino != read.st_ino) {
    return "";
  }
  return "--save " + quoted_path(save) + " is the field this run restarts from (--restart " +
         quoted_path(source) +
         "): save elsewhere, so that the field stays as its name and record say";
}

std::string restart(StudyOptions& o, Start& start) {
  if (!o.problem.initial.empty()) {
    return "--restart and --initial exclude each other: a restart continues from its record's "
           "starting field";
  }
  std::string problem = name_room_problem("--restart", o.problem.restart, o.problem.restart, 0);
  if (problem.empty()) problem = inspect_field_file(o.problem.restart, start.layout);
  if (problem.empty()) problem = grid_disagreement(o, o.problem.restart, start.layout);
  FieldRecord record;
  if (problem.empty()) problem = read_record(o.problem.restart, start.layout, record);
  if (problem.empty()) problem = record_problem(o.problem.restart, record);
  if (problem.empty()) problem = name_disagreement(o.problem.restart, record);
  if (problem.empty()) problem = saves_over(o.output.save, o.problem.restart);
  if (!problem.empty()) return problem;
  if (o.given.method && o.method.method != record.method) {
    return std::string("--method ") + method_name(o.method.method) + " disagrees with " +
           quoted_path(record_path(o.problem.restart)) + ", whose run took --method " +
           method_name(record.method) + ": a restart goes on as the run did";
  }
  if (o.given.dt && o.problem.dt != record.dt) {
    return "--dt " + exact(o.problem.dt) + " disagrees with " +
           quoted_path(record_path(o.problem.restart)) +
           ", whose run took dt = " + exact(record.dt);
  }
  if (o.problem.until == 0.0 && o.problem.steps <= record.steps) {
    return "--steps " + std::to_string(o.problem.steps) + " is not beyond the " +
           std::to_string(record.steps) + " steps " + quoted_path(o.problem.restart) +
           " holds: --steps counts from the run's start";
  }
  if (!record.has_crc32) {
    std::fprintf(stderr,
                 "heat2d-study: warning: %s is a record of version 1, which does not identify "
                 "its field: %s is taken unchecked\n",
                 quoted_path(record_path(o.problem.restart)).c_str(),
                 quoted_path(o.problem.restart).c_str());
  }
  o.problem.grid.nx = record.rows;
  o.problem.grid.ny = record.cols;
  o.problem.dt = record.dt;
  o.method.method = record.method;
  start.steps_done = record.steps;
  start.initial = record.initial;
  start.file = o.problem.restart;
  start.layout.has_crc32 = record.has_crc32;
  start.layout.crc32 = record.crc32;
  return "";
}

std::string initial(StudyOptions& o, Start& start) {
  std::string problem = name_room_problem("--initial", o.problem.initial, o.problem.initial, 0);
  if (problem.empty()) problem = inspect_field_file(o.problem.initial, start.layout);
  if (problem.empty()) problem = grid_disagreement(o, o.problem.initial, start.layout);
  if (!problem.empty()) return problem;
  char* absolute = ::realpath(o.problem.initial.c_str(), nullptr);
  start.initial = absolute != nullptr ? absolute : o.problem.initial;
  std::free(absolute);
  // The path goes into every record the run saves, and JSON holds only Unicode text.
  if (!o.output.save.empty() && !valid_utf8(start.initial)) {
    return "--initial: the path of the starting field is not valid UTF-8 (" +
           quoted_path(start.initial) +
           "), and the record of every field --save writes (JSON) must name it: rename the file "
           "or its folder";
  }
  o.problem.grid.nx = start.layout.rows;
  o.problem.grid.ny = start.layout.cols;
  start.file = o.problem.initial;
  return "";
}

// Rank 0's findings, sent to every process.
void share(StudyOptions& o, Start& start, MPI_Comm comm) {
  long long numbers[7] = {o.problem.grid.nx,
                          o.problem.grid.ny,
                          start.steps_done,
                          static_cast<long long>(start.layout.data_offset),
                          start.layout.has_crc32,
                          start.layout.crc32,
                          static_cast<long long>(o.method.method)};
  MPI_Bcast(numbers, 7, MPI_LONG_LONG, 0, comm);
  MPI_Bcast(&o.problem.dt, 1, MPI_DOUBLE, 0, comm);
  o.problem.grid.nx = start.layout.rows = static_cast<int>(numbers[0]);
  o.problem.grid.ny = start.layout.cols = static_cast<int>(numbers[1]);
  start.steps_done = static_cast<int>(numbers[2]);
  start.layout.data_offset = static_cast<std::size_t>(numbers[3]);
  start.layout.has_crc32 = numbers[4] != 0;
  start.layout.crc32 = static_cast<std::uint32_t>(numbers[5]);
  o.method.method = static_cast<Method>(numbers[6]);
  for (std::string* text : {&start.initial, &start.file}) {
    int length = static_cast<int>(text->size());
    MPI_Bcast(&length, 1, MPI_INT, 0, comm);
    text->resize(length);
    MPI_Bcast(&(*text)[0], length, MPI_CHAR, 0, comm);
  }
}

}  // namespace

std::string resolve_start(StudyOptions& options, Start& start, MPI_Comm comm) {
  if (options.problem.restart.empty() && options.problem.initial.empty()) return "";
  int rank = 0;
  MPI_Comm_rank(comm, &rank);
  std::string problem;
  if (rank == 0)
    problem = options.problem.restart.empty() ? initial(options, start) : restart(options, start);
  problem = first_problem(problem, comm);
  if (problem.empty()) share(options, start, comm);
  return problem;
}
