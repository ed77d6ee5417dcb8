#!/usr/bin/env bash
# Checks that every C++ file follows .clang-format, then builds and runs every test, in two
# passes:
#  1. a Debug build with checked subscripts and assertions under AddressSanitizer and
#     UndefinedBehaviorSanitizer, at -O1 -g, running every test except the labels "slow" and
#     "soak", with the random-cluster oracle loops cut to a seed budget (KINRAD_SEED_BUDGET);
#  2. a Release build with checked subscripts (KINRAD_BOUNDS_CHECK=ON) running the whole suite
#     with every seed, the "slow" cases (whole analyses, kill-and-check runs) and the "soak"
#     matrix included.
# The plain Debug build stays a developer command:
#   cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug && cmake --build build/debug -j8 &&
#   ctest --test-dir build/debug -j8 --output-on-failure
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install_deps.sh" test
"$root/scripts/check_format.sh"
jobs="$(nproc)"
if ((jobs > 8)); then jobs=8; fi
seed_budget="${KINRAD_SEED_BUDGET:-20}"

cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKINRAD_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DKINRAD_BENCH=OFF -DKINRAD_REQUIRE_MPI=ON
cmake --build "$root/build/sanitize" -j"$jobs"
KINRAD_SEED_BUDGET="$seed_budget" \
  ctest --test-dir "$root/build/sanitize" --output-on-failure -j"$jobs" -LE 'slow|soak'

cmake -S "$root" -B "$root/build/release-checked" -DCMAKE_BUILD_TYPE=Release \
  -DKINRAD_BOUNDS_CHECK=ON -DKINRAD_BENCH=OFF -DKINRAD_REQUIRE_MPI=ON
cmake --build "$root/build/release-checked" -j"$jobs"
env -u KINRAD_SEED_BUDGET ctest --test-dir "$root/build/release-checked" --output-on-failure \
  -j"$jobs"
