#pragma once
// Part of the module `variables`: the genotype model (frequencies, observation tables, packed
// columns, locus lists, the sibship-size prior and the per-block probability tables).
#include <cstdint>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct VariablesModel {
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
  // Counts the changes of the transrate windows, so that work built from the observation
  // tables can tell whether they are still the ones it was built from; 0 before the first.
  std::uint64_t transrate_version = 0;
  // (2, locus): a haploid observed with its own allele, and with one given other allele.
  FArray<real8, 2> transratehaploid{};
  // Packed genotype columns per locus: views into indivgtype2tgt (offspring) and cndgtype2tgt
  // (candidates, sex 2 after sex 1).
  FArray<I2bdim1, 1> indivgtype2{};
  FArray<I2bdim1, 1> cndgtype2{};
  FArray<int2, 1> indivgtype2tgt{};
  FArray<int2, 1> cndgtype2tgt{};
  // (locus, sex): genotype code of the simulated candidate of each sex that the family engine
  // reads in place of the packed candidate columns; allocated only while the parentage
  // simulation scores trios.
  FArray<int2, 2> cndgtype3{};
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
  // Work of the single-individual likelihoods: the log probability per genotype number
  // (diploid) and per allele (haploid) at the current locus.
  std::vector<real8> single_memo2{};
  std::vector<real8> single_memo1{};
  // Per candidate: 1 while the best configuration uses it as a parent (frequency update).
  std::vector<int1> parent_marks{};

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
  // The sex whose theta the prior set-up fits; later the diploid offspring of the family in
  // hand (preparevariable).
  int4 numchild = 0;

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

  // Dyad log-likelihood tables of the offspring and candidates: natural logs in single
  // precision, -1e38f (-9.9999997e37) for an impossible or excluded pair. Read them through
  // the accessors of the pairwise face header, which answer as full n x n tables
  // would. Sib tables are packed strict triangles of n(n - 1)/2 entries: full sibs, maternal
  // half sibs and self-self sibs in rows of the larger offspring (row i holds partners
  // 1..i-1), half sibs in rows of the smaller (row i holds partners i+1..n), so that every
  // cache record is one contiguous slice.
  FArray<real4, 1> prbfstri{};
  FArray<real4, 1> prbhstri{};
  FArray<real4, 1> prbmhsibtri{};
  FArray<real4, 1> prbsstri{};
  // (n, n): entry (j, i) is the log likelihood that j is the selfed and i the outbred sib.
  FArray<real4, 2> prbselfoutpair{};
  // (numcandidate(1) + numcandidate(2), n): column i holds offspring i's parent-offspring
  // values, sex-1 candidates first (for one parent pool: rows of sex 2 hold the values of
  // parent and selfed offspring).
  FArray<real4, 2> prbpopairtgt{};
  // The symmetric half-sib table is in use (the pairwise score reads it).
  int4 prbhspairq = 0;
  // What the lower triangle of the full-sib table answers: 1 full sibs (symmetric), 2 half
  // sibs (the full likelihood alone reads both from one table).
  int4 prbfspairlower = 1;
  // Bytes the dyad tables may take; 0 means the machine's physical memory.
  int8 dyadtablememorylimit = 0;
  // The set-up took its allele frequencies from a checkpoint of an earlier run, so the dyad
  // caches (computed from the input's frequencies) do not describe them.
  int4 checkpointfrequencyq = 0;
};

}  // namespace kinrad
