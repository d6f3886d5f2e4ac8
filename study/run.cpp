// One run of heat2d-study: its options settled, its processes placed, its field advanced from one
// written step to the next, and its figures reported.
#include "study/run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "checkpoint/field_names.hpp"
#include "checkpoint/save_field.hpp"
#include "common/agreement.hpp"
#include "output/report_losses.hpp"
#include "output/snapshot_name.hpp"
#include "output/write_initial_field.hpp"
#include "output/write_process_row.hpp"
#include "solver/cache_size.hpp"
#include "solver/strip_bounds.hpp"
#include "stepping/implicit_stepper.hpp"
#include "study/check_memory.hpp"
#include "study/check_problem.hpp"
#include "study/cores.hpp"
#include "study/figures.hpp"
#include "study/initial_snapshot.hpp"
#include "study/progress.hpp"
#include "study/schedule.hpp"
#include "study/snapshot_record.hpp"
#include "study/thread_environment.hpp"
#include "study/wording.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace {

ProcessGrid process_grid(const ParallelOptions& parallel, int process_count) {
  if (parallel.split == Split::strips) return {process_count, 1};
  if (parallel.procs.px > 0) return parallel.procs;
  int dims[2] = {0, 0};
  MPI_Dims_create(process_count, 2, dims);
  return {dims[0], dims[1]};
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

// --until becomes the steps that reach it, with the run's dt (a restart's, if it continues one).
std::string settle_final_time(StudyOptions& o, const Start& start) {
  ProblemOptions& p = o.problem;
  if (p.until == 0.0) return "";
  if (o.given.steps)
    return "--until and --steps exclude each other: give the final time or the steps";
  if (!(p.until > 0.0)) return format("--until %g is not positive", p.until);
  p.steps = steps_to_reach(p.until, p.dt);
  if (p.steps == 0) {
    return format("--until %g", p.until) + format(" takes more steps of dt = %g", p.dt) +
           " than a run counts (at most 2147483647)";
  }
  if (p.steps <= start.steps_done) {
    return format("--until %g", p.until) + " is not beyond the " +
           std::to_string(start.steps_done) + " steps " + p.restart + " holds";
  }
  return "";
}

// The Cartesian communicator, this process's block with its neighbours, and its process row.
void place(Run& run) {
  Placement& place = run.place;
  int dims[2] = {place.processes.px, place.processes.py};
  int periods[2] = {0, 0};
  MPI_Cart_create(MPI_COMM_WORLD, 2, dims, periods, 0, &place.cart);
  int coords[2] = {0, 0};
  MPI_Cart_coords(place.cart, place.rank, 2, coords);
  place.process_row = coords[0];
  place.block = block_of(run.options.problem.grid, place.processes, coords[0], coords[1]);
  place.block.comm = place.cart;
  Block& b = place.block;
  MPI_Cart_shift(place.cart, 0, 1, &b.neighbour[Side::top], &b.neighbour[Side::bottom]);
  MPI_Cart_shift(place.cart, 1, 1, &b.neighbour[Side::left], &b.neighbour[Side::right]);
  int remain[2] = {0, 1};
  MPI_Cart_sub(place.cart, remain, &place.row);
  for (int q = 0; q < place.processes.py; ++q) {
    int begin = 0;
    int end = 0;
    strip_bounds(run.options.problem.grid.ny, q, place.processes.py, begin, end);
    place.widths.push_back(end - begin);
  }
}

// The threads the host's cores take, the same on every process; a warning when fewer than asked.
void take_threads(Run& run) {
  const Host host = this_host();
  int taken = threads_that_fit(run.threads.asked, host);
  MPI_Allreduce(MPI_IN_PLACE, &taken, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  run.threads.taken = taken;
  if (taken < run.threads.asked && run.place.rank == 0) {
    std::fprintf(stderr,
                 "heat2d-study: warning: %s per process asked for, but %s share a host of %s: "
                 "taking %s per process, since threads that take turns on a core wait for "
                 "each other\n",
                 count_of(run.threads.asked, "thread", "threads").c_str(),
                 count_of(host.processes, "process", "processes").c_str(),
                 count_of(host.online_cores, "core", "cores").c_str(),
                 count_of(taken, "thread", "threads").c_str());
  }
}

// The explicit update's passes: their length the same on every process (the blocks exchange
// ghost zones of the same depth), their tiles each process's own.
void plan_explicit(Run& run) {
  const StudyOptions& o = run.options;
  const double l2 = cache_size(2).bytes;
  const int steps = o.problem.steps - run.start.steps_done;
  int length = pass_length_for(o, run.place.processes, steps, l2);
  MPI_Allreduce(MPI_IN_PLACE, &length, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  run.automatic_passes = o.parallel.pass_length == 0 && !is_implicit(o.method.method);
  run.passes = plan_passes(run.place.block, length, o.parallel.tile_width, run.threads.taken, l2);
  // Ghost zones as deep as a pass, where there is a neighbour to take them from; as deep as the
  // multigrid's passes for an implicit method.
  run.place.block.ghost = is_implicit(o.method.method)       ? Multigrid::GHOST
                          : run.place.block.has_neighbours() ? length
                                                             : 1;
}

// The method, as a stepper over this process's block.
std::unique_ptr<Stepper> make_stepper(const Run& run) {
  const StudyOptions& o = run.options;
  const ProblemOptions& p = o.problem;
  if (is_implicit(o.method.method)) {
    SolveControl control;
    control.tolerance = o.method.tolerance;
    control.cycles = o.method.cycles;
    control.most_cycles = o.method.most_cycles;
    int coords[2] = {0, 0};
    MPI_Cart_coords(run.place.cart, run.place.rank, 2, coords);
    return std::make_unique<ImplicitStepper>(run.place.block, run.place.processes, coords[0],
                                             coords[1], o.method.method, p.dt, control,
                                             run.threads.taken);
  }
  const Scheme scheme = make_scheme(spacing(p.grid.nx), spacing(p.grid.ny), p.dt);
  return std::make_unique<ExplicitStepper>(run.place.block, scheme, explicit_config(o, run.passes));
}

// heat2d's starting field (the grid's first row hot, all else cold) or the one in the start file.
std::string first_layer(Run& run) {
  double** T = run.stepper->field();
  const Block& block = run.place.block;
  if (!run.start.file.empty()) {
    return load_field(run.start.file, run.start.layout, T, block, run.place.files);
  }
  if (block.on_edge(Side::top)) std::fill(T[0], T[0] + block.cols, HOT_EDGE);
  return "";
}

// The file labelled (process row, label): one strip file per process row.
void snapshot(Run& run, double** T, int label) {
  const SnapshotMode mode = run.start.steps_done > 0 ? SnapshotMode::replace : SnapshotMode::append;
  const Placement& place = run.place;
  const int error = write_process_row(T, place.block.rows, place.widths, place.process_row, label,
                                      mode, place.row);
  if (error != 0) note_loss(run.writing.losses, place.process_row, label, error);
}

// One copy per strip file writer, as heat2d writes it; none when the run continues a saved one.
void initial_snapshot(Run& run) {
  const GridSize& grid = run.options.problem.grid;
  if (run.options.output.every == 0 || run.start.steps_done > 0) return;
  int error = 0;
  if (run.start.file.empty()) {
    if (run.place.block.on_edge(Side::left)) error = write_initial_field(grid);
  } else if (run.place.rank == 0) {
    error = write_initial_copies(run.start.file, run.start.layout, run.place.processes.px);
  }
  if (error != 0) note_loss(run.writing.losses, INITIAL_FIELD_RANK, 0, error);
}

FieldRecord record_after(const Run& run, int steps_done) {
  const ProblemOptions& p = run.options.problem;
  FieldRecord record;
  record.rows = p.grid.nx;
  record.cols = p.grid.ny;
  record.steps = steps_done;
  record.dt = p.dt;
  record.method = run.options.method.method;
  record.initial = run.start.initial;
  return record;
}

// Saves T after `steps_done` steps, timed. Returns an empty string or why it was not saved.
std::string save(Run& run, const std::string& path, double** T, int steps_done) {
  const double start = MPI_Wtime();
  const std::string problem =
      save_field(path, T, run.place.block, record_after(run, steps_done), run.place.files);
  run.writing.save_seconds += MPI_Wtime() - start;
  if (problem.empty()) ++run.writing.fields_saved;
  return problem;
}

// A field that overflowed must not be written as if it were one. Only a starting file can hold
// values large enough: from heat2d's field every step stays between 0 and 100.
std::string finite_problem(const Run& run, double** T, int done) {
  if (run.start.file.empty() || field_is_finite(T, run.place.block, MPI_COMM_WORLD)) return "";
  return "the field is no longer finite after step " + std::to_string(done) +
         " (a value overflowed to infinity or became NaN): the run stops without writing it";
}

std::string cache_text(const StudyOptions& options) {
  if (options.parallel.stores != Stores::automatic) {
    return std::string("--stores ") + stores_name(options.parallel.stores);
  }
  const CacheSize cache = last_level_cache();
  char text[96];
  std::snprintf(text, sizeof text, "%g MiB last-level cache, from %s",
                cache.bytes / (1024.0 * 1024.0), cache.source);
  return text;
}

// What every process already knows: the setup and this process's own view of the method.
RunFigures local_figures(const Run& run) {
  const StudyOptions& o = run.options;
  RunFigures f;
  f.setup = {o.problem.grid,       run.place.process_count, o.parallel.split,
             run.place.processes,  o.parallel.exchange,     o.method.method,
             run.start.steps_done, o.problem.steps,         o.problem.dt};
  const Team& team = run.stepper->team();
  f.threads.threads = team.threads;
  f.threads.asked = run.threads.asked;
  f.threads.cores = run.threads.cores;
  f.threads.cells = team.cells;
  f.passes.pass_length = run.passes.pass_length;
  f.passes.tile_width = run.passes.pass_length > 1 ? run.passes.tile_width : 0;
  f.passes.tiles = run.passes.pass_length > 1 ? static_cast<int>(run.passes.tile_starts.size()) : 0;
  f.passes.automatic = run.automatic_passes;
  if (const auto* explicit_update = dynamic_cast<const ExplicitStepper*>(run.stepper.get())) {
    // Passes of several steps keep their rows in the cache; only single steps stream.
    f.passes.streamed = explicit_update->single_kernel().streams && run.passes.pass_length == 1;
    f.passes.kernel = run.passes.pass_length > 1 ? explicit_update->tile_kernel().name
                                                 : explicit_update->single_kernel().name;
  }
  f.passes.cache = cache_text(o);
  f.fields_saved = run.writing.fields_saved;
  f.exact = run.start.initial == HEAT2D_START;
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

}  // namespace

ExplicitConfig explicit_config(const StudyOptions& options, const PassPlan& passes) {
  ExplicitConfig config;
  config.exchange = options.parallel.exchange;
  config.passes = passes;
  config.stores = options.parallel.stores;
  return config;
}

int pass_length_for(const StudyOptions& options, const ProcessGrid& processes, int steps,
                    double l2_bytes) {
  const ParallelOptions& p = options.parallel;
  if (is_implicit(options.method.method) || p.exchange == Exchange::overlap) return 1;
  const Block smallest = block_of(options.problem.grid, processes, 0, 0);
  const int length =
      p.pass_length > 0 ? p.pass_length : automatic_pass_length(smallest, processes, l2_bytes);
  return std::max(1, std::min({length, steps, smallest.rows}));
}

std::string settle(Run& run, int argc, char** argv, int thread_level) {
  StudyOptions& o = run.options;
  std::string problem = parse_options(argc, argv, o);
  if (problem.empty() && !o.help) problem = omp_num_threads_problem();
  if (problem.empty() && !o.help) problem = resolve_start(o, run.start, MPI_COMM_WORLD);
  if (problem.empty() && !o.help) problem = settle_final_time(o, run.start);
  if (!problem.empty() || o.help) return problem;
  if (!o.given.threads) o.parallel.threads = default_threads();
  run.place.processes = process_grid(o.parallel, run.place.process_count);
  const Host host = this_host();
  problem = check_problem(o, run.place.process_count, run.place.processes, host.online_cores);
  if (problem.empty()) problem = threads_problem(o.parallel.threads, thread_level);
  run.threads.asked = o.parallel.threads;
  return problem;
}

std::string prepare(Run& run) {
  place(run);
  take_threads(run);
  plan_explicit(run);
  run.stepper = make_stepper(run);
  const double need =
      run.stepper->memory_bytes() + snapshot_text_bytes(run.options.output, run.place.block);
  const GridSize& grid = run.options.problem.grid;
  const double whole_grid =
      run.stepper->memory_bytes() * grid.nx / run.place.block.rows * grid.ny / run.place.block.cols;
  std::string problem = check_memory(need, grid, whole_grid, run.place.rank);
  if (!problem.empty()) return problem;
  if (!on_every_process(run.stepper->allocate())) {
    return "the blocks could not be allocated: too large for the memory";
  }
  problem = first_layer(run);
  const OutputOptions& out = run.options.output;
  if (problem.empty() && !out.save.empty()) {
    const SeriesSteps series{out.save_every, run.start.steps_done, run.options.problem.steps};
    problem = check_save_path(out.save, series, run.place.files, run.writing.save_lock);
  }
  return problem;
}

std::string run_steps(Run& run, double& seconds) {
  const StudyOptions& o = run.options;
  const std::string crowded = cores_warning(run.stepper->team().threads, run.threads.cores);
  if (run.place.rank == 0 && !crowded.empty()) {
    std::fprintf(stderr, "heat2d-study: %s\n", crowded.c_str());
  }
  run.writing.losses.program = "heat2d-study";
  if (run.place.rank == 0) record_snapshot_run(o, run.start, run.place.processes.px);
  initial_snapshot(run);

  const int last = o.problem.steps;
  const Progress progress = {o.output.monitor, run.start.steps_done, last, o.problem.dt,
                             isatty(STDERR_FILENO) == 1};
  MPI_Barrier(MPI_COMM_WORLD);
  const double start = MPI_Wtime();
  std::string problem;
  for (int done = run.start.steps_done; done < last && problem.empty();) {
    const int next = next_written(o.output, done, last);
    problem = run.stepper->advance(done, next - done);
    done = next;
    double** T = run.stepper->field();
    if (problem.empty()) problem = finite_problem(run, T, done);
    if (!problem.empty()) break;
    if (reported_after(o.output, done, last) && run.place.rank == 0) {
      report_progress(progress, done, MPI_Wtime() - start);
    }
    if (snapshot_after(o.output, done)) snapshot(run, T, done - 1);
    if (saved_after(o.output, done)) {
      problem = save(run, series_path(o.output.save, done), T, done);
      if (!problem.empty()) problem += "; the run stops after step " + std::to_string(done);
    }
  }
  seconds = MPI_Wtime() - start;
  return problem;
}

int finish(Run& run, std::string problem, double loop_seconds) {
  const StudyOptions& o = run.options;
  const bool stopped = !problem.empty();
  if (!stopped && !o.output.save.empty()) {
    problem = save(run, o.output.save, run.stepper->field(), o.problem.steps);
  }
  const StepCounts& counts = run.stepper->counts();
  const ProcessTimes mine = {loop_seconds, counts.update_seconds, counts.exchange_seconds,
                             run.writing.save_seconds};
  RunFigures figures = local_figures(run);
  figures.time = time_figures(gather_process_times(mine, MPI_COMM_WORLD));
  figures.traffic = most_traffic(counts, MPI_COMM_WORLD);
  figures.threads.host_load = host_load(figures.threads.threads, this_host());
  figures.peak_bytes = peak_resident_bytes(MPI_COMM_WORLD);
  if (const auto* implicit = dynamic_cast<const ImplicitStepper*>(run.stepper.get())) {
    figures.solves = solve_figures(implicit->multigrid(), MPI_COMM_WORLD);
  }
  if (figures.exact) {
    figures.max_error = largest_error(run.stepper->field(), run.place.block,
                                      o.problem.steps * o.problem.dt, MPI_COMM_WORLD);
  }
  int status = report_losses(run.writing.losses, run.place.rank, run.place.process_count);
  if (!problem.empty()) status = 1;
  if (run.place.rank == 0) {
    if (!problem.empty()) std::fprintf(stderr, "heat2d-study: %s\n", problem.c_str());
    // A run that stopped early has no figures to give.
    if (!stopped && print_summary(figures, o.output.json) != 0) status = 1;
  }
  return status;
}
