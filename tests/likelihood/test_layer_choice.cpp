// The choices the layer stage makes before it conditions anything: the sex scanned first
// (findabsorbsex), the genotypes no family with some one mate allows (trimgenotypes) and the
// genotype-set reduction (reducengenotype). Each case is a hand-built graph in the layer stage's
// state 0; expected values follow from the rules by hand.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/layer/layer_internal.hpp"
#include "support/module_reset.hpp"

namespace kinrad {
namespace {

struct HandFamily {
  int father;  // within the fathers, from 1
  int mother;  // within the mothers, from 1
  std::vector<int> offspring;
};

// Lays the graph out as the layer stage's state 0: every parent in the graph, each family in
// both parents' lists, one genotype block of ng weights 1 per parent.
void lay_out(int nf, int nm, const std::vector<HandFamily>& fams, int ng = 3) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int np = nf + nm;
  const int nfs = static_cast<int>(fams.size());
  v.nparent(1) = nf;
  v.nparent(2) = nm;
  v.npstartloc1(1) = 0;
  v.npstartloc1(2) = nf;
  lv.layercore.allocate(Dim(0, np));
  lv.layernummate.allocate(Dim(1, np), Dim(0, 1));
  lv.layermate.allocate({Dim(1, std::max(nfs, 1)), Dim(1, std::max(np, 1)), Dim(0, 1)});
  lv.layerwloc.allocate(Dim(1, np));
  lv.layerweight.allocate(Dim(1, np * ng), Dim(0, 1));
  lv.hsprobdim.allocate(Dim(1, np));
  lv.clusterfamily.allocate(Dim(2), Dim(std::max(nfs, 1)));
  v.familyindivloc.allocate(Dim(0, nfs));
  int total = 0;
  for (const HandFamily& f : fams) total += static_cast<int>(f.offspring.size());
  lv.familyindiv.allocate(Dim(std::max(total, 1)));
  int n = 0;
  for (int p = 1; p <= np; ++p) {
    lv.layernummate(p, 0) = 0;
    lv.layerwloc(p) = (p - 1) * ng;
    lv.hsprobdim(p) = static_cast<int2>(ng);
    for (int g = 1; g <= ng; ++g) lv.layerweight((p - 1) * ng + g, 0) = 1.0;
  }
  v.familyindivloc(0) = 0;
  for (int f = 1; f <= nfs; ++f) {
    const HandFamily& h = fams[static_cast<size_t>(f - 1)];
    lv.clusterfamily(1, f) = h.father;
    lv.clusterfamily(2, f) = h.mother;
    for (int o : h.offspring) lv.familyindiv(++n) = static_cast<int2>(o);
    v.familyindivloc(f) = static_cast<int2>(n);
    for (int p : {h.father, nf + h.mother}) lv.layermate(++lv.layernummate(p, 0), p, 0) = f;
  }
  int core = 0;
  for (int p = 1; p <= np; ++p)
    if (lv.layernummate(p, 0) > 0) lv.layercore(++core) = p;
  lv.layercore(0) = core;
}

class LayerChoice : public testing_support::ModuleReset {};

TEST_F(LayerChoice, FindAbsorbSexCases) {
  const std::array<int4, 3> F{1, 2, 1}, M{2, 1, -1};
  struct Row {
    const char* what;
    int nf, nm;
    std::vector<HandFamily> fams;
    std::array<int4, 3> expected;
  };
  const Row rows[] = {
      // Only fathers hold families (their mothers are outside the graph): fathers first.
      {"no mothers in the graph", 2, 0, {}, F},
      {"no fathers in the graph", 0, 2, {}, M},
      // Father 1 has three mates, no mother more than two.
      {"larger father count",
       2,
       3,
       {{1, 1, {1}}, {1, 2, {2}}, {1, 3, {3}}, {2, 1, {4}}, {2, 2, {5}}},
       F},
      // Mother 1 has three mates.
      {"larger mother count",
       3,
       2,
       {{1, 1, {1}}, {2, 1, {2}}, {3, 1, {3}}, {1, 2, {4}}, {2, 2, {5}}},
       M},
      // Largest counts 2 and 2; among partners of unequal counts the family of offspring 1 is
      // father 2 (one family) with mother 1 (two): the father has fewer, mothers first.
      {"offspring tie break, fewer father families",
       2,
       2,
       {{2, 1, {1}}, {1, 1, {5}}, {1, 2, {6}}},
       M},
      // Same shape with the smallest offspring in a family of father 1 (two families) and
      // mother 2 (one): fathers first.
      {"offspring tie break, more father families",
       2,
       2,
       {{2, 1, {5}}, {1, 1, {6}}, {1, 2, {1}}},
       F},
      // A 2 x 2 cycle: every partner has two families. The smallest offspring (3) is in the
      // family of father 2 and mother 1: the father's number is larger, fathers first.
      {"identifier tie break, father larger",
       2,
       2,
       {{1, 1, {7}}, {1, 2, {8}}, {2, 1, {3}}, {2, 2, {9}}},
       F},
      // Smallest offspring in father 1 with mother 2: mothers first.
      {"identifier tie break, mother larger",
       2,
       2,
       {{1, 1, {7}}, {1, 2, {3}}, {2, 1, {8}}, {2, 2, {9}}},
       M},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    reset_all_modules();
    std::vector<HandFamily> fams = r.fams;
    if (fams.empty()) {
      // One sex only: its parents are in the graph, linked to mates outside it.
      lay_out(r.nf, r.nm, {});
      Likelihoodvar& lv = likelihoodvar;
      const int np = r.nf + r.nm;
      lv.layercore(0) = np;
      for (int p = 1; p <= np; ++p) {
        lv.layercore(p) = p;
        lv.layernummate(p, 0) = 1;
      }
    } else {
      lay_out(r.nf, r.nm, fams);
    }
    findabsorbsex();
    EXPECT_EQ(likelihoodvar.absorbsex, r.expected);
  }
}

// A 2 x 2 cycle at a two-allele error-free locus; every parent has genotypes 1..3 (11, 12, 22).
// Family 1 (father 1, mother 1) is given a table in which father genotype 3 is impossible with
// every mother genotype; the other families' tables are all ones.
class TrimGenotypes : public LayerChoice {
 protected:
  void SetUp() override {
    LayerChoice::SetUp();
    lay_out(2, 2, {{1, 1, {1}}, {1, 2, {2}}, {2, 1, {3}}, {2, 2, {4}}});
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    lv.crrtmarkertype = 2;
    v.crrtmarkerdomq = 0;
    v.haplodiploid = 0;
    v.fsprobloc.allocate(Dim(4));
    v.numfsgenotype.allocate(Dim(2), Dim(4));
    v.equirowcol.allocate(Dim(4), Dim(1));
    lv.fsprobdim.allocate(Dim(4));
    lv.fsprobidx.allocate(Dim(4));
    lv.fsprob.allocate(Dim(3), Dim(12));
    for (int f = 1; f <= 4; ++f) {
      v.fsprobloc(f) = 3 * (f - 1);
      v.numfsgenotype(1, f) = 1;
      v.numfsgenotype(2, f) = 0;
      v.equirowcol(f, 1) = static_cast<int2>(0xe000);  // classes 1..3
      lv.fsprobdim(f) = 3;
      lv.fsprobidx(f) = 0;
      for (int y = 1; y <= 3; ++y)
        for (int x = 1; x <= 3; ++x) lv.fsprob(x, v.fsprobloc(f) + y) = 1.0;
    }
  }
  real8 weight(int p, int g) const {
    return likelihoodvar.layerweight(likelihoodvar.layerwloc(p) + g, 0);
  }
  void set_row3(real8 a, real8 b, real8 c) {
    likelihoodvar.fsprob(3, 1) = a;
    likelihoodvar.fsprob(3, 2) = b;
    likelihoodvar.fsprob(3, 3) = c;
  }
};

TEST_F(TrimGenotypes, IncompatibleWithOneMateDropped) {
  set_row3(0.0, 1e-301, 0.0);
  int4 ok = -1;
  trimgenotypes(1, ok);
  EXPECT_EQ(ok, 3);              // the last father (2) keeps all three
  EXPECT_EQ(weight(1, 3), 0.0);  // father 1 loses genotype 3 through mother 1 alone
  EXPECT_EQ(weight(1, 1), 1.0);
  EXPECT_EQ(weight(1, 2), 1.0);
  trimgenotypes(2, ok);
  EXPECT_EQ(ok, 3);
  for (int g = 1; g <= 3; ++g) EXPECT_EQ(weight(3, g), 1.0);  // mother 1 keeps everything
}

TEST_F(TrimGenotypes, EntryOfExactly1e300Keeps) {
  set_row3(0.0, 1e-300, 0.0);
  int4 ok = -1;
  trimgenotypes(1, ok);
  EXPECT_EQ(weight(1, 3), 1.0);
}

TEST_F(TrimGenotypes, MateGenotypesOfZeroWeightDoNotCount) {
  // Father 1's genotype 3 fits only mother 1's genotype 2, which has weight 0.
  set_row3(0.0, 1.0, 0.0);
  likelihoodvar.layerweight(likelihoodvar.layerwloc(3) + 2, 0) = 0.0;
  int4 ok = -1;
  trimgenotypes(1, ok);
  EXPECT_EQ(weight(1, 3), 0.0);
}

TEST_F(TrimGenotypes, NoGenotypeLeftGivesZero) {
  // Mother 1 (parent 3) can have no genotype: the family of father 1 rules out every column.
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 3; ++x) likelihoodvar.fsprob(x, y) = 0.0;
  int4 ok = -1;
  trimgenotypes(2, ok);
  EXPECT_EQ(ok, 0);
  for (int g = 1; g <= 3; ++g) EXPECT_EQ(weight(3, g), 0.0);
}

