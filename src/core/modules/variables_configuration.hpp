#pragma once
// Part of the module `variables`: derived tables and run state set up once per analysis, the
// archive of configurations and the cluster lists of the current configuration.

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct VariablesConfiguration {
  // Derived tables and run state set up once per analysis, before the data are prepared.
  FStatic<FString<8>, 1, 2> date2{};   // CCYYMMDD; element 2 is this process's start
  FStatic<FString<10>, 1, 2> time2{};  // hhmmss.sss
  real8 bigdblelog = 0.0;              // ln(1e290)
  real8 prec1 = 0.0;                   // precision thresholds of the likelihood engine
  real8 prec2 = 0.0;
  real8 prec3 = 0.0;
  FStatic<FString<1>, 1, 2> sexid{};  // "*" for fathers of a dioecious species, else "#"
  int4 numfsgenotypeub = 0;
  int4 unknowngen = 0;        // 1 when some offspring is also a candidate
  int4 numallelemax = 0;      // most distinct alleles a full-sib family can show
  int4 numhomozygotemax = 0;  // most distinct homozygotes a full-sib family can show
  int4 chkidx1 = 0;
  int4 chkidx2 = 0;
  FStatic<int4, 1, 2> meannumcandidate{};  // per sex: mean admissible candidates, rounded up
  FStatic<int4, 1, 2> sibshipdone{};       // per sex: every offspring has a known parent
  FArray<real8, 2> logprior{};             // (1:2, sex): ln p and ln(1 - p) of a sampled parent
  FStatic<int4, 1, 2> numcndinothersex{};
  FStatic<int4, 1, 2> numcndinoffspring{};
  FStatic<int4, 1, 2> anyprntconflictq{};
  // The archive of configurations; empty until the search stores one.
  Config* configptr = nullptr;
  Config* configptr1 = nullptr;
  Config* configptr2 = nullptr;
  Config* confighead = nullptr;
  Config* configtail = nullptr;
  FArray<real8, 1> factorial{};  // (0:N): ln k!
  FArray<real8, 1> logk{};       // (1:N): ln k
  FArray<int4, 1> locusorder{};
  FArray<int4, 1> number1tgt{};  // 1..smplsize
  FStatic<I4bdim1, 1, 2> indivordertgt{};
  FArray<int2, 1> indivclusteridx{};  // (0:smplsize+100): -1 marks a cluster list not in use
  FArray<int2, 1> indivclusterindex{};
  FArray<int4, 2> sibshipsizedist{};  // (0:(3 - numsex) smplsize, numsex)
  // Memo of per-offspring log likelihoods; 1.0 marks a value not yet computed.
  FArray<real8, 1> inbindivlogl{};
  FArray<real8, 1> inbindivloglself{};
  FArray<int4, 1> nchdflag{};
  // Scratch flags aimed at falsetgt or truetgt; all false between uses.
  FArray<Elementlogical, 1> selectedindivq{};
  bool falsetgt = false;
  bool truetgt = true;
  FArray<int4, 1> kdxtgt{};
  FArray<int4, 1> ldxtgt{};
  // Individuals listed twice, matched by identifier; 0 where no match.
  FArray<int4, 2> cndinothersex{};   // (candidate, sex): the same individual in the other sex
  FArray<int4, 2> offspringincnd{};  // (offspring, sex): the offspring as a candidate
  FArray<int4, 2> cndinoffspring{};  // (candidate, sex): the candidate as an offspring
  // (offspring, sex): offspring whose known parent conflicts with an exclusion. The count of
  // row i is offspring i's; its list is the one of row prntconflictid(i, sex), so that equal
  // lists are held once.
  FArray<Excludedlist, 2> prntconflict{};
  FArray<int2, 2> prntconflictid{};
  // Full-sib tables of error-free dominant loci, selected by class 1 to 3: views into
  // fsprobdomnoerrtgt.
  FArray<Dpdim2, 1> fsprobdomnoerr{};
  FArray<real8, 1> fsprobdomnoerrtgt{};
  FArray<int4, 2> offtgt{};
  FArray<int4, 2> btindivloc{};
  FArray<int4, 2> prnttgt{};
  FArray<int4, 2> inferparent{};
  FArray<int4, 2> inferparent2{};
  FArray<int4, 2> setknownsibindiv{};  // (0:smplsize, sex)
  FArray<int4, 1> parentchd{};
  FArray<int2, 1> familymemtgt{};
  FArray<int2, 1> familymembertgt{};
  FArray<int1, 1> selectedfamily{};
  FArray<int4, 1> fsprobloc{};
  FArray<int2, 2> numfsgenotype{};
  FArray<int2, 1> hsfamilysize{};
  FArray<real8, 1> scale2{};  // (0:)
  // Member lists of the clusters of the current configuration.
  FArray<I2bdim1, 1> indivcluster{};
  FArray<I2bdim1, 1> indivcluster1{};
  FArray<I2bdim1, 1> indivcluster2{};
  FArray<I2bdim1, 1> indivclustern{};
  FArray<I2bdim1, 1> indivclusterm{};
  FArray<I2bdim1, 1> indivclusterj{};
  FArray<I2bdim2, 1> indivclusterf{};
  FArray<real8, 1> indivlogl{};
  FArray<real8, 1> crfamilylogl{};
  FArray<real8, 1> indivloglself{};
  // Offspring that are also candidates: their parent-offspring assignments.
  FArray<int4, 2> poassign{};   // (2, smplsize)
  FArray<int4, 1> npoassign{};  // (0:smplsize)
  FArray<int4, 1> ipoassign{};
  FView<int4, 1> clusterid{};  // column 3 of crindivloc
  // Per offspring the sum of its full-sib pair values for the pairwise score; freed whenever the
  // full-sib table changes, so that it is rebuilt from the new values.
  FArray<real8, 1> prbpairsum{};
};

}  // namespace kinrad
