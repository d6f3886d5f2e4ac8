// The pure decisions at the seams, in-process: the command line and its checks, the steps that
// are written, the plan of a pass and its tiles, the cells a halo exchange moves, and the record
// of a saved field.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "checkpoint/field_record.hpp"
#include "solver/halo.hpp"
#include "solver/pass_plan.hpp"
#include "study/check_problem.hpp"
#include "study/options.hpp"
#include "study/run.hpp"
#include "study/schedule.hpp"

namespace {

// The options of a command line, parsed and then checked for `processes` processes (strips, or
// --split blocks as given) on a host of two cores; the first problem found, or "".
std::string problem_of(const std::vector<std::string>& words, int processes = 1,
                       StudyOptions* parsed = nullptr) {
  std::vector<const char*> argv = {"heat2d-study"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  StudyOptions options;
  std::string problem = parse_options(static_cast<int>(argv.size()), argv.data(), options);
  if (parsed != nullptr) *parsed = options;
  if (!problem.empty()) return problem;
  ProcessGrid grid = {processes, 1};
  if (options.parallel.split == Split::blocks) {
    grid = options.parallel.procs.px > 0 ? options.parallel.procs : ProcessGrid{processes, 1};
  }
  return check_problem(options, processes, grid, 2);
}

struct BadInput {
  int processes;
  std::vector<std::string> words;
  const char* message;  // how the one line starts
};

// Each gets one line that says what is wrong and, where it can, what would do.
const BadInput BAD_INPUT[] = {
    {1, {"--size", "3"}, "unknown option '--size'"},
    {1, {"--rows"}, "option --rows needs a value"},
    {1, {"--rows", "ten"}, "option --rows needs a whole number, not 'ten'"},
    {1, {"--steps", "1e3"}, "option --steps needs a whole number, not '1e3'"},
    {1, {"--rows", "4294967306"}, "option --rows 4294967306 is out of range"},
    {1, {"--dt", "inf"}, "option --dt needs a finite number, not 'inf'"},
    {1, {"--dt", "1e-400"}, "option --dt 1e-400 is too small for a double"},
    {1, {"--json=1"}, "option --json takes no value"},
    {1, {"--fuse", "deep"}, "option --fuse needs a whole number or auto, not 'deep'"},
    {1, {"--fuse", "0"}, "--fuse 0 is too few: at least 1, or auto"},
    {1, {"--threads", "0"}, "--threads 0 is too few: at least 1"},
    {1, {"--threads", "99999"}, "--threads 99999 is too many for a host of 2 cores: at most 8"},
    {1, {"--tile", "20"}, "--tile 20 is not a whole number of cache lines"},
    {1, {"--tile", "0"}, "--tile 0 is not a whole number of cache lines"},
    {1,
     {"--tile", "8"},
     "--tile 8 is not a whole number of cache lines: a multiple of 8 columns, "
     "at least 16"},
    {2,
     {"--fuse", "2", "--exchange", "overlap"},
     "--fuse 2 does not combine with --exchange overlap, which exchanges one cell deep every "
     "step: --fuse 1 at most with it"},
    {4,
     {"--fuse", "3", "--split", "blocks", "--procs", "2x2", "--cols", "5"},
     "--fuse 3 is deeper than the blocks: the 2x2 process grid leaves blocks of 2 columns"},
    {3,
     {"--rows", "5"},
     "--rows 5 is too few for 3 processes: every strip needs two rows, so at "
     "least 6 rows, or at most 2 processes"},
    {3,
     {"--rows", "3"},
     "--rows 3 is too few for 3 processes: every strip needs two rows, so at "
     "least 6 rows, or at most 1 process"},
    {1, {"--rows", "2"}, "--rows 2 is too few: at least 3"},
    {1, {"--cols", "2"}, "--cols 2 is too few: at least 3"},
    {1, {"--steps", "0"}, "--steps 0 is too few: at least 1"},
    {1, {"--dt", "0"}, "--dt 0 is not positive"},
    {1,
     {"--dt", "0.0026"},
     "--dt 0.0026 is unstable on a 10 x 10 grid: the scheme needs "
     "dt*(1/dx^2 + 1/dy^2) <= 1/2, so --dt 0.0025 at most"},
    {1, {"--every", "-1"}, "--every -1 is negative"},
    {1, {"--monitor", "-5"}, "--monitor -5 is negative"},
    {1, {"--save-every", "5"}, "--save-every needs --save FILE.npy"},
    {2, {"--split", "rows"}, "option --split takes strips or blocks, not 'rows'"},
    {2, {"--exchange", "async"}, "option --exchange takes blocking or overlap, not 'async'"},
    {2,
     {"--split", "blocks", "--procs", "2by1"},
     "option --procs needs a process grid such as 2x3"},
    {2, {"--split", "blocks", "--procs", "0x2"}, "option --procs needs a process grid"},
    {4, {"--split", "blocks", "--procs", "3x1"}, "--procs 3x1 is 3 processes, but 4 were started"},
    {2, {"--procs", "2x1"}, "--procs chooses the process grid of --split blocks"},
    {4,
     {"--split", "blocks", "--procs", "1x4", "--cols", "7"},
     "the 1x4 process grid does not fit a 10 x 7 grid: 4 process columns leave blocks of 1 column "
     "on 7 columns, and every block needs at least two rows and two columns; --procs 2x2 fits"},
    {1, {"--method", "rk4"}, "option --method takes explicit, euler, cn or trbdf2, not 'rk4'"},
    {1, {"--method", "cn", "--tolerance", "1"}, "--tolerance 1 is out of range"},
    {1, {"--method", "euler", "--cycles", "-2"}, "--cycles -2 is negative"},
    {1, {"--method", "euler", "--most-cycles", "0"}, "--most-cycles 0 is too few: at least 1"},
    {1, {"--method", "trbdf2", "--fuse", "4"}, "--fuse 4 does not combine with --method trbdf2"},
    {2,
     {"--method", "euler", "--exchange", "overlap"},
     "--method euler does not combine with --exchange overlap"},
};

TEST(Options, EveryBadInputGetsItsOneLine) {
  for (const BadInput& bad : BAD_INPUT) {
    std::string command;
    for (const std::string& word : bad.words) command += " " + word;
    const std::string problem = problem_of(bad.words, bad.processes);
    EXPECT_EQ(problem.rfind(bad.message, 0), 0u)
        << bad.processes << " processes," << command << ": " << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
  }
}

// What a good command line sets, in both of its forms (--name value and --name=value).
TEST(Options, GoodInputSetsWhatItSays) {
  StudyOptions o;
  EXPECT_EQ(problem_of({"--rows=37", "--cols", "23", "--fuse", "auto", "--method=cn", "--cycles",
                        "3", "--split", "blocks", "--procs", "2x1", "--save", "f.npy", "--json"},
                       2, &o),
            "");
  EXPECT_EQ(o.problem.grid.nx, 37);
  EXPECT_EQ(o.problem.grid.ny, 23);
  EXPECT_EQ(o.parallel.pass_length, 0);
  EXPECT_EQ(o.method.method, Method::crank_nicolson);
  EXPECT_EQ(o.method.cycles, 3);
  EXPECT_EQ(o.parallel.procs.px, 2);
  EXPECT_EQ(o.output.save, "f.npy");
  EXPECT_TRUE(o.output.json && o.given.rows && o.given.cols && o.given.method && !o.given.dt);
  // An implicit method takes time steps far past the explicit update's limit.
  EXPECT_EQ(problem_of({"--method", "euler", "--dt", "0.5"}), "");
}

// The steps after which something is written, up to the largest int: a snapshot labelled L holds
// the field after L + 1 steps; saves and reports fall on multiples; the last step always counts.
TEST(Schedule, NextWrittenStepsUpToTheLargestInt) {
  OutputOptions out;
  out.every = 10;
  out.save_every = 7;
  out.monitor = 0;
  std::vector<int> written;
  for (int done = 0; done < 30; done = next_written(out, done, 30)) written.push_back(done);
  EXPECT_EQ(written, (std::vector<int>{0, 1, 7, 11, 14, 21, 28}));
  EXPECT_TRUE(snapshot_after(out, 21) && !snapshot_after(out, 20) && saved_after(out, 21));
  out = OutputOptions{};
  out.every = INT_MAX;
  out.save_every = INT_MAX;
  out.monitor = INT_MAX - 1;
  EXPECT_EQ(next_written(out, 1, INT_MAX), INT_MAX - 1);
  EXPECT_EQ(next_written(out, INT_MAX - 1, INT_MAX), INT_MAX);
  EXPECT_TRUE(saved_after(out, INT_MAX) && reported_after(out, INT_MAX, INT_MAX));
  EXPECT_FALSE(snapshot_after(out, INT_MAX));
}

// A pass is never longer than the run nor a block's rows, and is one step where it cannot combine.
TEST(PassPlan, ThePassLengthFitsTheRunAndTheBlocks) {
  StudyOptions o;
  o.problem.grid = {37, 23};
  o.parallel.pass_length = 1 << 30;
  EXPECT_EQ(pass_length_for(o, {1, 1}, 5, 1 << 20), 5);
  EXPECT_EQ(pass_length_for(o, {1, 1}, INT_MAX, 1 << 20), 37);
  EXPECT_EQ(pass_length_for(o, {3, 1}, INT_MAX, 1 << 20), 12);
  o.parallel.exchange = Exchange::overlap;
  o.parallel.pass_length = 0;
  EXPECT_EQ(pass_length_for(o, {1, 1}, 100, 1 << 20), 1);
  o.parallel.exchange = Exchange::blocking;
  o.method.method = Method::euler;
  EXPECT_EQ(pass_length_for(o, {1, 1}, 100, 1 << 20), 1);
}

// At every step of a pass, the tiles divide the step's columns among them in order; every tile
// has columns at some step, and every thread has a tile whenever the block is wide enough.
TEST(PassPlan, TheTilesDivideEveryStepAndEveryThreadGetsOne) {
  for (int cols : {40, 100, 1000, 5000}) {
    for (int length : {2, 5, 32}) {
      for (int threads : {1, 2, 3, 4}) {
        for (int tile : {0, 16, 64}) {
          Block block = block_of({100, cols}, {1, 2}, 0, 1);
          block.ghost = length;
          const PassPlan plan = plan_passes(block, length, tile, threads, 1 << 20);
          const int tiles = static_cast<int>(plan.tile_starts.size());
          const std::string what =
              std::to_string(cols) + " columns, K = " + std::to_string(length) + ", " +
              std::to_string(threads) + " threads, tile " + std::to_string(tile);
          std::vector<long long> columns(tiles, 0);
          for (int level = 1; level <= length; ++level) {
            const Region region = block.with_ghosts(length - level);
            int covered = region.col_begin;
            for (int t = 0; t < tiles; ++t) {
              int begin = 0;
              int end = 0;
              tile_columns(plan, region, level, t, begin, end);
              if (begin >= end) continue;
              EXPECT_EQ(begin, covered) << what << ", step " << level << ", tile " << t;
              covered = end;
              columns[t] += end - begin;
            }
            EXPECT_EQ(covered, region.col_end) << what << ", step " << level;
          }
          for (int t = 0; t < tiles; ++t) EXPECT_GT(columns[t], 0) << what << ", tile " << t;
          if (cols >= 100) {
            EXPECT_GE(tiles, threads) << what;
          }
        }
      }
    }
  }
  // 100 columns, passes of 2 and 4 threads: four tiles.
  const Block block = block_of({100, 100}, {1, 1}, 0, 0);
  EXPECT_EQ(plan_passes(block, 2, 0, 4, 1 << 20).tile_starts.size(), 4u);
}

// What an exchange `depth` deep sends and fills beyond each side of a 6 x 5 block with neighbours
// all round: rows over the block's columns; columns from depth 2 over the ghost rows as well (the
// corners, by way of the blocks above and below).
TEST(Halo, TheCellsEachSideSendsAndFills) {
  Block block;
  block.grid = {30, 30};
  block.first_row = 10;
  block.first_col = 10;
  block.rows = 6;
  block.cols = 5;
  block.ghost = 2;
  block.neighbour = {{1, 2, 3, 4}};
  const auto cells = [&](Side side, int depth, bool incoming) {
    const Region r = halo_cells(block, side, depth, incoming);
    return std::vector<int>{r.row_begin, r.row_end, r.col_begin, r.col_end};
  };
  EXPECT_EQ(cells(Side::top, 1, false), (std::vector<int>{0, 1, 0, 5}));
  EXPECT_EQ(cells(Side::top, 1, true), (std::vector<int>{-1, 0, 0, 5}));
  EXPECT_EQ(cells(Side::bottom, 2, false), (std::vector<int>{4, 6, 0, 5}));
  EXPECT_EQ(cells(Side::bottom, 2, true), (std::vector<int>{6, 8, 0, 5}));
  EXPECT_EQ(cells(Side::left, 1, true), (std::vector<int>{0, 6, -1, 0}));
  EXPECT_EQ(cells(Side::right, 1, false), (std::vector<int>{0, 6, 4, 5}));
  EXPECT_EQ(cells(Side::left, 2, false), (std::vector<int>{-2, 8, 0, 2}));
  EXPECT_EQ(cells(Side::right, 2, true), (std::vector<int>{-2, 8, 5, 7}));
  // No block above: the columns do not reach into ghost rows that nobody fills.
  block.neighbour[Side::top] = MPI_PROC_NULL;
  EXPECT_EQ(cells(Side::right, 2, true), (std::vector<int>{0, 8, 5, 7}));
  const ExchangeVolume volume = exchange_volume(block, 2);
  EXPECT_EQ(volume.messages, 3);
  EXPECT_EQ(volume.bytes, 8 * (2 * 5 + 2 * 8 * 2));
}

// Records as heat2d-study writes them read back; what it would never write is refused, each with
// what is wrong.
TEST(Record, WrittenRecordsReadBackAndBadOnesSayWhatIsWrong) {
  FieldRecord written;
  written.rows = 12;
  written.cols = 9;
  written.steps = 20;
  written.dt = 1e-4;
  written.has_crc32 = true;
  written.crc32 = 4000000000u;
  written.method = Method::trbdf2;
  const std::string text = record_text(written);
  FieldRecord read;
  ASSERT_EQ(parse_record(text, read), "") << text;
  EXPECT_TRUE(read.rows == 12 && read.cols == 9 && read.steps == 20 && read.dt == 1e-4 &&
              read.has_crc32 && read.crc32 == 4000000000u && read.initial == HEAT2D_START &&
              read.method == Method::trbdf2);
  const std::pair<std::string, std::string> bad[] = {
      {"{", "not JSON"},
      {"[1]", "not a JSON object"},
      {R"({"format": "heat2d-study field", "version": 4})", "not the record of a field"},
      {text.substr(0, text.find("\"trbdf2\"")) + "\"rk4\"}", "'method' is \"rk4\""},
      {text.substr(0, text.find("\"rows\"")) + "\"stops\": 1, " +
           text.substr(text.find("\"rows\"")),
       "an unknown key 'stops'"},
  };
  for (const auto& [record, verdict] : bad) {
    FieldRecord r;
    const std::string problem = parse_record(record, r);
    EXPECT_NE(problem.find(verdict), std::string::npos) << record << ": " << problem;
  }
}

}  // namespace
