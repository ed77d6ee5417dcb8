#pragma once
// Hand-made samples for the tests of the move choice: a configuration given by its family
// columns, the species and mating flags, genotypes at a few loci of four alleles, and the run
// state the choice reads; plus a scripted source of deviates that counts its calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_fixture.hpp"
#include "core/modules.hpp"
#include "core/modules/run_memos.hpp"
#include "core/modules/search_seams.hpp"
#include "core/packed_genotypes.hpp"
#include "search/move_choice.hpp"
#include "search/search_internal.hpp"
#include "support/ran2_state.hpp"

namespace kinrad::test {

struct ChoiceSample {
  int4 numsex = 2;
  int4 inbreeding = 0;
  int4 mono1 = 0, mono2 = 0;
  int4 haplo = 0;
  int4 ncand1 = 0, ncand2 = 0;
  int4 loci = 3;                 // loci of four alleles (the 16-bit columns)
  int4 twoallele = 0;            // leading loci of two alleles (packed 2-bit columns)
  bool dominant = false;         // the two-allele loci are dominant
  std::vector<int4> fam1, fam2;  // family columns of the configuration
};

// Genotype number of the allele pair (a, b) with four alleles: homozygotes 1..4, then 1/2,
// 1/3, 1/4, 2/3, 2/4, 3/4 as 5..10 (the numbering of the genotype tables).
inline int2 gnum(int4 a, int4 b) {
  if (a > b) std::swap(a, b);
  if (a == b) return static_cast<int2>(a);
  static const int2 het[5][5] = {
      {0, 0, 0, 0, 0}, {0, 0, 5, 6, 7}, {0, 0, 0, 8, 9}, {0, 0, 0, 0, 10}, {0, 0, 0, 0, 0}};
  return het[a][b];
}

struct ChoiceFixture {
  RunState rs;
  std::vector<int2> gstore;

  void build(const ChoiceSample& s) {
    SampleShape shape;
    shape.n = static_cast<int4>(s.fam1.size());
    shape.numsex = s.numsex;
    shape.mono1 = s.mono1;
    shape.mono2 = s.mono2;
    shape.ncand1 = s.ncand1;
    shape.ncand2 = s.ncand2;
    setup_sample(shape);
    auto& v = variables;
    auto& av = annealvariables;
    const int4 n = shape.n;
    v.allowinbreeding = s.inbreeding;
    v.haplodiploid = s.haplo;
    v.allcandidate = s.ncand1 + s.ncand2;
    v.offploid.allocate(Dim(n));
    v.offploid.fill(2);
    v.smplsizedh(1) = 0;
    v.smplsizedh(2) = n;
    v.knownsibship.allocate(Dim(n), Dim(2));
    v.knownsibshipsize.allocate(Dim(n), Dim(2));
    v.indivparent.allocate(Dim(n), Dim(2));
    v.inferparent2.allocate(Dim(n), Dim(2));
    v.setknownsibindiv.allocate(Dim(0, n), Dim(2));
    v.knownprntq.allocate(Dim(std::max({s.ncand1, s.ncand2, 1})), Dim(2));
    av.numindivlocidx.allocate(Dim(3));
    v.numbestcnd.allocate(Dim(n), Dim(2));
    v.bestcnd.allocate(Dim(n), Dim(10));
    v.prbbestcnd.allocate(Dim(n), Dim(10));
    // Loci: the two-allele loci first (locus2), then those of four alleles (locus3).
    const int4 T = s.twoallele;
    const int4 L = s.loci + T;
    v.numloci = L;
    v.numloci23 = L;
    v.maxobsnumallele = 4;
    v.maxnumgenotype = 10;
    v.l23g(1) = 3;
    v.l23g(2) = 5;
    v.obsnumallele.allocate(Dim(L));
    v.obsnumallele.fill(4);
    v.dominantmarker.allocate(Dim(L));
    v.dominantmarker.fill(0);
    v.locus2.allocate(Dim(0, T));
    v.locus2(0) = T;
    v.locusdom.allocate(Dim(0, s.dominant ? T : 0));
    v.locusdom(0) = s.dominant ? T : 0;
    for (int4 l = 1; l <= T; ++l) {
      v.locus2(l) = l;
      v.obsnumallele(l) = 2;
      if (s.dominant) {
        v.dominantmarker(l) = 1;
        v.locusdom(l) = l;
      }
    }
    v.locus3.allocate(Dim(0, s.loci));
    v.locus3(0) = s.loci;
    for (int4 l = 1; l <= s.loci; ++l) v.locus3(l) = T + l;
    v.genotypeid.allocate(Dim(1, 2), Dim(0, 10));
    for (int4 a = 1; a <= 4; ++a)
      for (int4 b = a; b <= 4; ++b) {
        v.genotypeid(1, gnum(a, b)) = static_cast<int1>(a);
        v.genotypeid(2, gnum(a, b)) = static_cast<int1>(b);
      }
    gstore.assign(static_cast<std::size_t>(n * std::max(L, 1)), 0);
    v.indivgtype2.allocate(Dim(std::max(L, 1)));
    for (int4 l = 1; l <= L; ++l)
      v.indivgtype2(l).a =
          FView<int2, 1>(gstore.data() + static_cast<std::ptrdiff_t>((l - 1) * n), {Dim(1, n)});
    // Every offspring typed 1/2 at every locus of four alleles unless a test says otherwise;
    // the two-allele loci start missing.
    for (int4 l = T + 1; l <= L; ++l)
      for (int4 i = 1; i <= n; ++i) genotype(i, l) = gnum(1, 2);
    set_configuration(s.fam1, s.fam2);
    if (s.numsex == 1) {
      // One pool: the two columns share one id space.
      int4 k = 0;
      for (int4 i = 1; i <= n; ++i) k = std::max({k, v.crindivloc(i, 1), v.crindivloc(i, 2)});
      v.crnumfamily(1) = v.crnumfamily(2) = k;
    }
    setinitcluster();
    av.lastfamilyid(1) = av.lastfamilyid(2) = 0;
    av.rate = 1.0;
    run_memos.domlociprb = -1.0;
    search_seams.choice_draw = nullptr;
    rs = RunState{};
    rs.cp.moveweight.allocate(Dim(n), Dim(2));
    rs.cp.moveweight.fill(1000);
    rs.cp.tmr = 1;
    rs.cp.withinfactor = 0.8;
    rs.sched.fammovethreshold = 1.0;
    rs.sched.sideprob = 0.5;
    rs.sched.ratiotemprature = 0.92;
    rs.locusratio = 0.25;
    rs.knownsibfrac = 0.0;
    if (s.numsex == s.inbreeding) {
      rs.prbself.allocate(Dim(n));
      rs.prbself.fill(0.05);
    }
    testing_support::start_stream(12345);
  }

