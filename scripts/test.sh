#!/usr/bin/env bash
# Builds and runs every test once: a Debug build with checked subscripts under AddressSanitizer
# and UndefinedBehaviorSanitizer. The plain Debug build stays a developer command:
#   cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug && cmake --build build/debug -j8 &&
#   ctest --test-dir build/debug -j8 --output-on-failure
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install_deps.sh" test
jobs="$(nproc)"
if ((jobs > 8)); then jobs=8; fi

cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKINRAD_SANITIZE=ON \
  -DKINRAD_REQUIRE_MPI=ON
cmake --build "$root/build/sanitize" -j"$jobs"
ctest --test-dir "$root/build/sanitize" --output-on-failure -j8
