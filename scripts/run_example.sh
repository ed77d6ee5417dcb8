#!/usr/bin/env bash
# Builds Kinrad2p (Release) and analyses the example project in examples/.
# The analysis runs in build/example-run/, a copy of examples/, so the repository stays clean.
# Only what Kinrad2p needs is installed; the batch runner KinradBatchRun is built as well when
# Open MPI is already there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install_deps.sh"
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DKINRAD_TESTS=OFF
cmake --build "$root/build/release" -j"$(nproc)"
rundir="$root/build/example-run"
mkdir -p "$rundir"
cp -r "$root/examples/." "$rundir/"
cd "$rundir"
"$root/build/release/Kinrad2p" "$@"
