// heat2d-study's arithmetic: the exact solution's two series, the largest stable time step, the
// memory a host needs, the figures the summary gives, the records' CRC-32 against zlib's, and
// paths as messages show them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <random>

#include "checkpoint/crc32.hpp"
#include "checkpoint/quoted_path.hpp"
#include "common/json_line.hpp"
#include "problem/exact_solution.hpp"
#include "study/cgroup_memory.hpp"
#include "study/check_memory.hpp"
#include "study/check_problem.hpp"
#include "study/summary.hpp"

namespace {

// Where both series converge within a few dozen terms they must agree to the promised 1e-12, hold
// the edges at 100 and 0, and reach the steady straight line in the end.
TEST(ExactSolution, FourierAndImageSeriesAgreeAndHoldTheEdges) {
  for (double L : {1.0, 0.9, 0.999}) {
    for (double t : {1e-3, 1e-2, 0.05, 0.3}) {
      for (int k = 0; k <= 20; ++k) {
        const double x = L * k / 20;
        const double fourier = exact_solution_fourier(x, L, t);
        EXPECT_NEAR(fourier, exact_solution_images(x, L, t), 1e-12) << L << " " << t << " " << x;
        EXPECT_NEAR(fourier, exact_solution(x, L, t), 1e-12);
      }
      EXPECT_NEAR(exact_solution(0.0, L, t), 100.0, 1e-12);
      EXPECT_NEAR(exact_solution(L, L, t), 0.0, 1e-12);
    }
    EXPECT_NEAR(exact_solution(0.25 * L, L, 50.0), 75.0, 1e-12);
  }
  // A few steps on a fine grid: only the erfc form converges fast; the front has barely moved.
  EXPECT_NEAR(exact_solution(0.0, 1.0, 1e-9), 100.0, 1e-12);
  EXPECT_NEAR(exact_solution(1e-3, 1.0, 1e-9), 0.0, 1e-12);
  EXPECT_NEAR(exact_solution(1e-5, 1.0, 1e-9), 100.0 * std::erfc(1e-5 / (2 * std::sqrt(1e-9))),
              1e-12);
}

// The value named in the refusal must itself pass, and the next six-digit value above it fail.
TEST(LargestStableDt, PassesTheCheckAndIsTheLargestAtSixDigits) {
  const int grids[][2] = {{10, 10}, {37, 23}, {1000, 7}, {16384, 16384}, {3, 100000}};
  for (const auto& grid : grids) {
    StudyOptions options;
    options.problem.grid = {grid[0], grid[1]};
    double& dt = options.problem.dt;
    dt = largest_stable_dt(options.problem.grid);
    EXPECT_EQ(check_problem(options, 1, {1, 1}, 2), "") << grid[0] << " x " << grid[1];
    const double digit = std::pow(10.0, std::floor(std::log10(dt)) - 5);
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", dt + digit);
    dt = std::strtod(text, nullptr);
    EXPECT_NE(check_problem(options, 1, {1, 1}, 2).find("is unstable"), std::string::npos) << dt;
    // An implicit method takes it all the same.
    options.method.method = Method::euler;
    EXPECT_EQ(check_problem(options, 1, {1, 1}, 2), "") << dt;
  }
  EXPECT_EQ(largest_stable_dt({10, 10}), 0.0025);
}

// The processes of a host each hold their own block, so a host needs their sum: two 6 GiB
// blocks do not fit in 10 GiB. The memory available is the lower of the kernel's estimate and
// what the cgroup's limit leaves.
TEST(CheckMemory, AHostNeedsTheSumOfItsBlocksAndHasTheLowerOfItsLimits) {
  const double GIB = 1024.0 * 1024.0 * 1024.0;
  EXPECT_EQ(host_shortfall({6 * GIB, 6 * GIB}, 10 * GIB), 2 * GIB);
  const std::string meminfo = "MemTotal: 24000000 kB\nMemAvailable: 20000000 kB\nCached: 5 kB\n";
  EXPECT_EQ(available_memory(meminfo, -1.0), 20000000.0 * 1024);
  EXPECT_EQ(available_memory(meminfo, 7 * GIB), 7 * GIB);
  EXPECT_EQ(available_memory("MemFree: 1 kB\n", 8 * GIB), 8 * GIB);
}

// A machine's control groups as /proc/self/cgroup, /proc/self/mountinfo and the group files give
// them, and what their limits leave the process.
struct Hierarchy {
  const char* name;
  const char* cgroups;
  const char* mounts;
  std::map<std::string, std::string> files;
  double room;
};

// A scheduler's job sets its limit two or more levels above the process's own group; the
// unified hierarchy of a v1 machine holds no memory controller; a container sees its own part of
// the hierarchy from its root; "max" and v1's largest number are no limit.
TEST(CheckMemory, TheTightestLimitFromTheProcesssGroupUpToTheRoot) {
  const double MIB = 1024.0 * 1024.0;
  const char* V2_MOUNT = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
  const char* V1_MOUNTS =
      "31 23 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw,mode=755\n"
      "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
      "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
      "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";
  const std::string job2 = "/sys/fs/cgroup/system.slice/slurmstepd.scope/job_7";
  const std::string job1 = "/sys/fs/cgroup/memory/slurm/uid_0/job_7";
  const std::string none = "9223372036854771712\n";
  const Hierarchy hierarchies[] = {
      {"v2, the job's limit",
       "0::/system.slice/slurmstepd.scope/job_7/step_0/user/task_0\n",
       V2_MOUNT,
       {{job2 + "/memory.max", "4294967296\n"},
        {job2 + "/memory.current", "3221225472\n"},
        {job2 + "/memory.stat", "anon 1\ninactive_file 1073741824\nactive_file 5\n"},
        {job2 + "/step_0/memory.max", "max\n"},
        {job2 + "/step_0/memory.current", "3221225472\n"},
        {job2 + "/step_0/user/task_0/memory.max", "8589934592\n"},
        {job2 + "/step_0/user/task_0/memory.current", "1073741824\n"},
        {"/sys/fs/cgroup/system.slice/memory.max", "max\n"},
        {"/sys/fs/cgroup/system.slice/memory.current", "9\n"}},
       2048 * MIB},
      {"v1, the job's limit",
       "5:cpu,cpuacct:/\n4:memory:/slurm/uid_0/job_7/step_0\n0::/\n",
       V1_MOUNTS,
       {{job1 + "/memory.limit_in_bytes", "1073741824\n"},
        {job1 + "/memory.usage_in_bytes", "805306368\n"},
        {job1 + "/memory.stat", "inactive_file 9\ntotal_inactive_file 268435456\n"},
        {job1 + "/step_0/memory.limit_in_bytes", none},
        {job1 + "/step_0/memory.usage_in_bytes", "805306368\n"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", none},
        {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "3546664960\n"},
        {"/sys/fs/cgroup/unified/memory.max", "1048576\n"},
        {"/sys/fs/cgroup/unified/memory.current", "0\n"}},
       512 * MIB},
      {"a container's view",
       "0::/docker/abc/inner\n",
       "30 23 0:26 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
       {{"/sys/fs/cgroup/memory.max", "2147483648\n"},
        {"/sys/fs/cgroup/memory.current", "1073741824\n"},
        {"/sys/fs/cgroup/inner/memory.max", "max\n"},
        {"/sys/fs/cgroup/inner/memory.current", "1\n"}},
       1024 * MIB},
      {"no limit",
       "0::/user.slice\n",
       V2_MOUNT,
       {{"/sys/fs/cgroup/user.slice/memory.max", "max\n"},
        {"/sys/fs/cgroup/user.slice/memory.current", "1\n"}},
       -1.0},
  };
  for (const Hierarchy& h : hierarchies) {
    const ReadText read = [&h](const std::string& path) {
      const auto file = h.files.find(path);
      return file == h.files.end() ? std::string() : file->second;
    };
    EXPECT_EQ(cgroup_memory_room(h.cgroups, h.mounts, read), h.room) << h.name;
  }
}

// The slowest process's time loop, the largest share any process spent exchanging (not the
// slowest process's share), and each time's spread over the processes: here process 1 is slowest,
// process 2 exchanges the most and process 3 updates the longest.
TEST(Summary, TimesAreTheSlowestLoopTheLargestExchangeShareAndTheirSpread) {
  const TimeFigures figures = time_figures(
      {{2.0, 1.5, 0.5, 0.0}, {3.0, 1.0, 0.3, 1.5}, {1.0, 0.1, 0.9, 0.0}, {2.5, 2.2, 0.0, 0.5}});
  EXPECT_EQ(figures.wall_seconds, 3.0);
  EXPECT_EQ(figures.exchange_share, 0.9);
  EXPECT_EQ(figures.save_seconds, 1.5);
  EXPECT_EQ(figures.busiest, 3);
  EXPECT_EQ(figures.update.min, 0.1);
  EXPECT_EQ(figures.update.max, 2.2);
  EXPECT_DOUBLE_EQ(figures.update.mean, 4.8 / 4);
  EXPECT_DOUBLE_EQ(figures.update.imbalance(), 2.2 / 1.2);
  EXPECT_EQ(figures.exchange.min, 0.0);
  EXPECT_DOUBLE_EQ(figures.save.mean, 0.5);
}

// Scripts read the summary with any JSON parser: a figure that cannot be measured (a time loop too
// short for the clock gives infinitely many updates per second) is null, never inf or nan, and
// what the text says the JSON says alike.
TEST(Summary, JsonIsStandardAndAgreesWithTheText) {
  RunFigures figures;
  figures.setup.grid = {37, 23};
  figures.setup.processes = 6;
  figures.setup.split = Split::blocks;
  figures.setup.procs = {3, 2};
  figures.setup.first_step = 100;
  figures.setup.steps = 300;
  figures.setup.dt = 2e-4;
  figures.exact = false;
  const std::string text = summary(figures, true);
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  const Json json = Json::parse(text);
  EXPECT_TRUE(json["cell_updates_per_second"].is_null() && json["max_error"].is_null());
  EXPECT_EQ(json["procs"], Json::array({3, 2}));
  EXPECT_EQ(json["split"], "blocks");
  EXPECT_EQ(json["final_time"].get<double>(), 300 * 2e-4);
  EXPECT_TRUE(json["multigrid"].is_null());
  const std::string words = summary(figures, false);
  EXPECT_NE(words.find("37 x 23 grid, 6 processes as 3 x 2 blocks, steps 101 to 300"),
            std::string::npos)
      << words;
  figures.setup.method = Method::trbdf2;
  figures.solves.solves = 4;
  figures.solves.cycles = 10;
  EXPECT_EQ(Json::parse(summary(figures, true))["multigrid"]["cycles_per_solve"], 2.5);
}

// Every length up to a few kernel widths past a page, at every alignment, and chained from any
// CRC, as zlib computes it: the records heat2d-study writes are checked by readers with zlib.
TEST(Crc32, EqualsZlibsForEveryLengthAlignmentAndStart) {
  std::vector<unsigned char> bytes(1 << 20);
  std::mt19937 random(7);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
  int differing = 0;
  for (std::size_t length = 0; length < 4200; length += length < 300 ? 1 : 37) {
    for (std::size_t offset = 0; offset < 16; offset += 3) {
      const std::uint32_t start = static_cast<std::uint32_t>(random());
      const std::uint32_t ours = crc32_update(start, bytes.data() + offset, length);
      differing += ours != crc32_z(start, bytes.data() + offset, length);
    }
  }
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(crc32_update(0, bytes.data(), bytes.size()), crc32_z(0, bytes.data(), bytes.size()));
  if (!crc32_is_accelerated()) GTEST_SKIP() << "built without ISA-L: zlib's own CRC-32 is used";
}

// What bash reads back from `shown` as a word of a script, byte for byte.
std::string read_back_by_bash(const std::string& shown) {
  char script[] = "/tmp/heat2d-quoted-XXXXXX";
  const int fd = mkstemp(script);
  const std::string text = "printf %s " + shown + "\n";
  const bool written = fd >= 0 && write(fd, text.data(), text.size()) ==
                                      static_cast<ssize_t>(text.size());
  if (fd >= 0) close(fd);
  std::string read;
  FILE* pipe = written ? popen(("bash " + std::string(script)).c_str(), "r") : nullptr;
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) read += static_cast<char>(c);
  if (pipe != nullptr) pclose(pipe);
  unlink(script);
  return read;
}

// Plain names stay as they are; a name that would break the line or the terminal is quoted as
// the shells quote it, and bash reads the quoted name back as the name.
TEST(QuotedPath, PlainNamesAsTheyAreOthersAsTheShellsQuoteThem) {
  const std::map<std::string, std::string> shown = {
      {"runs/f.npy", "runs/f.npy"},
      {"with space.npy", "with space.npy"},
      {"\xc3\xbc.npy", "\xc3\xbc.npy"},
      {"a\nb.npy", "$'a\\nb.npy'"},
      {"it's\t\\.npy\r", "$'it\\'s\\t\\\\.npy\\r'"},
      {"\x01\x7f", "$'\\x01\\x7f'"},
      {"\xff\xc3\xbc.npy", "$'\\xff\\xc3\\xbc.npy'"},
  };
  for (const auto& [name, expected] : shown) {
    EXPECT_EQ(quoted_path(name), expected);
    if (expected != name) {
      EXPECT_EQ(read_back_by_bash(expected), name) << expected;
    }
  }
  EXPECT_EQ(quoted_path("a\nbcdef", 3), "$'a\\nb'... (7 bytes)");
}

}  // namespace