  static int2& genotype(int4 i, int4 l) { return variables.indivgtype2(l).a(i); }
  // Offspring i's alleles (a <= b, 0 missing) at a two-allele locus.
  static void set_two_allele(int4 i, int4 l, int4 a, int4 b) {
    const FView<int2, 1> keep = setgetgtype.locusgtypeptr;
    setgetgtype.locusgtypeptr = variables.indivgtype2(l).a;
    const int1 al[2] = {static_cast<int1>(a), static_cast<int1>(b)};
    setgtype(al, i, 2);
    setgetgtype.locusgtypeptr = keep;
  }

  void set_ploidy(int4 i, int4 p) {
    auto& v = variables;
    --v.smplsizedh(v.offploid(i));
    v.offploid(i) = static_cast<int1>(p);
    ++v.smplsizedh(p);
  }

  void set_known_sibships(const std::vector<int4>& ks1, const std::vector<int4>& ks2) {
    auto& v = variables;
    const int4 n = v.smplsize;
    for (int4 i = 1; i <= n; ++i) {
      v.knownsibship(i, 1) = ks1[static_cast<std::size_t>(i - 1)];
      v.knownsibship(i, 2) = ks2[static_cast<std::size_t>(i - 1)];
    }
    for (int4 s = 1; s <= 2; ++s) {
      v.anyknownsibshipq(s) = 0;
      for (int4 i = 1; i <= n; ++i) {
        if (v.knownsibship(i, s) != 0) v.anyknownsibshipq(s) = 1;
        int4 c = 0;
        for (int4 j = 1; j <= n; ++j)
          if (v.knownsibship(i, s) != 0 && v.knownsibship(j, s) == v.knownsibship(i, s)) ++c;
        v.knownsibshipsize(i, s) = c;
      }
    }
  }
};

// A scripted source of deviates: returns the listed values in order, then `rest` for ever,
// and counts its calls.
struct Script {
  static inline std::vector<real8> values;
  static inline std::size_t next = 0;
  static inline int4 calls = 0;
  static inline real8 rest = 0.5;
  static real8 draw() {
    ++calls;
    return next < values.size() ? values[next++] : rest;
  }
  static void set(std::vector<real8> v, real8 r = 0.5) {
    values = std::move(v);
    next = 0;
    calls = 0;
    rest = r;
    search_seams.choice_draw = &Script::draw;
  }
  static std::size_t used() { return next; }
};

// The search stream counted.
struct Counted {
  static inline int8 calls = 0;
  static real8 draw() {
    ++calls;
    return ran2();
  }
  static void on() {
    calls = 0;
    search_seams.choice_draw = &Counted::draw;
  }
};

struct SourceOff {
  ~SourceOff() { search_seams.choice_draw = nullptr; }
};

}  // namespace kinrad::test
