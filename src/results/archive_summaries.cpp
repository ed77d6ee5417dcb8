// The summaries of the weighted archive: for every offspring the pairs of parents the archive
// gives it, the distributions of the numbers of families, of offspring per parent and of mates
// per parent, and for a selfing parent pool the probability that each offspring is selfed.
// Each configuration k adds its weight w(k) (or shares of it) while the archive is walked; the
// files divide by the weight sum W at the end.
//
// The family-size table is single precision, as its file prints it: every increment is
// computed in double, converted to single precision and added in single precision, so the
// table depends on the order of the walk exactly as the file does.
//
// A parent-pair list keeps the first ten pairs met (those of the best configurations); once
// full, a configuration still adds to a pair already listed and only a new pair is dropped, so
// the listed pairs keep their full weight.
#include <algorithm>
#include <string>

#include "configuration/configuration.hpp"
#include "core/edit_format.hpp"
#include "core/fixed_string.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/sorting.hpp"
#include "results/archive_internal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// The known parent of sex s of offspring i as the walk left it (0 or less: none).
int4 known_parent(int4 i, int4 s) {
  const auto& v = variables;
  return v.indivparent.allocated() ? v.indivparent(i, s) : 0;
}

// The larger of the assigned and the known parent, 0 for an unsampled one.
int4 parent_of(int4 i, int4 s) {
  return std::max({variables.prnttgt(i, s), known_parent(i, s), 0});
}

// Rows of the family-size table: (3 - numsex) n, since with one parent pool family ids and a
// parent's offspring (counted in both roles) reach 2n.
int4 dist_rows() {
  const auto& v = variables;
  return (3 - v.numsex) * v.smplsize;
}

// D(r, col) += x, x converted to single precision first; a value outside the table's rows
// (only an empty sample gives one) adds nothing.
void add_to(ArchiveTallies& t, int4 r, int4 col, real8 x) {
  if (r < 1 || r > dist_rows()) return;
  t.dist(r, col) += static_cast<real4>(x);
}

// Selfed offspring: the same parent in both columns.
void tally_selfers(ArchiveTallies& t, real8 w) {
  const auto& v = variables;
  for (int4 i = 1; i <= v.smplsize; ++i)
    if (v.offtgt(i, 1) == v.offtgt(i, 2)) t.selfweight(i) += w;
}

// The largest id of column s of offtgt.
int4 largest_id(int4 s) {
  const auto& v = variables;
  int4 m = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) m = std::max(m, v.offtgt(i, s));
  return m;
}

// Distinct paternal ids among the diploid offspring, flagged once each and cleared again.
int4 diploid_fathers() {
  auto& v = variables;
  auto& flag = annealvariables.selectedprntidxq2;
  int4 m = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    if (v.offploid(i) == 1) continue;
    const int4 f = v.offtgt(i, 1);
    if (flag(f) == 0) {
      flag(f) = 1;
      v.kdxtgt(++m) = f;
    }
  }
  for (int4 k = 1; k <= m; ++k) flag(v.kdxtgt(k)) = 0;
  return m;
}

// Numbers of paternal and maternal families (columns 1 and 2).
void tally_family_counts(ArchiveTallies& t, real8 w, int4& m1, int4& m2) {
  const auto& v = variables;
  const bool haploids = v.smplsizedh(1) > 0;
  m1 = 0;
  m2 = 0;
  if (haploids) {
    // Haploid offspring have no father: only the diploid ones count families of fathers.
    if (v.smplsizedh(2) >= 1) {
      m1 = diploid_fathers();
      add_to(t, m1, 1, w);
    }
  } else {
    m1 = largest_id(1);
    add_to(t, m1, 1, w);
  }
  if (v.numsex == 2 && v.allmonogamy == 1 && !haploids) {
    // Monogamous pairs: as many mothers as fathers.
    if (m1 >= 1 && m1 <= dist_rows()) t.dist(m1, 2) = t.dist(m1, 1);
    m2 = m1;
    return;
  }
  m2 = largest_id(2);
  add_to(t, m2, 2, w);
}

// Distinct full-sib families: distinct keys of findfsfamilyid, counted over their sorted order.
int4 count_full_sib_families(ArchiveTallies& t) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (n < 1) return 0;
  findfsfamilyid(v.offtgt.view(), t.key.data());
  for (int4 i = 1; i <= n; ++i) t.sortvalue(i) = static_cast<real8>(t.key(i));
  indexx(n, t.sortvalue.data(), t.order.data());
  int4 f = 1;
  for (int4 k = 2; k <= n; ++k)
    if (t.key(t.order(k)) != t.key(t.order(k - 1))) ++f;
  return f;
}

// Number of full-sib families (column 3); a monogamous sex gives it directly. Without diploid
// offspring there are no fathers, so m1 becomes 0.
void tally_full_sib_count(ArchiveTallies& t, real8 w, int4& m1, int4 m2) {
  const auto& v = variables;
  int4 f = 0;
  if (v.numsex == 2) {
    if (v.smplsizedh(2) < 1) {
      f = m2;
      m1 = 0;
    } else if (v.monogamy(1) == 1) {
      f = m1;
    } else if (v.monogamy(2) == 1) {
      f = m2;
    }
  }
  if (f == 0) f = count_full_sib_families(t);
  add_to(t, f, 3, w);
}

