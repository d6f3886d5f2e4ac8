#!/usr/bin/env bash
# Sets up and runs every test: once in the release build, once more under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build"
(cd "$ROOT/build" && ctest --output-on-failure -j 2)

"$ROOT/scripts/setup.sh" "$ROOT/build-sanitize" -DHEAT2D_SANITIZE=ON -DHEAT2D_BENCH=OFF
(cd "$ROOT/build-sanitize" && ctest --output-on-failure -j 2)
