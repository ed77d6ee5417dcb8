// The prior of a configuration: counts of assigned candidates and of sibship sizes, the log
// prior of one sex and of a whole configuration.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

void findassignment(FStatic<int4, 1, 4>& numassign) {
  auto& v = variables;
  // Candidate marks: the move routines' scratch table, sized for every candidate and all 0
  // between uses; the marked candidates are listed in kdxtgt to clear them.
  auto& mark = annealvariables.selectedprntidxq3;
  const auto& prt = v.inferparentprt;
  for (int4 k = 1; k <= 4; ++k) numassign(k) = 0;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    int4 listed = 0;
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const int4 c = prt(i, s);
      if (c <= 0) continue;
      ++numassign(s + 2);
      if (mark(c) == 0) {
        mark(c) = 1;
        ++numassign(s);
        v.kdxtgt(++listed) = c;
      }
    }
    for (int4 k = 1; k <= listed; ++k) mark(v.kdxtgt(k)) = 0;
  }
}

void sibshipsize(const FStatic<int4, 1, 2>& nfam, int4 mode) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  auto& count = configuration_work.tables.famcount;
  const bool haploids = v.smplsizedh(1) > 0;
  const bool dmono = v.numsex == 2 && v.monogamy(1) == 1 && v.monogamy(2) == 1;
  // Under double monogamy the maternal families are the paternal ones; the copy is not made
  // for the diploid-only paternal count of a haplodiploid sample.
  const bool copy_sex1 = dmono && (mode == 1 || !haploids);
  const int4 lastsex = copy_sex1 ? 1 : v.numsex;
  for (int4 s = 1; s <= lastsex; ++s) {
    const int4 ids = nfam(s) + (s == 1 ? v.smplsizedh(1) : 0);
    fit(count, ids);
    std::fill(count.begin(), count.begin() + ids + 1, 0);
    // Haploid offspring have no father of their own: the paternal sibships of a haplodiploid
    // sample count the diploid offspring only.
    const bool diploid_only = s == 1 && mode != 1 && haploids;
    if (!(diploid_only && v.smplsizedh(2) < 1)) {
      const int4 lastcol = v.numsex == 1 ? 2 : s;
      for (int4 col = s; col <= lastcol; ++col)
        for (int4 i = 1; i <= n; ++i) {
          if (diploid_only && v.offploid(i) != 2) continue;
          const int4 id = loc(i, col);
          assert(id >= 1 && id <= ids);
          ++count[static_cast<std::size_t>(id)];
        }
    }
    auto& dist = v.sibshipsizedist;
    for (index_t k = dist.lbound(1); k <= dist.ubound(1); ++k) dist(k, s) = 0;
    for (int4 id = 1; id <= ids; ++id) ++dist(count[static_cast<std::size_t>(id)], s);
  }
  if (copy_sex1 && v.sibshipsizedist.ubound(2) >= 2) {
    auto& dist = v.sibshipsizedist;
    for (index_t k = dist.lbound(1); k <= dist.ubound(1); ++k) dist(k, 2) = dist(k, 1);
  }
}

void halfsibsize(FStatic<int2, 1, 2>& hsmax, FStatic<int2, 1, 2>& runmax) {
  const auto& v = variables;
  const int4 n1 = v.nparent(1), n2 = v.nparent(2);
  // A parent of a one-pool species sums its row and its column, which can pass 16 bits.
  auto row = [&](int4 i) {
    int4 t = 0;
    for (int4 j = 1; j <= n2; ++j) t += v.nchild(i, j);
    return t;
  };
  auto col = [&](int4 j) {
    int4 t = 0;
    for (int4 i = 1; i <= n1; ++i) t += v.nchild(i, j);
    return t;
  };
  int4 m1 = 0, m2 = 0;
  if (v.numsex == 2) {
    for (int4 i = 1; i <= n1; ++i) m1 = std::max(m1, row(i));
    for (int4 j = 1; j <= n2; ++j) m2 = std::max(m2, col(j));
  } else {
    for (int4 i = 1; i <= n1; ++i) {
      const int4 k = v.parentjdx(i, 1);
      m1 = std::max(m1, row(i) + (k > 0 ? col(k) : 0));
    }
    for (int4 j = 1; j <= n2; ++j)
      if (v.parentjdx(j, 2) <= 0) m1 = std::max(m1, col(j));
    m2 = m1;
  }
  // The maxima are kept in 16 bits; a larger family saturates rather than wrapping negative.
  constexpr int4 top = std::numeric_limits<int2>::max();
  hsmax(1) = static_cast<int2>(std::min(m1, top));
  hsmax(2) = static_cast<int2>(std::min(m2, top));
  for (int4 s = 1; s <= 2; ++s) runmax(s) = std::max(runmax(s), hsmax(s));
}