// The reduction on a 2 x 2 cycle whose families say nothing at the locus (no typed offspring):
// each parent's weights are its prior, so only the cut and the caps decide.
class Reduction : public LayerChoice {
 protected:
  void set_up(int ng, int numallele, int err) {
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    lay_out(2, 2, {{1, 1, {1}}, {1, 2, {2}}, {2, 1, {3}}, {2, 2, {4}}}, ng);
    v.nallparent = 4;
    v.numsex = 2;
    v.haplodiploid = 0;
    lv.maxhsprobdim = ng;
    lv.crrtmarkertype = numallele > 2 ? numallele : 2;
    v.crrtmarkerdomq = 0;
    err_ = err;
    numallele_ = numallele;
    lv.hsprobloc.allocate(Dim(5));
    lv.crrtgenotypefre.allocate(Dim(4 * ng));
    lv.allelehsloc.allocate(Dim(5));
    lv.allelehs.allocate(Dim(4));
    v.prntgtype.allocate(Dim(2), Dim(4));
    for (int p = 1; p <= 4; ++p) {
      lv.hsprobloc(p) = (p - 1) * ng;
      lv.allelehsloc(p) = p - 1;
      lv.allelehs(p) = 1;
      v.prntgtype(1, p) = 0;
      v.prntgtype(2, p) = 0;
      for (int g = 1; g <= ng; ++g) prior(p, g) = 1.0 / ng;
    }
    v.numfsgenotype.allocate(Dim(2), Dim(4));
    lv.numallelefs.allocate(Dim(4));
    for (int f = 1; f <= 4; ++f) {
      v.numfsgenotype(1, f) = v.numfsgenotype(2, f) = 0;
      lv.numallelefs(f) = 2;
    }
    v.othererrorrate.allocate(Dim(1));
    v.droprate.allocate(Dim(1));
    v.othererrorrate(1) = 0.01;
    v.droprate(1) = 0.0;
    v.prec1 = 1e-30;
    v.likelihoodprecision = 3;
    v.numparent(1) = 2;
    v.maxfsibsize = 1;
    v.numchildh = 0;
    lv.parentprt.allocate(Dim(0, 4), Dim(2));
    lv.parentprt(0, 1) = lv.parentprt(0, 2) = 2;
    lv.parentprt(1, 1) = 1, lv.parentprt(2, 1) = 2;
    lv.parentprt(1, 2) = 3, lv.parentprt(2, 2) = 4;
  }
  real8& prior(int p, int g) {
    return likelihoodvar.crrtgenotypefre(likelihoodvar.hsprobloc(p) + g);
  }
  real8 run() {
    reduce_clear();
    real8 logl = 0.0;
    reducengenotype(1, err_, numallele_, logl);
    return logl;
  }
  std::vector<int> kept(int p) const {
    std::vector<int> out;
    for (int i = 1; i <= likelihoodvar.selectedpnum(p); ++i)
      out.push_back(likelihoodvar.idxselectedp(i, p));
    return out;
  }
  int err_ = 0;
  int numallele_ = 2;
};

