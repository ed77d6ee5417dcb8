#pragma once
// The module `likelihoodvar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Family graph and peeling state of the likelihood engine.
struct Likelihoodvar {
  // Run-state placeholders of the family work state, sized for real by the family set-up.
  FArray<int4, 1> selfprnt{};  // (0:): count, then the parents acting in both roles
  FArray<int4, 1> idxloc{};    // (0:)
  FArray<int4, 1> idxtgt{};
  FArray<int1, 1> i1bflag{};
  FArray<Dpdim2, 1> fsprobptr{};
  FArray<int1, 1> fsprobidx{};
  FArray<int1, 1> allelehs{};
  FArray<int1, 1> allelehsnum{};
  FArray<int4, 1> allelehsloc{};

  // First allocations of the per-analysis set-up; their users size and fill them.
  FArray<int4, 2> scaleidx{};       // (2, 2)
  FArray<int2, 1> userowsnp{};      // (1:1)
  FArray<int4, 1> domfsibsave{};    // (1:1)
  FArray<real8, 1> domconstlogl{};  // (1:1)
  FArray<int2, 2> familyindivll{};  // (3, 1:1)
  FArray<int2, 1> familyindiv{};    // (1:1)
  FArray<int2, 4> fsfamilygtype{};  // (0:1, 2, 1, locus3 position)
  FArray<I2bdim2, 1> prbindex{};    // per family allele count, tables built on first use
  // Genotype numbers of the allele pairs of k alleles, one k x k table per k from position
  // fsgtypeidloc(k) + 1; element 1 of both holds the total size of the tables.
  FArray<int4, 1> fsgtypeidloc{};
  FArray<int4, 1> fsgtypeid{};
};

constinit inline Likelihoodvar likelihoodvar{};

}  // namespace kinrad
