#pragma once
// The batch runner's own module. It shares its design name with the main program's module
// but nothing else: the runner never includes the main program's state, and its namespace
// keeps the two apart.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad::batch {

struct Variables {
  int4 threadid = 0;     // rank in the world communicator; 0 before MPI start-up
  int4 numthreads = 1;   // size of the world communicator; 1 before MPI start-up
  FString<99> threadic;  // threadid's digits, left-adjusted, as the started runs receive them
  FString<99> execfile;  // the main program's executable, possibly prefixed with "./"
  int4 numfile = 0;      // number of names in the list file
  FArray<FString<99>, 1> inputfile;  // inputfile(1..numfile): the project input files in order
};

KINRAD_CONSTINIT inline Variables variables{};

}  // namespace kinrad::batch
