#!/usr/bin/env bash
# Sets up and runs every test: once in the release build, once more under AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer, and the unit tests, whose passes and multigrid start
# threads, under ThreadSanitizer.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build"
(cd "$ROOT/build" && ctest --output-on-failure -j 2)

"$ROOT/scripts/setup.sh" "$ROOT/build-sanitize" -DHEAT2D_SANITIZE=ON -DHEAT2D_BENCH=OFF
(cd "$ROOT/build-sanitize" && ctest --output-on-failure -j 2)

# ThreadSanitizer needs clang and its OpenMP runtime (see CMakeLists.txt); only the unit tests.
source "$ROOT/scripts/packages.sh"
install_missing clang libomp-dev
CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-threads" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHEAT2D_THREAD_SANITIZE=ON -DHEAT2D_BENCH=OFF > /dev/null
cmake --build "$ROOT/build-threads" -j "$(nproc)" --target unit_tests
(cd "$ROOT/build-threads" && ctest --output-on-failure -j 2 -L unit)
