// Mendelian checks of a family at error-free codominant loci, where an observed genotype is the
// true one: parents with several full-sib families (genotypecheck), full-sib families with a
// sampled candidate parent (genotypecheckp) and selfed families (selfingcheck). They only
// reject; a contradiction proves the family impossible. No buffers are allocated: the lists are
// bounded by the number of alleles a family can show.
#include <algorithm>
#include <array>

#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/genotype_codes_internal.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/likelihood_internal.hpp"

namespace kinrad {

using checks::candidate_genotype;
using checks::code_genotype;
using checks::homozygote;
using checks::offspring_genotype;

namespace {

// Number of alleles of the locus at a position of locuscodomnoerror (the two-allele group may
// hold loci counted as two-allele whatever their own count).
int4 alleles_at(int4 pos) {
  const Variables& v = variables;
  return pos <= v.locuscodomnoerrorloc(2) ? 2 : v.obsnumallele(v.locuscodomnoerror(pos));
}

bool covers(int4 g, int4 a) {
  return variables.genotypeid(1, g) == a || variables.genotypeid(2, g) == a;
}

// A parent's alleles as the family sees them: two when it is diploid and heterozygous, else
// its first one.
struct ParentAlleles {
  int4 n = 0;
  int4 a[2]{};
  bool has(int4 x) const { return (n >= 1 && a[0] == x) || (n == 2 && a[1] == x); }
};

ParentAlleles parent_alleles(int4 g, int4 ploidy) {
  ParentAlleles p;
  if (g <= 0) return p;
  p.a[0] = variables.genotypeid(1, g);
  p.a[1] = variables.genotypeid(2, g);
  p.n = (ploidy == 2 && p.a[0] != p.a[1]) ? 2 : 1;
  return p;
}

// Distinct homozygote alleles H and heterozygotes G collected over one parent's families.
struct ParentTally {
  int4 nh = 0;
  int4 ng = 0;
  int4 h[3]{};
  std::array<int2, 260> g{};  // at most 2a - 3 heterozygotes pass, a <= 127
};

}  // namespace

void genotypecheck(int4& ok, int4 n) {
  Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  (void)n;  // the heterozygote list holds every count below the rejection bound
  ok = 0;
  const int4 amax = v.numallelemax;
  ParentTally t;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.nparent(3 - s) <= 1) continue;
    const int4 ploidy = v.ploidy(s);
    for (int4 p = 1; p <= v.nparent(s); ++p) {
      const int4 q = v.npstartloc1(s) + p;
      if (lv.hsib2(q) <= 1) continue;
      const int4 nm = lv.mate1(0, q);
      int4 sum = 0;
      for (int4 j = 1; j <= nm; ++j) {
        const int4 mate = lv.mate1(j, q);
        sum += s == 1 ? v.nchild(p, mate) : v.nchild(mate, p);
      }
      if (ploidy == 2 && sum <= 2) continue;
      const int4 cand = lv.knownprt(q);
      for (int4 pos = v.locuscodomnoerrorloc(ploidy) + 1; pos <= v.locuscodomnoerrorloc(3); ++pos) {
        const int4 l = v.locuscodomnoerror(pos);
        const int4 a = alleles_at(pos);
        if (cand > 0 && candidate_genotype((s - 1) * v.numcandidate(1) + cand, l, a) > 0) continue;
        const int4 pos3 = a > 2 ? v.locus3loc(l) : 0;
        t.nh = 0;
        t.ng = 0;
        bool reject = false;
        auto add = [&](int4 g) {
          if (g <= 0 || reject) return;
          if (homozygote(g)) {
            for (int4 i = 0; i < t.nh; ++i)
              if (t.h[i] == g) return;
            t.h[t.nh++] = g;
            if (t.nh > ploidy) reject = true;
          } else {
            if (v.indexgtype(g) != 0) return;
            v.indexgtype(g) = 1;
            t.g[static_cast<std::size_t>(t.ng++)] = static_cast<int2>(g);
            if (t.ng > 2 * a - 3) reject = true;
          }
        };
        for (int4 j = 1; j <= nm && !reject; ++j) {
          const int4 mate = lv.mate1(j, q);
          const int4 f = s == 1 ? lv.fsibid(p, mate) : lv.fsibid(mate, p);
          const bool listed = pos3 >= 1 && lv.fsfamilygtype.allocated() &&
                              pos3 <= lv.fsfamilygtype.ubound(4) &&
                              lv.fsfamilygtype(0, 1, f, pos3) > 0;
          if (listed) {
            for (int4 i = 1; i <= lv.fsfamilygtype(0, 1, f, pos3) && !reject; ++i)
              add(lv.fsfamilygtype(i, 1, f, pos3));
          } else {
            for (int4 i = v.familyindivloc(f - 1) + 1; i <= v.familyindivloc(f) && !reject; ++i)
              add(offspring_genotype(lv.familyindiv(i), l, a));
          }
        }
        for (int4 i = 0; i < t.ng; ++i) v.indexgtype(t.g[static_cast<std::size_t>(i)]) = 0;
        if (reject) return;
        // The alleles shown: the homozygotes' first, then those of the heterozygotes.
        std::array<int4, 256> al{};
        int4 na = 0;
        for (int4 i = 0; i < t.nh; ++i) al[static_cast<std::size_t>(na++)] = t.h[i];
        for (int4 i = 0; i < t.ng; ++i)
          for (int4 r = 1; r <= 2; ++r) {
            const int4 x = v.genotypeid(r, t.g[static_cast<std::size_t>(i)]);
            if (std::find(al.begin(), al.begin() + na, x) == al.begin() + na)
              al[static_cast<std::size_t>(na++)] = x;
          }
        if (na < amax) continue;
        auto all_cover = [&](int4 x, int4 y) {
          for (int4 i = 0; i < t.ng; ++i) {
            const int4 g = t.g[static_cast<std::size_t>(i)];
            if (!covers(g, x) && !covers(g, y)) return false;
          }
          return true;
        };
        bool pass = false;
        if (ploidy == 1) {
          if (t.nh == 1) {
            pass = all_cover(t.h[0], t.h[0]);
          } else {
            const int4 g0 = t.g[0];
            pass = all_cover(v.genotypeid(1, g0), v.genotypeid(1, g0)) ||
                   all_cover(v.genotypeid(2, g0), v.genotypeid(2, g0));
          }
        } else if (t.nh == 2) {
          pass = all_cover(t.h[0], t.h[1]);
        } else if (t.nh == 1) {
          for (int4 i = 0; i < na && !pass; ++i)
            if (al[static_cast<std::size_t>(i)] != t.h[0])
              pass = all_cover(t.h[0], al[static_cast<std::size_t>(i)]);
        } else {
          for (int4 i = 0; i < na && !pass; ++i)
            for (int4 j = i + 1; j < na && !pass; ++j)
              pass = all_cover(al[static_cast<std::size_t>(i)], al[static_cast<std::size_t>(j)]);
        }
        if (!pass) return;
      }
    }
  }
  ok = 1;
}