TEST_F(Reduction, EqualWeightsKeepThreeInOrder) {
  set_up(3, 2, 1);
  EXPECT_EQ(run(), 0.0);
  for (int p = 1; p <= 4; ++p) EXPECT_EQ(kept(p), (std::vector<int>{1, 2, 3}));
}

// 21 equal weights at a 6-allele locus: the cut (a millionth of the largest weight at the
// lower precisions, 1e-30 at precision 3) drops nothing, the cap 3 x precision + 10 decides; an
// ordering of equal weights keeps genotype order.
TEST_F(Reduction, CapsByPrecision) {
  for (int prec = 0; prec <= 3; ++prec) {
    SCOPED_TRACE(prec);
    reset_all_modules();
    set_up(21, 6, 1);
    variables.likelihoodprecision = prec;
    EXPECT_EQ(run(), 0.0);
    std::vector<int> want;
    for (int g = 1; g <= 3 * prec + 10; ++g) want.push_back(g);
    EXPECT_EQ(kept(1), want);
    EXPECT_EQ(likelihoodvar.maxselectedp, 3 * prec + 10);
  }
}

// In exact mode (cut 1e-30 of the largest weight) every genotype of positive weight of a parent
// of 19 genotypes is kept, heaviest first; a weight of 0 is not.
TEST_F(Reduction, ExactModeKeepsEveryPositiveWeight) {
  set_up(19, 6, 1);
  for (int g = 1; g <= 19; ++g) prior(1, g) = g == 7 ? 0.0 : std::pow(10.0, -g);
  prior(1, 19) = 0.5;
  EXPECT_EQ(run(), 0.0);
  std::vector<int> want{19};
  for (int g = 1; g <= 18; ++g)
    if (g != 7) want.push_back(g);
  EXPECT_EQ(kept(1), want);
}

