#!/usr/bin/env bash
# Submits a chain of N jobs of chain.sbatch, each to start once the one before it has ended,
# whether it finished, failed, was cancelled or ran out of time. Prints the jobs' ids.
# Usage: scripts/slurm/chain.sh N [SBATCH-OPTION...] -- FIELD.npy K HEAT2D-STUDY-OPTION...
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
usage="usage: scripts/slurm/chain.sh N [SBATCH-OPTION...] -- FIELD.npy K HEAT2D-STUDY-OPTION..."
[[ "${1:-}" =~ ^[1-9][0-9]*$ ]] || { echo "chain.sh: $usage" >&2; exit 2; }
JOBS="$1"
shift
SBATCH_OPTIONS=()
while (($#)) && [[ "$1" != -- ]]; do
  SBATCH_OPTIONS+=("$1")
  shift
done
(($# >= 3)) || { echo "chain.sh: $usage" >&2; exit 2; }
shift
# The jobs find heat2d's folder through the environment sbatch passes on.
export HEAT2D_ROOT="${HEAT2D_ROOT:-$(dirname "$(dirname "$HERE")")}"
previous=""
for ((k = 0; k < JOBS; k++)); do
  job="$(sbatch --parsable ${previous:+--dependency=afterany:$previous} "${SBATCH_OPTIONS[@]}" \
    "$HERE/chain.sbatch" "$@")"
  previous="${job%%;*}"
  echo "$previous"
done
