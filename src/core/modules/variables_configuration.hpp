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
  // CCYYMMDD and hhmmss.sss: (1) the start of the analysis, (2) this process's start, (3) the
  // last monitor step of the search.
  FStatic<FString<8>, 1, 3> date2{};
  FStatic<FString<10>, 1, 3> time2{};
  real8 bigdblelog = 0.0;  // ln(1e290)
  real8 prec1 = 0.0;       // precision thresholds of the likelihood engine
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
  // The archive of configurations; empty until the search stores one. The list from confighead
  // to configtail owns its nodes; configptr (the node newconfig made), crrtconfig (the node
  // convertconfig decodes) and deleteconfig (the node deallocateconfig frees) only point.
  Config* configptr = nullptr;
  Config* crrtconfig = nullptr;
  Config* deleteconfig = nullptr;
  Config* configptr1 = nullptr;
  Config* configptr2 = nullptr;
  Config* confighead = nullptr;
  Config* configtail = nullptr;
  FArray<real8, 1> factorial{};  // (0:N): ln k!
  FArray<real8, 1> logk{};       // (1:N): ln k
  FArray<int4, 1> locusorder{};
  FArray<int4, 1> number1tgt{};  // 1..smplsize
  // The order in which the family builders visit offspring: aimed at number1tgt (the identity
  // order) unless a move aims it elsewhere.
  FView<int4, 1> indivorder{};
  // Floor of the archive of configurations: records below it are dropped (the search sets it
  // to the best log likelihood minus 10; no floor before that).
  real8 minloglikelihood = -1e300;
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
  // Member lists of the clusters of the current configuration, one owned list per slot
  // (1..crnumfamily(3)); a registration allocates a slot's lists, a removal frees them.
  //   indivcluster(c)   the offspring of the cluster, in the order of the rows it was built from
  //   indivcluster1(c)  the first member of each full-sib family; the order is the family's
  //                     local index within the cluster
  //   indivcluster2(c)  every other member, in row order
  //   indivclustern(c)  (P + 1) offsets into indivclusterm(c), one per local parent: sex-1
  //                     parents 1..p1, then sex-2 parents at p1 + 1..p1 + p2; entry 1 is 0
  //   indivclusterm(c)  per local parent the local indices of its full-sib families, ascending
  //   indivclusterf(c)  (families, 2): the local sex-1 and sex-2 parent of each family
  //   indivclusterj(c)  one parent pool only: for a parent in both roles, entry k (role-1
  //                     index k) holds its role-2 index and entry p1 + j the reverse; else 0
  FArray<FArray<int2, 1>, 1> indivcluster{};
  FArray<FArray<int2, 1>, 1> indivcluster1{};
  FArray<FArray<int2, 1>, 1> indivcluster2{};
  FArray<FArray<int4, 1>, 1> indivclustern{};
  FArray<FArray<int4, 1>, 1> indivclusterm{};
  FArray<FArray<int2, 1>, 1> indivclusterj{};
  FArray<FArray<int2, 2>, 1> indivclusterf{};
  FArray<real8, 1> indivlogl{};
  FArray<real8, 1> crfamilylogl{};
  FArray<real8, 1> indivloglself{};
  // Offspring that are also candidates: their parent-offspring assignments.
  FArray<int4, 2> poassign{};   // (2, smplsize)
  FArray<int4, 1> npoassign{};  // (0:smplsize)
  FArray<int4, 1> ipoassign{};
  FView<int4, 1> clusterid{};  // column 3 of crindivloc

  // The configuration in hand. crindivloc (sample part) holds per offspring its paternal
  // family id, maternal family id and cluster id; inferparent its assigned candidates.
  FStatic<int4, 1, 3> crnumfamily{};  // paternal families, maternal families, clusters
  real8 crloglikelihood = -1e300;     // score of the current configuration
  // The best configuration of the run, beside btindivloc, btinferparent and btloglikelihood.
  FStatic<int4, 1, 3> btnumfamily{};
  FStatic<int4, 1, 4> btnumassign{};
  real8 btconfigprior = 0.0;
  // References that callers aim before calling a routine that reads a configuration: at the
  // current one, at the best copy, at the decode targets offtgt/prnttgt, or at rows of a move
  // table (column 4 then holds the offspring number). loglikelihoodprt points at its score.
  FView<int4, 2> indivlocprt{};
  FView<int4, 2> inferparentprt{};
  real8* loglikelihoodprt = nullptr;
  // Search state carried from run to run and saved in the checkpoints (the cooling factor
  // `rate` lives in annealvariables): processor minutes spent: (1) by all calls of the search
  // so far, (2) by the call in progress.
  FStatic<real8, 1, 2> timespent{};
  // Family structure of the family to be scored, built by the configuration model or by a
  // trial frame (setfamilystruc). familystructure_index(p1, p2) is the number of the member
  // list of the pair in familymember (0: the pair has no list); the lists are views into
  // familymemtgt. One index per cell keeps clusters of thousands of parents small.
  FStatic<int4, 1, 2> nparent{};
  FArray<int2, 2> nchild{};  // (nparent(1), nparent(2)) offspring of each pair
  FArray<int4, 2> familystructure_index{};
  FArray<I2bdim1, 1> familymember{};
  int4 familymember_count = 0;    // lists in use in familymember
  index_t familymemtgt_used = 0;  // entries of familymemtgt in use
  int2 numberfsfamily = 0;
  FStatic<int4, 1, 2> maxnumpartner{};
  FArray<int4, 2> parentjdx{};  // (max nparent, 2) the same individual in the other role

  // Family work state, written by preparevariable (one family at a time: the last prepared).
  int4 nallparent = 0;
  int4 maxnumparent = 0;
  int4 numfsibship = 0;
  FStatic<int4, 1, 2> npstartloc1{};  // (0, nparent(1))
  FStatic<int4, 1, 2> npstartloc2{};
  FStatic<int4, 1, 2> nsibstartloc{};  // (0, numfsibship)
  int4 numchildh = 0;                  // haploid offspring of the family
  int4 maxfsibsize = 0;                // largest full-sib family (diploid members)
  int4 maxfsibsizeh = 0;               // largest haploid count of one sex-2 parent
  FStatic<int4, 1, 3> anyknownprtq{};  // (1) either sex, (2) sex 1, (3) sex 2 known or assigned
  int4 allprntgtypemissingq = 0;
  int4 genotypefreshortcut = 0;
  int4 firstdomlocusidx = 0;            // two-allele progress of the family (0 nothing done .. 4)
  int4 firstsnplocusidx = 0;            // (0 .. 3)
  FArray<int1, 2> prntgtype{};          // (2, nallparent) per-locus set-up: observed genotype
  FArray<int2, 1> familyindivloc{};     // (0:numfsibship) preparevariable: family ends
  FArray<int2, 1> familyindivh{};       // (numchildh) preparevariable: haploid offspring
  FArray<int2, 1> familyindivloch{};    // (0:nparent(2)) preparevariable: their ends by mother
  FArray<real8, 2> numgtypeh{};         // (m, nparent(2)) per-locus set-up: haploid counts
  FArray<int1, 2> hapgtype{};           // (0:m, nparent(2)) per-locus set-up: haploid alleles
  FArray<int4, 1> numfsgtype{};         // per-locus set-up: genotype counts of each family
  FArray<int1, 2> fsgtype{};            // (2, g) per-locus set-up: distinct genotypes
  FArray<real8, 1> numfsgtypescaled{};  // per-locus set-up: counts after size scaling
  FArray<int2, 2> equirowcol{};         // (numfsibship, haplodiploid + 1)
  FArray<real8, 1> power2{};            // (0:n) preparevariable: 0.5 ** scale2(k)
  FArray<real8, 1> power3{};            // (0:maxfsibsize) preparevariable: 0.75 ** scale2(k)
  int4 crrtmarkerdomq = 0;
  int4 crrtmarkercodomq = 0;
  int4 purefsshortcut = 0;
  FStatic<int4, 1, 3> numparent{};
  int4 numlayer0 = 0;
  FArray<int4, 2> parentidx{};
  // Unpacked offspring codes at the two-allele loci, (offspring, l2thread(1):l2thread(2)),
  // written by setgtype2: 0 missing, 1 and 2 the homozygotes, 3 the heterozygote. Readers fall
  // back to the packed columns when it is not allocated or a position lies outside its columns.
  FArray<int1, 2> indivgtype1{};
  // Per offspring the sum of its full-sib pair values for the pairwise score; freed whenever the
  // full-sib table changes, so that it is rebuilt from the new values.
  FArray<real8, 1> prbpairsum{};
};

}  // namespace kinrad