real8 priorvalue(int4 sex, std::array<int4, 2> assign, int4 nfam, int4 nsize, int4 nself) {
  const auto& v = variables;
  const int4 s = sex;
  const int4 c = v.numcandidate(s);
  const int4 a = assign[0], m = assign[1];
  real8 p = 0.0;
  if (c > 0) {
    assert(a <= c);
    const real8 ta = v.factorial(c - a) - v.factorial(c) + a * v.logprior(1, s) +
                     (nfam - v.numknownprnt(s) - a) * v.logprior(2, s);
    // Offspring that can have a sampled parent of this sex: haploid offspring have no father.
    const int4 nn = s == 2 ? v.smplsize : v.smplsizedh(2);
    const int4 mm = v.numknownprnt(s + 2) + m;
    assert(mm <= nn);
    const real8 tb = v.factorial(nn) - v.factorial(nn - mm) - v.factorial(mm) +
                     mm * v.prntlogprb(1, s) + (nn - mm) * v.prntlogprb(2, s);
    p = tb * v.prntweight(s) + ta;
    if (m > 0) {
      const real8 w = v.fulllikelihoodmethodq == 1 ? 0.1 : 0.5;
      p += w * (v.logk(v.smplsize) + v.logk(c)) * v.prntlogprb(1, s) * v.logk(m + 1);
    }
  }
  if (v.numsex == v.allowinbreeding) {
    p *= 0.5;
    if (s == 1) {
      const int4 n = v.smplsize, k = nself;
      const real8 dn = static_cast<real8>(n);
      p += 0.125 * (v.factorial(n) - v.factorial(k) - v.factorial(n - k) +
                    k * std::log(1.0 - 0.999999 / dn) - (n - k) * v.logk(n));
    }
  }
  if (v.priortype != 0 && nsize >= 1 && s <= v.numsex && !(s == 1 && v.smplsizedh(2) < 1)) {
    real8 e = 0.0;
    for (int4 k = 1; k <= nsize; ++k) {
      const int4 d = v.sibshipsizedist(k, s);
      if (d > 0) e += d * (v.logewentheta(s) - v.logk(k)) - v.factorial(d);
    }
    return p + v.ewenpriorfac(s) * (v.logewenconst(s) + e);
  }
  return p;
}

void configurationprior(FStatic<int4, 1, 4>& numassign, real8& logprior,
                        const FStatic<int4, 1, 2>& nsize, const FStatic<int4, 1, 2>& nfam) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  if (v.priortype == 1) sibshipsize(nfam, 1);
  FStatic<int4, 1, 2> f{};
  for (int4 i = 1; i <= n; ++i) {
    f(1) = std::max(f(1), loc(i, 1));
    f(2) = std::max(f(2), loc(i, 2));
  }
  if (v.numsex == 1) f(1) = f(2) = std::max(f(1), f(2));
  int4 nself = 0;
  if (v.numsex == v.allowinbreeding)
    for (int4 i = 1; i <= n; ++i)
      if (loc(i, 1) == loc(i, 2)) ++nself;
  findassignment(numassign);
  logprior = priorvalue(1, {numassign(1), numassign(3)}, f(1), nsize(1), nself) +
             priorvalue(2, {numassign(2), numassign(4)}, f(2), nsize(2), nself);
  check_scratch_marks_clear();
}

}  // namespace kinrad
