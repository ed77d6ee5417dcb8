#pragma once
// Test seams of the pairwise phase, one object: the engine routines the parentage
// simulation's trio scorer calls. Empty (nullptr) in the program, which then calls the
// engine's own; tests put stand-ins here. reset_all_modules resets it with the modules.
// Included only by its users.
#include "core/kinds.hpp"

namespace kinrad {

struct TrioEngineCalls {
  void (*genotypecheckp)(int4& ok, int4 vote) = nullptr;
  void (*genotypecheckpdom)(int4& ok) = nullptr;
  void (*familylocuslogl)(int4 locus, int4 numallele, int4 numgenotype, real8& logl) = nullptr;
};

constinit inline TrioEngineCalls trio_engine_calls{};

}  // namespace kinrad
