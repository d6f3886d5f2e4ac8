// heat2d-study: heat2d's solver on a grid, step count, time step, starting field and decomposition
// of the user's choosing, with its speed and its distance from the exact solution.
#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "checkpoint/field_names.hpp"
#include "checkpoint/save_field.hpp"
#include "common/agreement.hpp"
#include "common/allocate_field.hpp"
#include "common/catch_file_size_limit.hpp"
#include "output/report_losses.hpp"
#include "output/snapshot_name.hpp"
#include "output/write_initial_field.hpp"
#include "output/write_process_row.hpp"
#include "solver/advance.hpp"
#include "solver/cache_size.hpp"
#include "solver/pass_plan.hpp"
#include "solver/strip_bounds.hpp"
#include "study/check_memory.hpp"
#include "study/check_problem.hpp"
#include "study/cores.hpp"
#include "study/initial_snapshot.hpp"
#include "study/largest_difference.hpp"
#include "study/progress.hpp"
#include "study/snapshot_record.hpp"
#include "study/start.hpp"
#include "study/summary.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace {

constexpr int BAD_INPUT = 2;

// Every process reaches the same verdict on the same input, so all of them stop here together;
// rank 0 says why.
int refuse(const std::string& problem, const int& rank) {
  if (rank == 0) std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
  MPI_Finalize();
  return BAD_INPUT;
}

// What one process works with once the problem is settled.
struct Run {
  StudyOptions options;
  Start start;
  ProcessGrid grid;
  MPI_Comm cart = MPI_COMM_NULL;  // the processes as the process grid, ranks as in the world
  MPI_Comm row = MPI_COMM_NULL;   // the processes of this one's process row, in column order
  // Files are read and written on a communicator without a topology: given the Cartesian one,
  // Open MPI 4.1's MPI-IO groups its aggregators by the process grid, and on 8 processes here that
  // lost one aggregator's share of the file in about 2 % of saves.
  MPI_Comm files = MPI_COMM_WORLD;
  int rank = 0;
  int process_row = 0;
  Block block;
  std::vector<int> widths;  // the columns of every block in this process row
  Stepper stepper;          // the block's layers, its halo and the passes that advance it
  SnapshotLosses losses;
  int cores = 0;              // the fewest cores any process may run on (0: unknown)
  double save_seconds = 0.0;  // in save_field, waiting for the others included
  int fields_saved = 0;
  SaveLock save_lock;  // rank 0's, on --save's path, for the whole run
};

ProcessGrid process_grid(const StudyOptions& options, const int& process_count) {
  if (options.split == Split::strips) return {process_count, 1};
  if (options.procs.rows > 0) return options.procs;
  int dims[2] = {0, 0};
  MPI_Dims_create(process_count, 2, dims);
  return {dims[0], dims[1]};
}

