// The archive fractions of the sib dyads. For offspring i, every archived configuration adds its
// weight to A(j, k) for each later offspring j that is its full sib (k = 1), paternal half sib
// (k = 2) or maternal half sib (k = haplodiploid + 2) there. Visiting every (i, j, record)
// triple would cost n^2 times the archive length (10^10 at n = 5000), so each record is linked
// once per family column: from any offspring to the next one after it with the same family id.
// The walk for i then follows only the chains of i's own ids and meets only the j that share a
// parent with it. Every A(j, k) still receives its weights in record order, at most one per
// record, so the sums are those of the plain triple loop.
#include <algorithm>

#include "core/modules/variables.hpp"
#include "results/dyad_internal.hpp"

namespace kinrad {

namespace {

constexpr std::uint16_t entry(int4 j, int4 col) {
  return static_cast<std::uint16_t>(2 * (j - 1) + col);
}
constexpr int4 entry_offspring(std::uint16_t e) {
  return (static_cast<int4>(e) + 1) / 2;
}
constexpr int4 entry_column(std::uint16_t e) {
  return static_cast<int4>(e) % 2 == 1 ? 1 : 2;
}

const FArray<std::uint16_t, 1>& column(const Config& r, int4 col) {
  return col == 1 ? r.fam1 : r.fam2;
}

// Links one record: next(col, j, c) is the following entry with the same id (in one pool the
// entries of both columns in order (j, column)); the id table is emptied again afterwards.
void link_record(SibDyadArchive& a, int4 c) {
  const int4 n = variables.smplsize;
  const Config& r = *a.record[static_cast<std::size_t>(c - 1)];
  const int4 cols = a.mothers ? 2 : 1;
  auto& last = a.last;
  if (a.pool) {
    for (int4 j = n; j >= 1; --j)
      for (int4 col = 2; col >= 1; --col) {
        std::uint16_t& l = last[column(r, col)(j)];
        a.next(col, j, c) = l;
        l = entry(j, col);
      }
    for (int4 j = 1; j <= n; ++j) last[r.fam1(j)] = last[r.fam2(j)] = 0;
    return;
  }
  for (int4 col = 1; col <= cols; ++col) {
    const auto& ids = column(r, col);
    for (int4 j = n; j >= 1; --j) {
      std::uint16_t& l = last[ids(j)];
      a.next(col, j, c) = l;
      l = entry(j, col);
    }
    for (int4 j = 1; j <= n; ++j) last[ids(j)] = 0;
  }
}

}  // namespace

void sib_dyad_index(SibDyadArchive& a) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  a.record.clear();
  for (const Config* c = v.confighead; c != nullptr; c = c->next) a.record.push_back(c);
  a.records = static_cast<int4>(a.record.size());
  a.pool = v.numsex == 1;
  a.mothers = a.pool || !(v.numsex == 2 && v.allmonogamy == 1);
  a.next.allocate(Dim(2), Dim(std::max(n, 1)), Dim(std::max(a.records, 1)));
  a.last.assign(65536, 0);
  a.seen.allocate(Dim(n));
  a.stamp = 0;
  if (n < 1) return;
  for (int4 c = 1; c <= a.records; ++c) link_record(a, c);
}

int4 sib_dyad_column(const Config& r, int4 i, int4 j) {
  const auto& v = variables;
  const int4 maternal = v.haplodiploid + 2;
  const bool feq = r.fam1(i) == r.fam1(j);
  if (v.numsex == 1) {
    if (feq && r.fam2(i) == r.fam2(j)) return 1;
    const bool share =
        feq || r.fam1(i) == r.fam2(j) || r.fam2(i) == r.fam1(j) || r.fam2(i) == r.fam2(j);
    return share ? 2 : 0;
  }
  if (v.allmonogamy == 1) return feq ? 1 : 0;
  const bool meq = r.fam2(i) == r.fam2(j);
  const bool jhaploid = v.offploid(j) == 1;
  if (v.offploid(i) == 1) {
    if (!meq) return 0;
    return jhaploid ? 1 : maternal;
  }
  if (jhaploid) return meq ? maternal : 0;
  if (v.monogamy(1) == 1) {
    if (feq) return 1;
    return meq ? maternal : 0;
  }
  if (v.monogamy(2) == 1) {
    if (meq) return 1;
    return feq ? 2 : 0;
  }
  if (feq && meq) return 1;
  if (feq) return 2;
  return meq ? maternal : 0;
}

void sib_dyad_fractions(SibDyadArchive& a, const FArray<real8, 1>& weight, real8 wsum, int4 i,
                        FArray<real8, 2>& frac, FArray<real8, 2>* sides) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 K = v.haplodiploid + 2;
  for (int4 k = 1; k <= K; ++k)
    for (int4 j = i + 1; j <= n; ++j) frac(j, k) = 0.0;
  // Roles of one parent pool have no side.
  if (v.numsex != 2) sides = nullptr;
  if (sides != nullptr)
    for (int4 k = 1; k <= 2; ++k)
      for (int4 j = i + 1; j <= n; ++j) (*sides)(j, k) = 0.0;
  if (i >= n) return;
  // The chains i's own ids start: both columns, except that a haploid offspring has no father
  // and that the records of a doubly monogamous species hold the paternal column alone.
  const bool fathers = a.pool || v.offploid(i) == 2 || !a.mothers;
  const bool mothers = a.mothers;
  for (int4 c = 1; c <= a.records; ++c) {
    const Config& r = *a.record[static_cast<std::size_t>(c - 1)];
    const real8 w = weight(c);
    const std::int64_t stamp = ++a.stamp;
    for (int4 col = 1; col <= 2; ++col) {
      if ((col == 1 && !fathers) || (col == 2 && !mothers)) continue;
      for (std::uint16_t e = a.next(col, i, c); e != 0;
           e = a.next(entry_column(e), entry_offspring(e), c)) {
        const int4 j = entry_offspring(e);
        auto& seen = a.seen(j);
        if (j == i || seen == stamp) continue;
        seen = stamp;
        const int4 k = sib_dyad_column(r, i, j);
        if (k != 0) frac(j, k) += w;
        // Haplodiploid columns are the sides; a diploid half-sib pair of two sexes shares the
        // father exactly when the paternal ids agree.
        if (sides != nullptr && k >= 2)
          (*sides)(j, K == 3 ? k - 1 : (r.fam1(i) == r.fam1(j) ? 1 : 2)) += w;
      }
    }
  }
  // Without weight nothing is listed.
  for (int4 k = 1; k <= K; ++k)
    for (int4 j = i + 1; j <= n; ++j) frac(j, k) = wsum > 0.0 ? frac(j, k) / wsum : 0.0;
  if (sides != nullptr)
    for (int4 k = 1; k <= 2; ++k)
      for (int4 j = i + 1; j <= n; ++j) (*sides)(j, k) = wsum > 0.0 ? (*sides)(j, k) / wsum : 0.0;
}

}  // namespace kinrad