// With haploid offspring the mothers' cut is 1e-4 of the fathers': prec1 1e-3 and an other-error
// rate of 0.01 give t = 1e-3 for fathers and 1e-7 for mothers.
TEST_F(Reduction, MothersOfHaploidOffspringKeepMore) {
  set_up(3, 6, 1);
  variables.prec1 = 1e-3;
  variables.numchildh = 1;
  for (int p = 1; p <= 4; ++p) {
    prior(p, 1) = 1.0;
    prior(p, 2) = 1e-5;
    prior(p, 3) = 1e-9;
  }
  EXPECT_EQ(run(), 0.0);
  EXPECT_EQ(kept(1), (std::vector<int>{1}));
  EXPECT_EQ(kept(3), (std::vector<int>{1, 2}));
}

// The relative cut at a dominant locus by precision. prec1 is 0.05, 0.01, 1e-4 and 1e-6 at
// precisions 0 to 3; at precisions 2 and 3 the cut is held between 1e-4 and 1e-3 of the
// parent's heaviest weight, at 0 and 1 it is prec1 itself, and the exact setting (1e-30 at
// precision 3) is not raised. Weights 1, 0.005 and 5e-5: kept by hand from those cuts.
TEST_F(Reduction, DominantCutByPrecision) {
  struct Row {
    int prec;
    double prec1;
    std::vector<int> kept;
  };
  const Row rows[] = {
      {0, 0.05, {1}}, {1, 0.01, {1}}, {2, 1e-4, {1, 2}}, {3, 1e-6, {1, 2}}, {3, 1e-30, {1, 2, 3}}};
  for (const Row& r : rows) {
    SCOPED_TRACE("precision " + std::to_string(r.prec) + ", prec1 " + std::to_string(r.prec1));
    reset_all_modules();
    set_up(3, 2, 0);
    variables.crrtmarkerdomq = 1;
    likelihoodvar.crrtmarkertype = 1;
    variables.likelihoodprecision = r.prec;
    variables.prec1 = r.prec1;
    for (int p = 1; p <= 4; ++p) {
      prior(p, 1) = 1.0;
      prior(p, 2) = 0.005;
      prior(p, 3) = 5e-5;
    }
    EXPECT_EQ(run(), 0.0);
    EXPECT_EQ(kept(1), r.kept);
  }
}

// More than 20 parents at a dominant locus: a parent whose first two weights pass the cut loses
// genotype 1, its prior moving to genotype 2 (whose weight stays its own prior).
TEST_F(Reduction, DominantAboveTwentyParents) {
  set_up(3, 2, 1);
  variables.crrtmarkerdomq = 1;
  likelihoodvar.crrtmarkertype = 1;
  variables.numparent(1) = 21;
  prior(1, 1) = 0.3, prior(1, 2) = 0.3, prior(1, 3) = 0.4;
  EXPECT_EQ(run(), 0.0);
  EXPECT_EQ(kept(1), (std::vector<int>{3, 2}));
  EXPECT_DOUBLE_EQ(prior(1, 2), 0.6);
}

