#pragma once
// The module `variables`: run parameters and options, the sample, per-locus data, file names,
// the error lines, the process identity and the screen flags. One global instance; every use
// names the module (variables.smplsize). Members are added as the phases that set them are
// built; the defaults below are the program's start-up values.
#include <string>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct Variables {
  // Process identity: this program always runs as process 0 of 1.
  int4 threadid = 0;
  int4 numthreads = 1;
  // 1 when the work of one likelihood evaluation is split over processes; never with one.
  int4 parallelq = 0;

  // Error lines of the error stop; blank at start.
  FStatic<FString<999>, 1, 5> errmsg{};
  // Output stem, filled by the input reader; empty until then.
  std::string fname{};

  // Command-line options and their defaults.
  FString<500> inputfilename{"kinrad2.dat"};
  FString<500> outputfilename{};
  int4 displayq = 1;  // this process writes to the screen
  int4 screenq = 1;
  int4 showq = 1;                // progress display on
  FString<5> lineform{"(A,$)"};  // edit format of progress writes
  int4 igui = 0;
  int4 runcutshortq = 0;
  int4 chkconfig = 0;
  int4 newseed = 0;
  int4 restart = 1;
  int4 checkmode = 0;
  int4 iarchive = 1;
  int4 errestimate = 1;
  int4 allelefreest = 1;
  int4 showversion = 1;
  int4 systemrun = 0;
  int4 simuq = 0;
  int4 compfsprob = 1;
  int4 compdyadprob = 1;

  // Sample and run parameters.
  int4 smplsize = 0;
  int4 numloci = 0;
  int4 numrun = 0;
  int4 krun = 0;
  int4 updateallelefre = 0;  // 2: allele frequencies updated in rounds
  // Offspring numbers 1..smplsize as left-adjusted text, for itoc.
  FArray<FString<5>, 1> stroffidx{};
  // Loci with exactly two observed alleles; element 0 holds their count.
  FArray<int4, 1> locus2{};

  // Checkpoint names; element 5 is the pairwise-step marker.
  FStatic<FString<999>, 1, 5> midfilename{};

  // Best log likelihood over all runs and of the current run (-1e300: none yet).
  real8 bestlogl = -1e300;
  real8 btloglikelihood = -1e300;

  // Run parameters of the project input file.
  FString<500> datasetname{};
  int4 i_seed = 0;
  int4 numsex = 0;  // 2 dioecious, 1 monoecious
  int4 allowinbreeding = 0;
  real8 inbreeding = 0.0;
  int4 haplodiploid = 0;
  FStatic<int4, 1, 2> ploidy{};      // per sex
  FStatic<int4, 1, 2> maxmatings{};  // per sex; unconstrained is stored as smplsize
  int4 allowclone = 0;
  int4 fsscaleq = 0;
  int4 priortype = 0;
  FStatic<real8, 1, 2> ewenmeannumprnt{};  // 1e99 when no prior
  int4 popallelefreknownq = 0;
  FArray<int4, 1> popnumallele{};   // per locus
  FArray<int4, 2> popallele{};      // allele position x locus
  FArray<real8, 2> popallelefre{};  // allele position x locus
  int4 lengthrun = 0;
  int4 monitormethod = 0;
  int4 monitorinterval = 0;
  int4 fulllikelihoodmethodq = 0;
  int4 quicksearchq = 0;
  int4 likelihoodprecision = 0;
  // A carriage return and blanks: writing its first characters ends a progress line.
  FString<64> blkln{};

  // Genotype numbering of the packed store, set by data preparation: genotypeid2(a1, a2) is
  // the number of an allele pair (0 missing, homozygotes first, then heterozygotes), with
  // bounds (0:maxobsnumallele, 0:maxobsnumallele); a 2-bit code equal to l23g(1) reads back
  // as l23g(2).
  FArray<int2, 2> genotypeid2{};
  FStatic<int2, 1, 2> l23g{};

  // Random-number states and the offspring identifiers of the utilities.
  // The search stream: seed (negative until the stream is started), second generator, shuffle
  // table and last shuffle output. All four go into the checkpoints, so that a resumed search
  // continues the same sequence.
  int4 idum3 = -12345;
  int4 idum2 = 123456789;
  FStatic<int4, 1, 32> idumiv{};
  int4 idumiy = 0;
  // Seed of the simulation stream; a value at or below 0 restarts it on the next draw.
  int4 idum = -12345;
  // Offspring identifiers in input order, left-adjusted (1..smplsize).
  FArray<FString<20>, 1> offspringid{};
  // Markers, genotypes and candidates of the project input file.
  FArray<FString<20>, 1> markerid{};  // per locus, right-adjusted
  FArray<int1, 1> dominantmarker{};   // per locus: 1 dominant, 0 codominant
  FArray<real8, 1> droprate{};        // per locus: allelic dropout rate
  FArray<real8, 1> othererrorrate{};  // per locus: rate of other typing errors
  // Distinct allele labels per locus in order of first appearance: label k is allele number k.
  FArray<int1, 1> rawallelenum{};
  FArray<I4bdim1, 1> rawalleleid{};
  FArray<int1, 1> offploid{};              // per offspring: 1 haploid, 2 diploid
  FStatic<int4, 1, 2> smplsizedh{};        // numbers of haploid and of diploid offspring
  FArray<int1, 3> indivgtype{};            // (2, locus, offspring) allele numbers, 0 missing
  FStatic<real8, 1, 2> propprntsampled{};  // chance that the father / mother is a candidate
  FStatic<int4, 1, 2> numcandidate{};
  int4 allcandidate = 0;
  FArray<FString<20>, 2> cndparentid{};  // (0:largest count, sex); entry 0 is "0"
  // (2, locus, candidate): fathers first, mother j in column numcandidate(1) + j.
  FArray<int1, 3> cndgtype{};
  FArray<int4, 2> crindivloc{};  // (offspring, 3); column 2 orders the offspring identifiers
  FStatic<int4, 1, 2> monogamy{};
  int4 allmonogamy = 0;
  int4 anymonogamy = 0;
  // Known and excluded relationships.
  FArray<int4, 2> indivparent{};   // (offspring, sex): known parent's candidate number, -1 none
  FArray<int4, 2> knownsibship{};  // (offspring, sex): known sibship number, 0 none
  FArray<Excludedlist, 2> excludedparent{};  // (offspring, sex); unallocated when none
  FStatic<int4, 1, 2> anyexcludedparentq{};
  // (offspring, sex): bit b of word w set in the set of offspring j when offspring 32w + b + 1
  // must not share that sibship with j; only lower-numbered offspring are held.
  FArray<I4bdim1, 2> excludedsib{};
  FArray<int1, 1> excludedsibshipq{};  // per offspring: named on an excluded-sibship line
  FStatic<int4, 1, 2> anyexcludedsibshipq{};
  // Scratch marks over candidate numbers (0 to the larger count), all 0 between uses.
  FArray<int1, 1> selectedprntq{};

  // Genotype model: alleles and frequencies, observation tables, packed columns and the
  // single-individual and two-allele genotype tables.
  FArray<int4, 1> obsnumallele{};  // per locus: number of alleles after recoding
  int4 maxobsnumallele = 0;
  int4 maxnumgenotype = 0;  // m(m + 1)/2, m = maxobsnumallele
  // (2, 0:maxnumgenotype): the allele pair of each genotype number.
  FArray<int1, 2> genotypeid{};
  // Per locus a window of max(obsnumallele, 2) current frequencies into obsallelefretgt.
  FArray<Dpdim1, 1> obsallelefre{};
  FArray<real8, 1> obsallelefretgt{};
  FArray<int1, 1> locuserror{};  // per locus: 0 error-free, 1 with typing errors
  FArray<int4, 1> locus2loc{};   // per locus: position in locus2, 0 when absent
  // Per locus a view of its observation table (7 sharing classes, or 3 values at a dominant
  // locus) into transratetgt; loci of one observation block may share storage.
  FArray<Dpdim1, 1> transrate{};
  FArray<real8, 1> transratetgt{};
  // (2, locus): a haploid observed with its own allele, and with one given other allele.
  FArray<real8, 2> transratehaploid{};
  // Packed genotype columns per locus: views into indivgtype2tgt (offspring) and cndgtype2tgt
  // (candidates, sex 2 after sex 1).
  FArray<I2bdim1, 1> indivgtype2{};
  FArray<I2bdim1, 1> cndgtype2{};
  FArray<int2, 1> indivgtype2tgt{};
  FArray<int2, 1> cndgtype2tgt{};
  FArray<real8, 2> candidatelogl{};   // (candidate, sex): single-individual log likelihood
  FStatic<real8, 1, 2> sumcndlogl{};  // per sex: the sum of candidatelogl
  // (3, two-allele position): probability of each diploid observation (allele of a homozygote,
  // 3 the heterozygote) of a random individual; 1.0 marks an entry not yet computed.
  FArray<real8, 2> locus2logl{};
  // (rows, 0:m): genotype-class and joint true/observed probabilities of the two-allele loci,
  // column c for position l2lb(1) + c; l2lb(2) is the row offset of the haploid rows.
  FArray<real8, 2> locus2gtypefre{};
  FStatic<int4, 1, 2> l2lb{};
  FArray<int4, 2> btinferparent{};  // (offspring, sex): best configuration's parent, 0 none
  // (4, two-allele position): the first and second allele frequency, the inbreeding
  // coefficient and the observation-table version the position's locus2logl entries were
  // computed with; version 0 marks a position with nothing recorded.
  FArray<real8, 2> locus2logl_key{};

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

  // Change detection: the comparison of the data with the copy kept under the stem, made once
  // per analysis (-2: not made yet; else -1 no copy, 0 different, 1 the same).
  int4 data_copy_status = -2;

  // Data preparation: allele labels, starting frequencies and the genotype index.
  // Per locus the raw label of each allele number, bounds (-1:k): element -1 is -1, 0 is 0.
  FArray<I4bdim1, 1> rawallele{};
  FArray<real8, 2> obsallelefre0{};  // (allele, locus): starting frequencies before correction
  FArray<int4, 1> idxgtype{};        // per genotype number: itself, or 1 in a haplodiploid species
  int4 numloci0 = 0;                 // loci at which no allele was seen

  // Per-analysis set-up of the loci: locus lists (element 0 holds the count), locus flags, the
  // sibship-size prior constants and the known-relationship tables.
  real8 scale2const = 0.0;  // input of the family-size scale table scale2
  int4 converseq = 0;       // 1: two sexes, neither monogamous
  int4 numestgenotype = 0;  // alternative genotypes written per locus for inferred genotypes
  // Error-free codominant loci grouped by allele number (1, 2, then 3 or more); the group
  // bounds are (0) loci without alleles, (1) end of the 1-allele group, (2) end of the 2-allele
  // group, (3) the count.
  FArray<int4, 1> locuscodomnoerror{};  // (0:n)
  FStatic<int4, 0, 3> locuscodomnoerrorloc{};
  FArray<int4, 1> locusdomnoerror{};  // (0:m) error-free dominant loci
  int4 genotypecheckq = 0;
  int4 anymarkererrorfreeq = 0;
  FArray<int4, 1> domlocusidx{};  // first numdommarkers(1) entries: dominant 2-allele loci
  FStatic<int4, 1, 1> numdommarkers{};
  int4 alldommarkers = 0;
  int4 allcodommarkers = 0;
  FArray<int4, 1> locus3{};     // (0:N3) loci of more than two alleles
  FArray<int4, 1> locus3loc{};  // per locus: position in locus3, 0 when absent
  FArray<int4, 1> locus1{};     // (0:max(N1, 1)) loci of fewer than two alleles
  int4 numloci23 = 0;           // loci of at least two alleles
  // Positions in locus2: first and last dominant, first and last codominant locus.
  FStatic<int4, 1, 4> snploc{};
  FArray<int4, 1> codominantloci{};  // (0:numloci) observation block of each locus; 0: count
  FArray<int4, 1> dominantloci{};    // (0:numloci)
  FArray<int4, 1> locusdom{};        // (0:nd) dominant loci of exactly two alleles
  // Shares of the locus lists worked by this process.
  FStatic<int4, 1, 4> l1thread{};
  FStatic<int4, 1, 2> l2thread{};
  FStatic<int4, 1, 2> l3thread{};
  FArray<int2, 1> indexgtype{};   // (0:max(maxnumgenotype, 6) + 1)
  FArray<int1, 1> indexallele{};  // (0:maxobsnumallele)
  FArray<int4, 1> genotypenum{};  // genotypenum(k) = k(k + 1)/2
  // Per locus: false when the offspring show more genotypes than full sibs can have; only
  // allocated when some locus fails.
  FArray<bool, 1> passlocusq{};
  FArray<int1, 1> offmissdata{};  // per locus: 1 when some offspring is untyped
  int4 alloffmissdata = 0;        // 1 all loci, -1 none, 0 some have untyped offspring
  FArray<int1, 2> knownprntq{};   // (candidate, sex): 1 when a known parent of some offspring
  // (1:2) distinct known parents per sex, (3:4) offspring with a known parent per sex.
  FStatic<int4, 1, 4> numknownprnt{};
  FStatic<int4, 1, 2> anyknownprntq{};
  FStatic<int4, 1, 2> anyknownsibshipq{};
  int4 pairwiseoptionq = 0;
  FArray<int4, 2> knownsibshipsize{};  // (offspring, sex): members of its known sibship
  // Sibship-size prior: (1, s) ln p and (2, s) ln(1 - p) that the parent of sex s is sampled,
  // the weight of sampled-parent terms, the Ewens strength, ln theta and the normalising
  // constant per sex.
  FArray<real8, 2> prntlogprb{};  // (2, 2)
  FStatic<real8, 1, 2> prntweight{};
  FStatic<real8, 1, 2> ewenpriorfac{};
  FStatic<real8, 1, 2> logewentheta{};
  FStatic<real8, 1, 2> logewenconst{};
  FArray<int2, 3> sibsize{};  // (2, (3 - numsex) smplsize, numsex), filled by the prior
  int4 numchild = 0;          // the sex whose theta is being fitted

  // Per-block probability tables. Block tables are indexed by a locus's block number
  // (codominantloci(l) or dominantloci(l)), never by the locus number.
  // (2, max(B, 1)): ln of the largest entry of the homozygote (1) and heterozygote (2) tables.
  FArray<real8, 2> fsprobconst1{};
  FArray<int4, 1> dadmumoffprbloc{};  // (B): offset of each block's entries in dadmumoffprb
  // Per block the homozygote part, then the heterozygote part, as 100 x ln of normalised
  // values; -1e38 in single precision where the value is at most 1e-300.
  FArray<real8, 1> dadmumoffprb{};
  // Class tables (father, mother, slab, block): slab 1 one offspring, slabs 2..5 caches for
  // 2..5 offspring of one observed genotype, -1.0 in their first element until filled.
  FArray<real8, 4> probgtypehom2{};
  FArray<real8, 4> probgtypehom3{};
  FArray<real8, 4> probgtypehet2{};
  FArray<real8, 4> probgtypehet3{};
  // Log tables of loci of more than 8 alleles: (a, a', mother genotype, block).
  FArray<real8, 4> probgivengtypehom{};
  FArray<real8, 4> probgivengtypehet{};
  // Parent-offspring categories per allele number and offspring genotype: category of each
  // parental pair (views into dadmumoffprbtgt) and the bit sets of the worst and the two worst
  // categories.
  FArray<I1bdim1, 1> dadmumoffprbidx{};
  FArray<int1, 1> dadmumoffprbtgt{};
  FArray<I4bdim1, 1> dadmumoffprbjdx{};
  FArray<I4bdim1, 1> dadmumoffprbkdx{};
  // Dominant blocks: (pair, band count 0:20, no-band count 0:20, block), its ln constant and
  // the logs of the one-offspring columns (pair, phenotype, block).
  FArray<real8, 4> domprobgivengtype{};
  FArray<real8, 3> domprobgivengtypeconst{};
  FArray<real8, 3> domprobgivengtypelog{};
  // Compatibility masks of the error-free full-sib tables (bit 16 - c marks genotype c).
  FArray<int2, 1> equirowsave{};
  FArray<int2, 1> equirowsave1{};
  FArray<int2, 1> equicolsave{};
  FArray<int2, 1> equirowsavedom{};
  FArray<int2, 1> equicolsavedom{};
  // Exponent weight of scale2 from the error rates of the two-allele loci; computed on the
  // first scaled use and then kept (negative: not computed yet).
  real8 scale2_weight = -1.0;
  FArray<real8, 1> scaleloc{};  // (locus3 position): family likelihood scale factor
  // Observation tables of the error-prone loci of more than two alleles of the last range:
  // running number of each locus (0 none), P(seen 1/1 | 0, 1, 2 copies) and P(seen 1/2 | class).
  FArray<int4, 1> markererror3{};
  FArray<real8, 2> prbgtophom{};  // (0:2, n)
  FArray<real8, 2> prbgtophet{};  // (0:3, n)
  // Selfing tables per table position (codominant blocks, then dominant blocks): 7 normalised
  // rows and 2 ln constants, as views into their stores; the last block of each store is spare.
  FArray<Dpdim1, 1> prbgtopself{};
  FArray<Dpdim1, 1> prbgtopselfconst{};
  FArray<real8, 1> prbgtopselftgt{};
  FArray<real8, 1> prbgtopselfconsttgt{};
  // Observation tables of loci given storage of their own when their block's tables are
  // rebuilt for them alone (7 values per locus).
  FArray<real8, 1> transrate_own_tgt{};
};

KINRAD_CONSTINIT inline Variables variables{};

}  // namespace kinrad
