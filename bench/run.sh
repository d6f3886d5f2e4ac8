#!/usr/bin/env bash
# Builds heat2d and its benchmarks, then runs them all. Usage: bench/run.sh [--quick] [--rounds R]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build"
source "$ROOT/scripts/mpi_env.sh"
/usr/bin/python3 "$ROOT/bench/run.py" "$ROOT/build" "$@"
