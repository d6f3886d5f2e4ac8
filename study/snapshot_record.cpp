// The record of the runs that wrote a folder's snapshot files, read, extended and written whole.
#include "study/snapshot_record.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* FORMAT = "heat2d-study snapshots";
constexpr int VERSION = 1;
// A record past this size is not one this program wrote (some ten thousand restarts).
constexpr off_t SIZE_LIMIT = 1 << 20;
const char* const RUN_KEYS[] = {"first_step", "steps", "every", "process_rows"};

Json run_json(const SnapshotRun& run) {
  return Json{{"first_step", run.first_step},
              {"steps", run.steps},
              {"every", run.every},
              {"process_rows", run.process_rows}};
}

// A name that is not UTF-8 (an --initial path) is kept with its bad bytes replaced: the record
// must stay JSON, and the name only tells problems apart.
std::string dump(const Json& record) {
  return record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool whole_runs(const Json& runs) {
  if (!runs.is_array()) return false;
  for (const Json& run : runs) {
    if (!run.is_object()) return false;
    for (const char* key : RUN_KEYS) {
      if (!run.contains(key) || !run[key].is_number_unsigned()) return false;
    }
  }
  return true;
}

// The previous record's runs when it is a sound record of the same problem as `fresh` (compared
// as written, so a replaced byte compares equal to itself); otherwise none.
Json earlier_runs(const std::string& previous, const Json& fresh) {
  const Json old = Json::parse(previous, nullptr, false);
  if (!old.is_object()) return Json::array();
  const Json written = Json::parse(dump(fresh));
  for (const char* key : {"format", "version", "rows", "cols", "dt", "initial"}) {
    if (!old.contains(key) || old[key] != written[key]) return Json::array();
  }
  return whole_runs(old["runs"]) ? old["runs"] : Json::array();
}

// The record now in the working directory, or "" where there is none or it is not a regular file
// of a sensible size (a FIFO would never end, a device never stop).
std::string read_previous() {
  const int fd = ::open(SNAPSHOT_RECORD, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return "";
  struct stat status {};
  std::string text;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= SIZE_LIMIT) {
    text.resize(static_cast<std::size_t>(status.st_size));
    const ssize_t got = ::read(fd, text.data(), text.size());
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  ::close(fd);
  return text;
}

// Writes `text` to a new file beside the record and renames it into place. Returns 0 or errno.
int write_whole(const std::string& text) {
  std::string name = std::string(SNAPSHOT_RECORD) + ".part-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return errno;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  errno = 0;
  if (error == 0 && ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    error = errno != 0 ? errno : EIO;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(name.c_str(), SNAPSHOT_RECORD) != 0) error = errno;
  if (error != 0) ::unlink(name.c_str());
  return error;
}

}  // namespace

std::string snapshot_record(const std::string& previous, const SnapshotProblem& problem,
                            const SnapshotRun& run) {
  Json record{{"format", FORMAT},     {"version", VERSION}, {"rows", problem.rows},
              {"cols", problem.cols}, {"dt", problem.dt},   {"initial", problem.initial},
              {"runs", Json::array()}};
  if (run.first_step > 0) record["runs"] = earlier_runs(previous, record);
  record["runs"].push_back(run_json(run));
  return dump(record);
}

void record_snapshot_run(const StudyOptions& options, const Start& start, int process_rows) {
  const ProblemOptions& p = options.problem;
  if (options.output.every == 0) return;
  const SnapshotProblem problem{p.grid.nx, p.grid.ny, p.dt, start.initial};
  const SnapshotRun run{start.steps_done, p.steps, options.output.every, process_rows};
  const int error = write_whole(snapshot_record(read_previous(), problem, run));
  if (error != 0) {
    std::fprintf(stderr,
                 "heat2d-study: %s not written: %s (heat2d-view then needs --dt for the times, and "
                 "cannot read restarts on other process counts)\n",
                 SNAPSHOT_RECORD, std::strerror(error));
  }
}
