#!/bin/sh
# Regenerates tests/results/data/ne_files.txt with gfortran from tools/ne_tables/ne_file.f90
# and the generator module of tools/random_tables/random_tables.f90.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../../tests/results/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -n '1,/^end module/p' "$here/../random_tables/random_tables.f90" > "$work/streams.f90"
gfortran -O0 -J "$work" -c "$work/streams.f90" -o "$work/streams.o"
gfortran -O0 -Wall -J "$work" "$work/streams.o" "$here/ne_file.f90" -o "$work/ne_file"
mkdir -p "$data"
"$work/ne_file" "$data"