// Offspring per father and per mother (columns 4 and 5), from the sibship-size counts: each
// family of size r adds its share w / T, T the number of families of that sex.
void tally_offspring_per_parent(ArchiveTallies& t, real8 w, int4 m1, int4 m2) {
  auto& v = variables;
  v.indivlocprt = v.offtgt.view();
  // sibshipsize counts every id up to nfam(s) (the paternal ones plus one per haploid
  // offspring); in one parent pool both columns go into the counters of sex 1. The counts
  // passed cover every id of the columns counted; ids without offspring fall in size 0, which
  // no row of the table reads.
  FStatic<int4, 1, 2> nfam{};
  if (v.numsex == 1) {
    nfam(1) = std::max({m1, m2, largest_id(1), largest_id(2)});
    nfam(2) = nfam(1);
  } else {
    nfam(1) = std::max(m1, largest_id(1) - v.smplsizedh(1));
    nfam(2) = std::max(m2, largest_id(2));
  }
  sibshipsize(nfam, 2);
  const int4 rows = std::min<int4>(dist_rows(), static_cast<int4>(v.sibshipsizedist.ubound(1)));
  for (int4 s = 1; s <= v.numsex; ++s) {
    int4 total = 0;
    for (int4 r = 1; r <= rows; ++r) total += v.sibshipsizedist(r, s);
    if (total < 1) continue;
    const real8 share = w / total;
    for (int4 r = 1; r <= rows; ++r) {
      const int4 c = v.sibshipsizedist(r, s);
      if (c > 0) add_to(t, r, 3 + s, c * share);
    }
  }
  if (v.numsex == 1)
    for (int4 r = 1; r <= dist_rows(); ++r) t.dist(r, 5) = t.dist(r, 4);
}

// The mates of every parent of one cluster: its rows (offspring order(from..to)) into
// indivloc1, its family structure built, and each parent's number of partners counted.
void count_cluster_mates(ArchiveTallies& t, int4 from, int4 to) {
  auto& v = variables;
  auto& rows = annealvariables.indivloc1;
  const int4 nrow = to - from + 1;
  for (int4 k = from; k <= to; ++k) {
    const int4 o = t.order(k);
    const int4 r = k - from + 1;
    rows(r, 1) = v.offtgt(o, 1);
    rows(r, 2) = v.offtgt(o, 2);
    rows(r, 4) = o;
  }
  v.indivlocprt = rows.view();
  int4 nmember = 0;
  int4 maxfamsize = 0;
  familybuild(0, nrow, 1, nmember, maxfamsize, 1, 0, 0, 0);
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  // In one parent pool an individual acting in one role only has no partner in the other;
  // such zero counts are not parents of that role and are left out.
  for (int4 p = 1; p <= np1; ++p) {
    int4 m = 0;
    for (int4 q = 1; q <= np2; ++q)
      if (v.nchild(p, q) > 0) ++m;
    if (m >= 1) ++t.mates1(m);
  }
  for (int4 q = 1; q <= np2; ++q) {
    int4 m = 0;
    for (int4 p = 1; p <= np1; ++p)
      if (v.nchild(p, q) > 0) ++m;
    if (m >= 1) ++t.mates2(m);
  }
}

// Mates per male and per female (columns 6 and 7), cluster by cluster.
void tally_mates(ArchiveTallies& t, real8 w) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.numsex == 2 && v.allmonogamy == 1) {
    add_to(t, 1, 6, w);
    add_to(t, 1, 7, w);
    return;
  }
  t.mates1.fill(0);
  t.mates2.fill(0);
  if (n >= 1) {
    for (int4 i = 1; i <= n; ++i) t.sortvalue(i) = v.offtgt(i, 3);
    indexx(n, t.sortvalue.data(), t.order.data());
    int4 from = 1;
    for (int4 k = 2; k <= n + 1; ++k) {
      if (k <= n && v.offtgt(t.order(k), 3) == v.offtgt(t.order(from), 3)) continue;
      count_cluster_mates(t, from, k - 1);
      from = k;
    }
  }
  for (int4 col = 6; col <= 7; ++col) {
    const auto& h = col == 6 ? t.mates1 : t.mates2;
    int4 total = 0;
    for (int4 r = 1; r <= n; ++r) total += h(r);
    if (total < 1) continue;
    const real8 share = w / total;
    for (int4 r = 1; r <= n; ++r)
      if (h(r) > 0) add_to(t, r, col, h(r) * share);
  }
}

// The pair (father, mother) of every offspring into its list.
void tally_parent_pairs(ArchiveTallies& t, real8 w) {
  const auto& v = variables;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 a = parent_of(i, 1);
    const int4 b = parent_of(i, 2);
    int4& count = t.paircount(i);
    int4 k = 1;
    while (k <= count && !(t.pair(1, k, i) == a && t.pair(2, k, i) == b)) ++k;
    if (k <= count) {
      t.pairweight(k, i) += w;
    } else if (count < ArchiveTallies::maxpairs) {
      ++count;
      t.pair(1, count, i) = a;
      t.pair(2, count, i) = b;
      t.pairweight(count, i) = w;
    }
  }
}

