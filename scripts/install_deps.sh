#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Usage: scripts/install_deps.sh [test]
# Without an argument: what Kinrad2p needs (a compiler, CMake, make). With "test": also
# GoogleTest, Google Benchmark, Open MPI and clang-format, which the tests require (the batch
# runner KinradBatchRun is built and tested there; the formatting is checked); the main program
# needs none of them.
set -euo pipefail

packages=(cmake g++ make)
if [[ "${1:-}" == "test" ]]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev openmpi-bin libopenmpi-dev clang-format)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  # Another package manager at work (an unattended upgrade, a second install) holds the lock:
  # wait for it up to 10 minutes rather than fail at once.
  apt_get=("${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600)
  "${apt_get[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive "${apt_get[@]}" install -y -qq "${missing[@]}"
fi