// Steps per pass and tiles: as given, or (--fuse auto) from the core's cache and the smallest
// block, the first (the remainder goes to the last), the same on every process since the blocks
// trade ghost zones of the same depth. The overlapped exchange trades one cell deep.
void choose_passes(Run& run) {
  StudyOptions& o = run.options;
  const double l2 = cache_size(2).bytes;
  if (o.fuse_auto) {
    const Block smallest = block_of(o.rows, o.cols, run.grid, 0, 0);
    o.fuse = o.exchange == Exchange::overlap
                 ? 1
                 : plan_passes(smallest, run.grid, 0, o.threads, l2).fuse;
    MPI_Allreduce(MPI_IN_PLACE, &o.fuse, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  }
  run.stepper.fuse = o.fuse;
  run.stepper.tile_width =
      o.tile > 0 ? o.tile : plan_passes(run.block, run.grid, o.fuse, o.threads, l2).tile;
}

// The Cartesian communicator, this process's block, its neighbours and its process row.
void place(Run& run) {
  int dims[2] = {run.grid.rows, run.grid.cols};
  int periods[2] = {0, 0};
  MPI_Cart_create(MPI_COMM_WORLD, 2, dims, periods, 0, &run.cart);
  int coords[2] = {0, 0};
  MPI_Cart_coords(run.cart, run.rank, 2, coords);
  run.process_row = coords[0];
  run.block = block_of(run.options.rows, run.options.cols, run.grid, coords[0], coords[1]);
  int remain[2] = {0, 1};
  MPI_Cart_sub(run.cart, remain, &run.row);
  for (int q = 0; q < run.grid.cols; ++q) {
    int begin = 0;
    int end = 0;
    strip_bounds(run.options.cols, q, run.grid.cols, begin, end);
    run.widths.push_back(end - begin);
  }
  int neighbour[SIDES];
  MPI_Cart_shift(run.cart, 0, 1, &neighbour[TOP], &neighbour[BOTTOM]);
  MPI_Cart_shift(run.cart, 1, 1, &neighbour[LEFT], &neighbour[RIGHT]);
  Stepper& s = run.stepper;
  s.block = run.block;
  s.exchange = run.options.exchange;
  s.team.threads = run.options.threads;
  choose_passes(run);
  s.stream = streams_layers(run.block.rows(), run.block.cols());
  s.halo = make_halo(run.cart, neighbour, {run.block.rows(), run.block.cols(), s.fuse});
}

// heat2d's starting field (the grid's first row hot, all else cold) or the one in the start file.
std::string first_layer(Run& run) {
  if (!run.start.file.empty()) {
    return load_field(run.start.file, run.start.layout, run.stepper.T0, run.block, run.files);
  }
  if (run.block.top_held) {
    std::fill(run.stepper.T0[0], run.stepper.T0[0] + run.block.cols(), 100.0);
  }
  return "";
}

// The file labelled (rank_label, step_label): one strip file per process row.
void snapshot(Run& run, double** T, int step) {
  const SnapshotMode mode = run.start.steps_done > 0 ? SnapshotMode::replace : SnapshotMode::append;
  const int error =
      write_process_row(T, run.block.rows(), run.widths, run.process_row, step, mode, run.row);
  if (error != 0) note_loss(run.losses, run.process_row, step, error);
}

// One copy per strip file writer, as heat2d writes it; none when the run continues a saved one.
void initial_snapshot(Run& run) {
  if (run.options.every == 0 || run.start.steps_done > 0) return;
  int error = 0;
  if (run.start.file.empty()) {
    if (run.block.left_side) error = write_initial_field(run.options.rows, run.options.cols);
  } else if (run.rank == 0) {
    error = write_initial_copies(run.start.file, run.start.layout, run.grid.rows);
  }
  if (error != 0) note_loss(run.losses, INITIAL_FIELD_RANK, 0, error);
}

FieldRecord record_after(const Run& run, int steps_done) {
  FieldRecord record;
  record.rows = run.options.rows;
  record.cols = run.options.cols;
  record.steps = steps_done;
  record.dt = run.options.dt;
  record.initial = run.start.initial;
  return record;
}

// Saves T after `steps_done` steps, timed. Returns an empty string or why it was not saved.
std::string save(Run& run, const std::string& path, double** T, int steps_done) {
  const double start = MPI_Wtime();
  const std::string problem =
      save_field(path, T, run.block, record_after(run, steps_done), run.files);
  run.save_seconds += MPI_Wtime() - start;
  if (problem.empty()) ++run.fields_saved;
  return problem;
}

// The first step after `done` whose field is written: a snapshot (the file labelled L holds the
// field after L + 1 steps, for every L a multiple of --every), a saved field, or the last; or that
// reports progress.
int next_written(const StudyOptions& o, int done) {
  int next = o.steps;
  if (o.every > 0) next = std::min(next, done + 1 + (o.every - done % o.every) % o.every);
  if (o.save_every > 0) next = std::min(next, (done / o.save_every + 1) * o.save_every);
  if (o.monitor > 0) next = std::min(next, (done / o.monitor + 1) * o.monitor);
  return next;
}

// The time loop from the steps already done to --steps, advancing from one written field to the
// next. Returns an empty string, or why a field saved on the way could not be written (the loop
// then stops).
std::string time_loop(Run& run) {
  const StudyOptions& o = run.options;
  Stepper& s = run.stepper;
  const Progress progress = {o.monitor, run.start.steps_done, o.steps, o.dt,
                             isatty(STDERR_FILENO) == 1};
  const double start = MPI_Wtime();
  for (int done = run.start.steps_done; done < o.steps;) {
    const int next = next_written(o, done);
    advance(s, next - done);
    done = next;
    if (o.monitor > 0 && run.rank == 0 && (done % o.monitor == 0 || done == o.steps)) {
      report_progress(progress, done, MPI_Wtime() - start);
    }
    if (o.every > 0 && (done - 1) % o.every == 0) snapshot(run, s.T0, done - 1);
    if (o.save_every > 0 && done % o.save_every == 0) {
      const std::string problem = save(run, series_path(o.save, done), s.T0, done);
      if (!problem.empty()) return problem + "; the run stops after step " + std::to_string(done);
    }
  }
  return "";
}

std::string cache_text(const StudyOptions& options) {
  if (options.stores != Stores::automatic) {
    return std::string("--stores ") + stores_name(options.stores);
  }
  const CacheSize cache = last_level_cache();
  char text[96];
  std::snprintf(text, sizeof text, "%g MiB last-level cache, from %s",
                cache.bytes / (1024.0 * 1024.0), cache.source);
  return text;
}

RunFigures figures_of(const Run& run, const ProcessTimes& mine) {
  const StudyOptions& o = run.options;
  RunFigures f;
  f.rows = o.rows;
  f.cols = o.cols;
  MPI_Comm_size(MPI_COMM_WORLD, &f.processes);
  f.split = split_name(o.split);
  f.procs[0] = run.grid.rows;
  f.procs[1] = run.grid.cols;
  f.exchange = exchange_name(o.exchange);
  f.first_step = run.start.steps_done;
  f.steps = o.steps;
  f.dt = o.dt;
  // Gathered as plain doubles: the struct is nothing else.
  constexpr int FIGURES = sizeof(ProcessTimes) / sizeof(double);
  static_assert(sizeof(ProcessTimes) == FIGURES * sizeof(double), "ProcessTimes holds doubles");
  std::vector<ProcessTimes> times(run.rank == 0 ? f.processes : 0);
  MPI_Gather(&mine, FIGURES, MPI_DOUBLE, times.data(), FIGURES, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  set_times(f, times);
  const StepCounts& counts = run.stepper.counts;
  const double steps = std::max<long long>(1, counts.steps);
  double sent[2] = {counts.bytes / steps, counts.messages / steps};
  MPI_Allreduce(MPI_IN_PLACE, sent, 2, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  f.bytes_per_step = std::llround(sent[0]);
  f.messages_per_step = sent[1];
  f.threads = run.stepper.team.threads;
  f.cores = run.cores;
  f.host_load = host_load(run.stepper.team.threads);
  f.thread_cells = run.stepper.team.cells;
  f.fuse = run.stepper.fuse;
  f.tile = run.stepper.fuse > 1 ? run.stepper.tile_width : 0;
  // Passes of several steps keep their rows in the cache; only single steps stream.
  f.streamed = run.stepper.stream && run.stepper.fuse == 1;
  f.cache = cache_text(o);
  f.fields_saved = run.fields_saved;
  f.exact = run.start.initial == HEAT2D_START;
  const double dx = 1.0 / o.rows;
  f.max_error = f.exact ? largest_difference(run.stepper.T0, run.block.rows(), run.block.cols(),
                                             run.block.row_begin, o.rows, dx, o.steps * o.dt)
                        : 0.0;
  MPI_Allreduce(MPI_IN_PLACE, &f.max_error, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
  return f;
}

// Rank 0 prints the summary; a summary that cannot be written is a failed run.
int print_summary(const RunFigures& figures, bool json) {
  const std::string text = summary(figures, json);
  if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
  std::fprintf(stderr, "heat2d-study: the summary could not be written to standard output: %s\n",
               std::strerror(errno));
  return 1;
}

// Threads per process when --threads is not given: OMP_NUM_THREADS where it is set, else one, so
// that a run with several processes per node does not oversubscribe its cores unasked.
int default_threads() {
#if defined(_OPENMP)
  if (std::getenv("OMP_NUM_THREADS") != nullptr) return omp_get_max_threads();
#endif
  return 1;
}

// Several threads need OpenMP, and an MPI that lets the main thread call it while others exist.
std::string threads_problem(int threads, int thread_level) {
  if (threads == 1) return "";
#if !defined(_OPENMP)
  return "--threads " + std::to_string(threads) +
         " needs a build with OpenMP; this one runs one thread per process";
#endif
  if (thread_level < MPI_THREAD_FUNNELED) {
    return "--threads " + std::to_string(threads) +
           " needs MPI_THREAD_FUNNELED, which this MPI library does not provide";
  }
  return "";
}

// Problems that are the same on every process stop them all before anything is written.
std::string settle(Run& run, int argc, char** argv, int process_count, int thread_level) {
  StudyOptions& o = run.options;
  std::string problem = parse_options(argc, argv, o);
  if (problem.empty() && !o.help) problem = resolve_start(o, run.start, MPI_COMM_WORLD);
  if (!problem.empty() || o.help) return problem;
  if (!o.threads_given) o.threads = default_threads();
  run.grid = process_grid(o, process_count);
  problem = check_problem(o, process_count, run.grid);
  if (problem.empty()) problem = threads_problem(o.threads, thread_level);
  if (problem.empty()) set_stores(o.stores);
  return problem;
}

// Placed, allocated, given its first layer and a checked --save path, or why not.
std::string prepare(Run& run) {
  place(run);
  std::string problem = check_memory(run.options, run.block, run.rank);
  if (!problem.empty()) return problem;
  if (!on_every_process(allocate_layers(run.stepper))) {
    return "the blocks could not be allocated: too large for the memory";
  }
  problem = first_layer(run);
  if (problem.empty() && !run.options.save.empty()) {
    const SeriesSteps series{run.options.save_every, run.start.steps_done, run.options.steps};
    problem = check_save_path(run.options.save, series, run.files, run.save_lock);
  }
  return problem;
}

}  // namespace

int main(int argc, char** argv) {
  catch_file_size_limit();
  // Only the main thread calls MPI, outside the threads' parallel regions.
  int thread_level = MPI_THREAD_SINGLE;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &thread_level);
  Run run;
  int process_count = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &run.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &process_count);

  std::string problem = settle(run, argc, argv, process_count, thread_level);
  if (problem.empty() && run.options.help) {
    const bool lost =
        run.rank == 0 && (std::fputs(STUDY_USAGE, stdout) < 0 || std::fflush(stdout) != 0);
    if (lost)
      std::fprintf(stderr,
                   "heat2d-study: the help text could not be written to standard output: %s\n",
                   std::strerror(errno));
    MPI_Finalize();
    return lost ? 1 : 0;
  }
  if (problem.empty()) problem = prepare(run);
  if (!problem.empty()) return refuse(problem, run.rank);
  const std::string crowded = cores_warning(run.stepper.team.threads, run.cores);
  if (run.rank == 0 && !crowded.empty())
    std::fprintf(stderr, "heat2d-study: %s\n", crowded.c_str());

  const StudyOptions& o = run.options;
  // The same spacing rule as heat2d: dx = (b - a) / NX on the unit square.
  run.stepper.scheme = make_scheme(1.0 / o.rows, 1.0 / o.cols, o.dt);
  run.losses.program = "heat2d-study";
  if (run.rank == 0) record_snapshot_run(o, run.start, run.grid.rows);
  initial_snapshot(run);

  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  const std::string stopped = time_loop(run);
  const double loop_seconds = MPI_Wtime() - start;
  problem = stopped;
  if (problem.empty() && !o.save.empty()) problem = save(run, o.save, run.stepper.T0, o.steps);

  const RunFigures figures =
      figures_of(run, {loop_seconds, run.stepper.counts.update_seconds,
                       run.stepper.counts.exchange_seconds, run.save_seconds});
  int status = report_losses(run.losses, run.rank, process_count);
  if (!problem.empty()) status = 1;
  if (run.rank == 0) {
    if (!problem.empty()) std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
    // A run that stopped early has no figures to give.
    if (stopped.empty() && print_summary(figures, o.json) != 0) status = 1;
  }
  MPI_Finalize();
  // Only rank 0 carries a failure (see report_losses).
  if (run.rank != 0) return 0;
  if (status != 0) leave_the_others_time_to_finish();
  return status;
}