// The display name of parent p of sex s in the pooled parent-pair file.
std::string_view pooled_name(int4 p, int4 s) {
  const auto& v = variables;
  if (p >= 1) return trim_both(v.cndparentid(p, s).view());
  if (s == 2 || v.numsex == 1) return "#";
  return "*";
}

}  // namespace

void archive_tallies_setup(ArchiveTallies& t) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  t = ArchiveTallies{};
  t.pairs_on = v.numcandidate(1) >= 1 && v.numcandidate(2) >= 1;
  if (t.pairs_on) {
    t.paircount.allocate(Dim(n));
    t.pair.allocate(Dim(2), Dim(ArchiveTallies::maxpairs), Dim(n));
    t.pairweight.allocate(Dim(ArchiveTallies::maxpairs), Dim(n));
  }
  t.selfers_on = v.numsex == v.allowinbreeding;
  if (t.selfers_on) t.selfweight.allocate(Dim(n));
  t.dist.allocate(Dim(dist_rows()), Dim(7));
  t.mates1.allocate(Dim(n));
  t.mates2.allocate(Dim(n));
  t.key.allocate(Dim(n));
  t.sortvalue.allocate(Dim(n));
  t.order.allocate(Dim(n));
}

void archive_tally(ArchiveTallies& t, real8 w) {
  if (t.selfers_on) tally_selfers(t, w);
  int4 m1 = 0;
  int4 m2 = 0;
  tally_family_counts(t, w, m1, m2);
  tally_full_sib_count(t, w, m1, m2);
  tally_offspring_per_parent(t, w, m1, m2);
  tally_mates(t, w);
  if (t.pairs_on) tally_parent_pairs(t, w);
}

void write_parent_pairs(const ArchiveTallies& t, real8 wsum) {
  const auto& v = variables;
  if (!t.pairs_on || v.threadid != 0) return;
  ReplacingFile out = open_result_file(".ParentPair");
  out.write("(A)", "OffspringID,InferredDad,InferredMum,Probability");
  real8 prob[ArchiveTallies::maxpairs + 1];
  real8 negated[ArchiveTallies::maxpairs + 1];
  int4 order[ArchiveTallies::maxpairs + 1];
  std::string text;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 count = t.paircount(i);
    if (v.offploid(i) == 1 || count < 1) continue;
    for (int4 k = 1; k <= count; ++k) {
      prob[k] = t.pairweight(k, i) / wsum;
      negated[k] = -prob[k];
    }
    indexx(count, negated + 1, order + 1);
    for (int4 k = 1; k <= count; ++k) {
      const int4 j = order[k];
      if (prob[j] < 0.01) break;
      text.assign(v.offspringid(i).trimmed());
      text += ',';
      text += pooled_name(t.pair(1, j, i), 1);
      text += ',';
      text += pooled_name(t.pair(2, j, i), 2);
      text += ',';
      out.write("(A, F7.4)", std::string(trim_both(text)), prob[j]);
    }
  }
  out.commit();
}

void write_distribution(ArchiveTallies& t, real8 wsum) {
  const int4 rows = dist_rows();
  const real4 wf = static_cast<real4>(wsum);
  for (int4 c = 1; c <= 7; ++c)
    for (int4 r = 1; r <= rows; ++r) t.dist(r, c) = t.dist(r, c) / wf;
  if (variables.threadid != 0) return;
  ReplacingFile out = open_result_file(".Distribution");
  out.write("(3A)", "Number Fre(#PaternalFamily) Fre(#MaternalFamily)",
            " Fre(#FullSib-Family)   Fre(#Child/Father)   Fre(#Child/Mather)",
            "    Fre(#Mating/Male)  Fre(#Mating/Female)");
  // Rows up to the last one holding a value; inner rows of zeros are written.
  int4 last = 0;
  for (int4 r = rows; r >= 1 && last == 0; --r)
    for (int4 c = 1; c <= 7; ++c)
      if (t.dist(r, c) > 1e-300) last = r;
  for (int4 r = 1; r <= last; ++r)
    out.write("(I6,7F21.4)", r, t.dist(r, 1), t.dist(r, 2), t.dist(r, 3), t.dist(r, 4),
              t.dist(r, 5), t.dist(r, 6), t.dist(r, 7));
  out.commit();
}

void write_selfers(const ArchiveTallies& t, real8 wsum) {
  const auto& v = variables;
  if (!t.selfers_on || v.threadid != 0) return;
  ReplacingFile out = open_result_file(".Selfer");
  out.write("(A)", "OffspringID,Probability");
  for (int4 i = 1; i <= v.smplsize; ++i) {
    // An empty archive (no weight at all) shows 0 rather than 0/0.
    const real8 p = wsum > 0.0 ? t.selfweight(i) / wsum : 0.0;
    out.write("(2A, F6.3)", std::string(v.offspringid(i).trimmed()), ",", p);
  }
  out.commit();
}

}  // namespace kinrad
