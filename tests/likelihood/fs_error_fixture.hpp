#pragma once
// One full-sib family set up directly in module state for the error-locus table routines: a
// single locus whose alleles are the family's alleles (so local and locus allele codes agree),
// the block tables built by the genotype model, and the family's observed genotype classes.
// The brute-force reference multiplies, per parent pair, the one-offspring probabilities of the
// classes (Mendel's transmissions times the tabulated observation model) raised to the class
// weights: independent of the block tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "model/model.hpp"
#include "model/model_fixture.hpp"
#include "model/tables_fixture.hpp"
#include "support/module_reset.hpp"

namespace kinrad::test {

using Gt = std::pair<int4, int4>;

struct ErrorFamily {
  int4 k = 3;     // alleles of the locus, all in the family's list
  int4 hd = 0;    // haploid fathers
  real8 d = 0.0;  // dropout
  real8 e = 0.0;  // other-error rate
  std::vector<Gt> classes{};
  std::vector<int4> counts{};
  std::vector<real8> weights{};  // scaled counts
};

// Parent pairs in the table order: diploid (a <= b) over genotypes, haploid fathers (allele,
// mother genotype).
struct PairList {
  std::vector<std::pair<Gt, Gt>> pairs;     // (father, mother); father (a, 0) when haploid
  std::vector<std::pair<int4, int4>> cell;  // (row, column) in the family table
};

inline PairList pair_list(int4 k, int4 hd) {
  PairList out;
  const auto gl = genotype_list(k);
  const int4 g = static_cast<int4>(gl.size());
  if (hd == 0) {
    for (int4 a = 1; a <= g; ++a)
      for (int4 b = a; b <= g; ++b) {
        out.pairs.push_back(
            {gl[static_cast<std::size_t>(a - 1)], gl[static_cast<std::size_t>(b - 1)]});
        out.cell.emplace_back(a, b);
      }
  } else {
    for (int4 a = 1; a <= k; ++a)
      for (int4 b = 1; b <= g; ++b) {
        out.pairs.push_back({{a, 0}, gl[static_cast<std::size_t>(b - 1)]});
        out.cell.emplace_back(a, b);
      }
  }
  return out;
}

// Builds the locus, its block tables and the family in module state (block 1, family 1).
inline void set_up_family(const ErrorFamily& f) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  reset_all_modules();  // the category tables are built once per analysis
  v.haplodiploid = f.hd;
  std::vector<real8> p(static_cast<std::size_t>(f.k), 1.0 / f.k);
  setup_loci({{f.k, false, f.d, f.e, p}});
  build_block_tables(1, 1, 1);
  const int4 ng = f.k * (f.k + 1) / 2;
  const int4 nc = static_cast<int4>(f.classes.size());
  lv.locallelefs.allocate(Dim(1));
  lv.numallelefs.allocate(Dim(1));
  lv.allelefs.allocate(Dim(f.k));
  lv.numallelefs(1) = f.k;
  for (int4 a = 1; a <= f.k; ++a) lv.allelefs(a) = static_cast<int1>(a);
  lv.clusterfamilyloc.allocate(Dim(2));
  lv.clusterfamilyloc(2) = nc;
  v.fsgtype.allocate(Dim(2), Dim(nc));
  v.numfsgtype.allocate(Dim(nc));
  v.numfsgtypescaled.allocate(Dim(nc));
  int4 total = 0;
  for (int4 c = 1; c <= nc; ++c) {
    const Gt g = f.classes[static_cast<std::size_t>(c - 1)];
    v.fsgtype(1, c) = static_cast<int1>(g.first);
    v.fsgtype(2, c) = static_cast<int1>(g.second);
    v.numfsgtype(c) = f.counts[static_cast<std::size_t>(c - 1)];
    v.numfsgtypescaled(c) = f.weights[static_cast<std::size_t>(c - 1)];
    total += v.numfsgtype(c);
  }
  v.maxfsibsize = total;
  v.fsprobloc.allocate(Dim(2));
  v.fsprobloc(2) = ng;
  lv.fsprob.allocate(Dim(ng), Dim(ng));
  lv.fsprob.fill(7.0);  // untouched marker
  lv.fsprobdim.allocate(Dim(1));
  lv.fsprobdim(1) = static_cast<int2>(ng);
  lv.fsgtypeidx.allocate(Dim(0, ng), Dim(1));
  lv.fsgtypejdx.allocate(Dim((ng + 31) / 32), Dim(1));
  lv.crrtmarkertype = f.k > 2 ? f.k : 2;
  // One father and one mother, each with other families, so no absorption.
  v.nparent(1) = 1;
  v.nparent(2) = 1;
  v.npstartloc1(1) = 0;
  v.npstartloc1(2) = 1;
  lv.clusterfamily.allocate(Dim(2), Dim(1));
  lv.clusterfamily(1, 1) = 1;
  lv.clusterfamily(2, 1) = 1;
  lv.hsib2.allocate(Dim(2));
  lv.hsib2(1) = 2;
  lv.hsib2(2) = 2;
  lv.hsib.allocate(Dim(2));
  lv.hsib(1) = lv.hsib(2) = 1;
  lv.mabsorb.fill(0);
  v.purefsshortcut = 0;
  lv.loglikehoodconst = 0.0;
}