void genotypecheckp(int4& ok, int4 vote) {
  Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  ok = 0;
  const int4 np1 = v.nparent(1);
  const int4 m = v.maxobsnumallele;
  const bool diploid_species = v.haplodiploid == 0;
  // Marks of this family and locus: indexgtype(g) holds 1 and/or 2 for the ploidies seen.
  std::array<int2, 11> marked{};
  int4 nmarked = 0;
  auto clear_marks = [&]() {
    for (int4 i = 0; i < nmarked; ++i) v.indexgtype(marked[static_cast<std::size_t>(i)]) = 0;
    nmarked = 0;
  };
  auto known = [&](int4 k, int4 s) {
    if (k > 0 && v.knownprntq.allocated() && v.knownprntq(k, s) >= 1) return 0;  // fixed by input
    return k;
  };
  for (int4 i = 1; i <= np1; ++i) {
    const int4 k1 = known(lv.knownprt(i), 1);
    for (int4 jj = 1; jj <= lv.mate1(0, i); ++jj) {
      const int4 j = lv.mate1(jj, i);
      const int4 k2 = known(lv.knownprt(np1 + j), 2);
      if (k1 < 1 && k2 < 1) continue;
      const int4 nc = v.nchild(i, j);
      const FView<int2, 1> list = familystructure(i, j);
      const int4 f = lv.fsibid(i, j);
      int4 h = 0;
      if (v.numchildh > 0 && v.familyindivloch(j) > v.familyindivloch(j - 1))
        for (int4 c = 1; c <= nc; ++c) h += v.offploid(list(c)) != 2 ? 1 : 0;
      const bool father = k1 >= 1;
      const bool mother = k2 >= 1;
      if (father && !mother && h == nc) continue;
      const int4 target = father && mother ? 6 : 3;
      for (int4 pos = v.locuscodomnoerrorloc(1) + 1; pos <= v.locuscodomnoerrorloc(3); ++pos) {
        if (vote == 1 && v.numthreads > 0 && pos % v.numthreads != v.threadid) continue;
        const int4 l = v.locuscodomnoerror(pos);
        const int4 a = alleles_at(pos);
        const int4 gf = father ? candidate_genotype(k1, l, a) : 0;
        const int4 gm = mother ? candidate_genotype(v.numcandidate(1) + k2, l, a) : 0;
        // The sum of the typed parents' values (2-bit codes at two-allele loci).
        auto value = [&](int4 g) { return a <= 2 && g == m + 1 ? 3 : g; };
        const int4 csum = value(gf) + value(gm);
        if (csum == 0) continue;
        if (diploid_species && a <= 2 && csum == target) continue;  // heterozygous parents
        const bool ref_father = gf > 0;
        const bool ref_mother = gm > 0;
        const bool both = ref_father && ref_mother;
        const ParentAlleles pf = parent_alleles(gf, v.ploidy(1));
        const ParentAlleles pm = parent_alleles(gm, v.ploidy(2));
        const ParentAlleles& ref = ref_father ? pf : pm;
        const bool skip_haploid = h >= 1 && ref_father && !ref_mother;
        auto passes = [&](int4 g, int4 pl) {
          const int4 x = v.genotypeid(1, g);
          const int4 y = v.genotypeid(2, g);
          if (!homozygote(g)) {
            if (both) {
              for (int4 u = 0; u < pf.n; ++u)
                for (int4 w = 0; w < pm.n; ++w)
                  if ((pf.a[u] == x && pm.a[w] == y) || (pf.a[u] == y && pm.a[w] == x)) return true;
              return false;
            }
            return a <= 2 || ref.has(x) || ref.has(y);
          }
          if (both) return pm.has(x) && (pl == 1 || pf.has(x));
          return ref.has(x);
        };
        bool fail = false;
        const int4 pos3 = a > 2 ? v.locus3loc(l) : 0;
        if (a > 2 && h == 0 && pos3 >= 1 && lv.fsfamilygtype.allocated() &&
            pos3 <= lv.fsfamilygtype.ubound(4) && lv.fsfamilygtype(0, 1, f, pos3) > 0) {
          for (int4 c = 1; c <= lv.fsfamilygtype(0, 1, f, pos3) && !fail; ++c)
            fail = !passes(lv.fsfamilygtype(c, 1, f, pos3), 2);
        } else if (a <= 2 && h == 0 && v.maxnumparent != 1) {
          locus2gtype(v.locus2loc(l), l, f, f, 3);
          for (int4 c = 1; c <= 3 && !fail; ++c)
            if (familyloglvar.kg(c, f) != 0) fail = !passes(code_genotype(c), 2);
        } else {
          for (int4 c = 1; c <= nc && !fail; ++c) {
            const int4 member = list(c);
            const int4 pl = v.numchildh > 0 ? v.offploid(member) : 2;
            if (pl != 2 && skip_haploid) continue;
            const int4 g = offspring_genotype(member, l, a);
            if (g == 0) continue;
            const int2 bit = static_cast<int2>(pl == 2 ? 2 : 1);
            const int2 seen = v.indexgtype(g);
            if ((seen & bit) != 0) continue;
            if (seen == 0) {
              if (nmarked == 10) {
                fail = true;  // more distinct genotypes than two parents can give
                break;
              }
              marked[static_cast<std::size_t>(nmarked++)] = static_cast<int2>(g);
            }
            v.indexgtype(g) = static_cast<int2>(seen | bit);
            fail = !passes(g, pl);
          }
        }
        clear_marks();
        if (fail) return;
      }
    }
  }
  ok = 1;
}

