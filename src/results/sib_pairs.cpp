// Sib-pair counts of one decoded configuration, in time linear in the sample: every count over
// pairs of offspring is a sum over families of the pairs inside it, so one tally per family
// number replaces the walk over all pairs.
//   haploid offspring present: pp (diploid pairs with one father), mm (diploid pairs with one
//     mother), hh and hd (haploid-haploid and haploid-diploid pairs with one mother), scaled to
//     all pairs of the sample;
//   two sexes: the pairs sharing a father (S1) and those sharing a mother (S2);
//   one sex: per pair the number of equal parent slots among the four comparisons, which is
//     (sum over families of t(f)^2 - sum over offspring of their own matches) / 2 with t(f) the
//     number of parent slots naming family f.
#include <algorithm>

#include "core/modules/variables.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {

namespace {

// Pairs among k members.
constexpr int8 pairs_in(int8 k) {
  return k * (k - 1) / 2;
}

// Makes room in the tallies for family numbers up to `largest`.
void grow_tally(SibPairWork& work, int4 largest) {
  if (work.tally.allocated() && work.tally.size(1) >= largest) return;
  const index_t rows = std::max<index_t>(largest, 2 * static_cast<index_t>(variables.smplsize) + 1);
  work.tally.allocate(Dim(rows), Dim(3));
}

// The largest family number in the first `columns` columns of offtgt.
int4 largest_family(int4 columns) {
  const auto& v = variables;
  int4 m = 1;
  for (int4 c = 1; c <= columns; ++c)
    for (int4 i = 1; i <= v.smplsize; ++i) m = std::max(m, v.offtgt(i, c));
  return m;
}

// E: the distinct candidates per sex (of the sexes in x) that are themselves offspring.
int4 excluded_count(SibPairWork& work, const std::array<bool, 2>& x) {
  const auto& v = variables;
  int4 e = 0;
  for (int4 s = 1; s <= 2; ++s) {
    if (!x[s - 1]) continue;
    auto& mark = work.mark[s - 1];
    auto& list = work.list[s - 1];
    int4 len = 0;
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const int4 c = v.prnttgt(i, s);
      if (c <= 0 || v.cndinoffspring(c, s) <= 0 || mark(c) != 0) continue;
      mark(c) = 1;
      list(++len) = c;
    }
    for (int4 k = 1; k <= len; ++k) mark(list(k)) = 0;
    e += len;
  }
  return e;
}

// Haplodiploid species with haploid offspring: the pair rates of the three kinds of pairs.
void count_haplodiploid(SibPairWork& work, SibPairCounts& out) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  grow_tally(work, largest_family(2));
  auto& t = work.tally;
  // Column 1: diploids per paternal family; 2: diploids per maternal family; 3: haploids per
  // maternal family.
  for (int4 i = 1; i <= n; ++i) {
    if (v.offploid(i) == 2) {
      ++t(v.offtgt(i, 1), 1);
      ++t(v.offtgt(i, 2), 2);
    } else {
      ++t(v.offtgt(i, 2), 3);
    }
  }
  int8 pp = 0;
  int8 mm = 0;
  int8 hh = 0;
  int8 hd = 0;
  for (int4 i = 1; i <= n; ++i) {
    // Each family is summed at its first visit, then cleared. A haploid offspring has no
    // father: its paternal column is not read.
    if (v.offploid(i) == 2) {
      const int4 f = v.offtgt(i, 1);
      pp += pairs_in(t(f, 1));
      t(f, 1) = 0;
    }
    const int4 m = v.offtgt(i, 2);
    mm += pairs_in(t(m, 2));
    hh += pairs_in(t(m, 3));
    hd += t(m, 2) * t(m, 3);
    t(m, 2) = 0;
    t(m, 3) = 0;
  }
  // Pair numbers in double: pp times P reaches 3e17, far beyond 32 bits.
  const real8 nn = n;
  const real8 d = v.smplsizedh(2);
  const real8 h = v.smplsizedh(1);
  const real8 p = nn * (nn - 1.0) / 2.0;
  const real8 pd = d * (d - 1.0) / 2.0;
  const real8 phh = h * (h - 1.0) / 2.0;
  const real8 phd = d * h;
  out.s1 = pd == 0.0 ? 0 : ne_nint(static_cast<real8>(pp) * p / pd);
  const real8 a = pd + 0.01;
  const real8 b = phd + 0.01;
  const real8 c = phh + 0.01;
  const real8 r = (static_cast<real8>(hh) / c * (c * c) + static_cast<real8>(hd) / b * (b * b) +
                   static_cast<real8>(mm) / a * (a * a)) /
                  (a * a + c * c + b * b);
  out.s2 = v.smplsizedh(1) == 1 ? ne_nint(4.0 * r / 3.0 * p) : ne_nint(4.0 * r * p);
}

// Two sexes: pairs sharing the parent of each counted sex.
void count_two_sexes(SibPairWork& work, const std::array<bool, 2>& counted, SibPairCounts& out) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  grow_tally(work, largest_family(2));
  auto& t = work.tally;
  std::array<int8, 2> sum{0, 0};
  for (int4 s = 1; s <= 2; ++s) {
    if (!counted[s - 1]) continue;
    for (int4 i = 1; i <= n; ++i) ++t(v.offtgt(i, s), 1);
    for (int4 i = 1; i <= n; ++i) {
      const int4 f = v.offtgt(i, s);
      sum[s - 1] += pairs_in(t(f, 1));
      t(f, 1) = 0;
    }
  }
  if (v.haplodiploid == 1) sum[1] *= 4;
  if (!counted[1]) sum[1] = sum[0];
  out.s1 = ne_nint(static_cast<real8>(sum[0]));
  out.s2 = ne_nint(static_cast<real8>(sum[1]));
}

// One sex: equal parent slots over all pairs; an outbred full-sib pair counts 2, a selfed 4.
void count_one_sex(SibPairWork& work, SibPairCounts& out) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  grow_tally(work, largest_family(2));
  auto& t = work.tally;
  int8 own = 0;
  for (int4 i = 1; i <= n; ++i) {
    ++t(v.offtgt(i, 1), 1);
    ++t(v.offtgt(i, 2), 1);
    own += v.offtgt(i, 1) == v.offtgt(i, 2) ? 4 : 2;
  }
  int8 squares = 0;
  for (int4 i = 1; i <= n; ++i) {
    for (int4 c = 1; c <= 2; ++c) {
      const int4 f = v.offtgt(i, c);
      squares += t(f, 1) * t(f, 1);
      t(f, 1) = 0;
    }
  }
  out.s1 = ne_nint(static_cast<real8>((squares - own) / 2));
  out.s2 = 0;
}

}  // namespace

void sibpair_prepare(SibPairWork& work) {
  const auto& v = variables;
  grow_tally(work, 1);
  for (int4 s = 1; s <= 2; ++s) {
    const index_t k = std::max<index_t>(v.numcandidate(s), 1);
    work.mark[s - 1].allocate(Dim(k));
    work.list[s - 1].allocate(Dim(k));
  }
}

SibPairCounts sibpair_count(SibPairWork& work, const std::array<bool, 2>& counted,
                            const std::array<bool, 2>& x) {
  const auto& v = variables;
  SibPairCounts out;
  out.e = excluded_count(work, x);
  if (v.smplsizedh(1) > 0)
    count_haplodiploid(work, out);
  else if (v.numsex == 2)
    count_two_sexes(work, counted, out);
  else
    count_one_sex(work, out);
  return out;
}

}  // namespace kinrad
