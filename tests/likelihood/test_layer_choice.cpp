// The choices the layer stage makes before it conditions anything: the sex scanned first
// (findabsorbsex) and the genotypes no family with some one mate allows (trimgenotypes). Each
// case is a hand-built graph in the layer stage's state 0; expected values follow from the rules
// by hand.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/layer_peel_internal.hpp"

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

class LayerChoice : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
};

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

}  // namespace
}  // namespace kinrad
