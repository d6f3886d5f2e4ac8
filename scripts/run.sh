#!/usr/bin/env bash
# Sets up, builds and runs heat2d with 4 processes in a fresh folder under runs/, then draws the
# final field.
# Usage: scripts/run.sh [PROCESSES]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
source "$ROOT/scripts/mpi_env.sh"

PROCESSES="${1:-4}"
RUN="$ROOT/runs/$(date +%Y%m%d-%H%M%S)-n$PROCESSES"
mkdir -p "$RUN"
cd "$RUN"
mpiexec -n "$PROCESSES" "$ROOT/build/heat2d"
echo "Snapshots of this run: $RUN ($(ls | wc -l) files)"
"$ROOT/tools/heat2d-view" plot "$RUN" --output "$RUN/final.png"
