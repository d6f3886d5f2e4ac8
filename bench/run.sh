#!/usr/bin/env bash
# Builds heat2d and its benchmarks, then runs them all: whole runs, instructions, a step against
# copies and two processes against one (run.py), splits and exchanges on one host and across two
# (decompositions.py), passes of several steps, threads and deep halos (passes.py), saving fields
# (saving.py), heat2d-view's binary .vti against text (vti_formats.py), what --monitor costs
# (monitor.py) and the implicit methods with their multigrid (implicit.py).
# Usage: bench/run.sh [--quick] [--rounds R]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build"
source "$ROOT/scripts/mpi_env.sh"
for bench in run decompositions passes saving vti_formats monitor implicit; do
  /usr/bin/python3 "$ROOT/bench/$bench.py" "$ROOT/build" "$@"
  echo
done