inline Fs2Call fs2_call(const ErrorFamily& f) {
  Fs2Call c;
  c.bk = 1;
  c.fam = 1;
  c.na = f.k;
  c.ng = f.k * (f.k + 1) / 2;
  c.nfirst = f.hd == 1 ? f.k : c.ng;
  c.nclass = static_cast<int4>(f.classes.size());
  c.k = (f.k * f.k * f.k - f.k - 6) / 6;
  c.npair = static_cast<int4>(variables.dadmumoffprbidx(c.k + 1).a.size());
  c.numallele = f.k;
  c.pos = 1;
  c.noabsorb = 0;
  c.nword = (c.npair + 31) / 32;
  return c;
}

// Brute-force one-offspring probability of class c and the family value of a pair.
// The observation model is the locus's tabulated one (prbgtop), as every reader of the locus
// sees it.
// With haploid fathers and dropout as the only error, the model floors an impossible
// observation of a heterozygote at 1e-6 (a dropout-only model cannot explain a third allele).
inline real8 observed_given_true(Gt o, int4 t1, int4 t2) {
  const int4 obs[2] = {o.first, o.second};
  const real8 x = prbgtop(std::min(t1, t2), std::max(t1, t2), obs, 1);
  const Variables& v = variables;
  if (v.haplodiploid == 1 && o.first != o.second && v.droprate(1) > 1e-300 &&
      v.othererrorrate(1) < 1e-300 && x < 1e-300)
    return 1e-6;
  return x;
}
inline real8 one_offspring(const ErrorFamily& f, std::size_t c, const std::pair<Gt, Gt>& pr) {
  const Gt o = f.classes[c];
  const Gt fa = pr.first;
  const Gt mo = pr.second;
  real8 s = 0.0;
  if (fa.second == 0) {
    for (int4 y : {mo.first, mo.second}) s += 0.5 * observed_given_true(o, fa.first, y);
    return s;
  }
  for (int4 x : {fa.first, fa.second})
    for (int4 y : {mo.first, mo.second}) s += 0.25 * observed_given_true(o, x, y);
  return s;
}
inline real8 family_value(const ErrorFamily& f, const std::pair<Gt, Gt>& pr) {
  real8 x = 1.0;
  for (std::size_t c = 0; c < f.classes.size(); ++c)
    x *= std::pow(one_offspring(f, c, pr), f.weights[c]);
  return x;
}

class FsErrorTest : public testing_support::ModuleReset {};

}  // namespace kinrad::test