// More than 20 parents at a two-allele codominant locus: the lighter homozygote goes; above 30
// both go.
TEST_F(Reduction, TwoAlleleHomozygotesAboveTwentyParents) {
  for (int np : {21, 31}) {
    SCOPED_TRACE(np);
    reset_all_modules();
    set_up(3, 2, 1);
    variables.numparent(1) = np;
    prior(1, 1) = 0.2, prior(1, 2) = 0.5, prior(1, 3) = 0.3;
    EXPECT_EQ(run(), 0.0);
    EXPECT_EQ(kept(1), np == 21 ? (std::vector<int>{2, 3}) : (std::vector<int>{2}));
  }
}

// An error-free 3-allele locus in a graph of fewer than 5 parents: a typed parent keeps its
// observed genotype; when a family's table has no row for it the locus is impossible.
TEST_F(Reduction, TypedErrorFreeParent) {
  for (bool outside : {false, true}) {
    SCOPED_TRACE(outside);
    reset_all_modules();
    set_up(3, 3, 0);
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    lv.crrtmarkertype = 3;
    v.othererrorrate(1) = 0.0;
    // Every family typed, classes = positions through the index lists, tables of ones.
    lv.idxloc.allocate(Dim(0, 8));
    lv.idxtgt.allocate(Dim(24));
    for (int i = 0; i <= 8; ++i) lv.idxloc(i) = 3 * i;
    for (int i = 1; i <= 24; ++i) lv.idxtgt(i) = (i - 1) % 3 + 1;
    v.fsprobloc.allocate(Dim(4));
    v.equirowcol.allocate(Dim(4), Dim(1));
    lv.fsprobdim.allocate(Dim(4));
    lv.fsprobidx.allocate(Dim(4));
    lv.fsprob.allocate(Dim(3), Dim(12));
    for (int f = 1; f <= 4; ++f) {
      v.numfsgenotype(1, f) = 1;
      v.fsprobloc(f) = 3 * (f - 1);
      lv.fsprobdim(f) = 3;
      lv.fsprobidx(f) = 0;
      v.equirowcol(f, 1) = static_cast<int2>(outside && f == 2 ? 0xa000 : 0xe000);
      for (int y = 1; y <= 3; ++y)
        for (int x = 1; x <= 3; ++x) lv.fsprob(x, v.fsprobloc(f) + y) = 1.0;
    }
    v.prntgtype(1, 1) = 1;
    prior(1, 1) = 0.0, prior(1, 2) = 1.0, prior(1, 3) = 0.0;
    if (outside) {
      EXPECT_EQ(run(), -1e300);
    } else {
      EXPECT_EQ(run(), 0.0);
      EXPECT_EQ(kept(1), (std::vector<int>{2}));
      EXPECT_EQ(kept(2), (std::vector<int>{1, 2, 3}));
    }
  }
}