void selfingcheck(int4& ok) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  ok = 1;
  if (v.numsex == 2) return;
  if (v.locuscodomnoerrorloc(3) == v.locuscodomnoerrorloc(2)) return;
  const int4 np1 = v.nparent(1);
  for (int4 i = 1; i <= np1; ++i) {
    const int4 j = v.parentjdx(i, 1);
    if (j <= 0 || v.nchild(i, j) <= 0) continue;
    const FView<int2, 1> selfed = familystructure(i, j);
    for (int4 pos = v.locuscodomnoerrorloc(2) + 1; pos <= v.locuscodomnoerrorloc(3); ++pos) {
      const int4 l = v.locuscodomnoerror(pos);
      const FView<int2, 1>& col = v.indivgtype2(l).a;
      // A selfing parent x/y gives x/x, x/y and y/y only.
      int4 gt[3]{};
      int4 ngt = 0;
      int4 al[2]{};
      int4 nal = 0;
      for (int4 c = 1; c <= v.nchild(i, j); ++c) {
        const int4 g = col(selfed(c));
        if (g == 0 || std::find(gt, gt + ngt, g) != gt + ngt) continue;
        if (ngt == 3) {
          ok = 0;
          return;
        }
        gt[ngt++] = g;
        for (int4 r = 1; r <= 2; ++r) {
          const int4 x = v.genotypeid(r, g);
          if (std::find(al, al + nal, x) != al + nal) continue;
          if (nal == 2) {
            ok = 0;
            return;
          }
          al[nal++] = x;
        }
      }
      if (nal != 2) continue;
      // Every outcrossed offspring of the same parent carries x or y.
      auto carries = [&](int4 p1, int4 p2) {
        const FView<int2, 1> list = familystructure(p1, p2);
        for (int4 c = 1; c <= v.nchild(p1, p2); ++c) {
          const int4 g = col(list(c));
          if (g == 0) continue;
          if (!covers(g, al[0]) && !covers(g, al[1])) return false;
        }
        return true;
      };
      if (v.nparent(2) != 1) {
        for (int4 k = 1; k <= lv.mate1(0, i); ++k) {
          const int4 mate = lv.mate1(k, i);
          if (mate != j && !carries(i, mate)) {
            ok = 0;
            return;
          }
        }
      }
      if (np1 != 1) {
        for (int4 k = 1; k <= lv.mate1(0, np1 + j); ++k) {
          const int4 mate = lv.mate1(k, np1 + j);
          if (mate != i && !carries(mate, j)) {
            ok = 0;
            return;
          }
        }
      }
    }
  }
}

}  // namespace kinrad
