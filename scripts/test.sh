#!/usr/bin/env bash
# Builds and runs every test: the Debug build (subscripts checked), then the same tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install_deps.sh" test
jobs="$(nproc)"

# The test build must have MPI: without it the batch runner and its tests would be left out.
cmake -S "$root" -B "$root/build/debug" -DCMAKE_BUILD_TYPE=Debug -DKINRAD_REQUIRE_MPI=ON
cmake --build "$root/build/debug" -j"$jobs"
ctest --test-dir "$root/build/debug" --output-on-failure -j8

cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKINRAD_SANITIZE=ON \
  -DKINRAD_REQUIRE_MPI=ON
cmake --build "$root/build/sanitize" -j"$jobs"
ctest --test-dir "$root/build/sanitize" --output-on-failure -j8
