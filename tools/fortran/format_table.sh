#!/bin/sh
# Regenerates tests/core/data/format_table_write.txt and format_table_read.txt with gfortran.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../../tests/core/data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gfortran -O0 -Wall -J "$work" "$here/format_table.f90" -o "$work/format_table"
(cd "$work" && ./format_table)
cp "$work/format_table_write.txt" "$work/format_table_read.txt" "$data/"