// equigenotype on one family of a haplodiploid cluster at a 4-allele locus with typing errors:
// father rows are family alleles 1..3, mother columns table genotypes 1..3.
class EquiGenotype : public LayerChoice {
 protected:
  void SetUp() override {
    LayerChoice::SetUp();
    Variables& v = variables;
    Likelihoodvar& lv = likelihoodvar;
    v.numfsibship = 1;
    v.haplodiploid = 1;
    v.crrtmarkerdomq = 0;
    lv.crrtmarkertype = 4;
    v.nparent(1) = 1;
    v.nparent(2) = 1;
    v.npstartloc1(1) = 0;
    v.npstartloc1(2) = 1;
    lv.maxhsprobdim = 4;
    lv.mabsorb(1) = 0;
    lv.mabsorb(2) = 1;
    lv.nabsorb.allocate(Dim(1));
    lv.nabsorb(1) = 1;
    lv.fsib.allocate(Dim(1));
    lv.fsib(1) = 1;
    lv.clusterfamily.allocate(Dim(2), Dim(1));
    lv.clusterfamily(1, 1) = 1;
    lv.clusterfamily(2, 1) = 1;
    v.numfsgenotype.allocate(Dim(2), Dim(1));
    v.numfsgenotype(1, 1) = 2;
    v.numfsgenotype(2, 1) = 0;
    lv.numallelefs.allocate(Dim(1));
    lv.numallelefs(1) = 3;
    lv.fsprobdim.allocate(Dim(1));
    lv.fsprobdim(1) = 3;
    lv.fsprobidx.allocate(Dim(1));
    lv.fsprobidx(1) = 0;
    v.fsprobloc.allocate(Dim(1));
    v.fsprobloc(1) = 0;
    lv.fsprob.allocate(Dim(3), Dim(3));
    lv.hsprobdim.allocate(Dim(2));
    lv.hsprobdim(1) = 4;  // father: four alleles, two of them reading row 3
    lv.hsprobdim(2) = 3;
    lv.idxloc.allocate(Dim(0, 1));
    lv.idxloc(0) = 0;
    lv.idxloc(1) = 4;
    lv.idxtgt.allocate(Dim(7));
    const int father[4] = {1, 2, 3, 3}, mother[3] = {1, 2, 3};
    for (int i = 0; i < 4; ++i) lv.idxtgt(1 + i) = father[i];
    for (int i = 0; i < 3; ++i) lv.idxtgt(5 + i) = mother[i];
    lv.selectedpnum.allocate(Dim(2));
    lv.idxselectedp.allocate(Dim(4), Dim(2));
    lv.selectedpnum(1) = 4;
    lv.selectedpnum(2) = 3;
    for (int g = 1; g <= 4; ++g) lv.idxselectedp(g, 1) = static_cast<int2>(g);
    for (int g = 1; g <= 3; ++g) lv.idxselectedp(g, 2) = static_cast<int2>(g);
    v.locuserror.allocate(Dim(1));
    v.locuserror(1) = 1;
    // Rows: 1 = (0.5, 0.25, 0); 2 differs from it by exactly 1e-14 in the last column (merged);
    // 3 by 2e-14 there (kept apart). The columns differ by far more than 1e-14.
    for (int x = 1; x <= 3; ++x) {
      lv.fsprob(x, 1) = 0.5;
      lv.fsprob(x, 2) = 0.25;
    }
    lv.fsprob(1, 3) = 0.0;
    lv.fsprob(2, 3) = 1e-14;
    lv.fsprob(3, 3) = 2e-14;
  }
  std::vector<int> line(int side) const {
    std::vector<int> out;
    for (int k = 1; k <= likelihoodvar.equiline(0, 1, side); ++k)
      out.push_back(likelihoodvar.equiline(k, 1, side));
    return out;
  }
};

TEST_F(EquiGenotype, MergeWithin1e14AndLines) {
  equigenotype(1);
  // Father: allele 2's row equals row 1 within 1e-14 and reads index 1 now; row 3 stays; the
  // fourth allele repeats index 3. Distinct (1, 3): four genotypes, two classes, not within one.
  EXPECT_EQ(likelihoodvar.idxtgt(2), 1);
  EXPECT_EQ(likelihoodvar.idxtgt(3), 3);
  EXPECT_EQ(line(1), (std::vector<int>{1, 3}));
  EXPECT_EQ(likelihoodvar.equilineq(1, 1), 0);
  // Mother: columns differ by far more than 1e-14: three classes of three genotypes.
  EXPECT_EQ(line(2), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(likelihoodvar.equilineq(1, 2), 1);
}

TEST_F(EquiGenotype, NoMergeWithoutErrors) {
  variables.locuserror(1) = 0;
  equigenotype(1);
  EXPECT_EQ(likelihoodvar.idxtgt(2), 2);
  EXPECT_EQ(line(1), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(likelihoodvar.equilineq(1, 1), 1);  // four genotypes, three classes
}

TEST_F(EquiGenotype, SingleGenotypesOnBothSides) {
  likelihoodvar.selectedpnum(1) = 1;
  likelihoodvar.selectedpnum(2) = 1;
  likelihoodvar.idxselectedp(1, 1) = 4;
  likelihoodvar.idxselectedp(1, 2) = 2;
  equigenotype(1);
  EXPECT_EQ(line(1), (std::vector<int>{3}));
  EXPECT_EQ(line(2), (std::vector<int>{2}));
  EXPECT_EQ(likelihoodvar.equilineq(1, 1), 1);
  EXPECT_EQ(likelihoodvar.equilineq(1, 2), 1);
}

}  // namespace
}  // namespace kinrad
