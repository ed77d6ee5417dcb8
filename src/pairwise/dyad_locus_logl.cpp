// Dyad log likelihoods of every pair of one table over all polymorphic loci. The joint
// probability is computed once per pair of distinct observed genotypes (classes) at a locus;
// the table's entries are then updated by look-ups, two loci per pass, in place.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <new>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

using cls_t = std::uint16_t;

// Combined two-locus class tables up to this many entries stay in the first-level cache;
// larger ones are replaced by two one-locus look-ups per entry (the same float sums).
constexpr std::size_t combined_table_limit = 4096;

// Class numbers (from 0, in order of first appearance, untyped included) of individuals
// first..first+count-1 of one packed column, and the genotype number of each class.
void number_classes(const I2bdim1& column, int4 first, int4 count, int4 nallele,
                    std::vector<int4>& mark, std::vector<cls_t>& cls, std::vector<int4>& geno) {
  setgetgtype.locusgtypeptr = column.a;
  geno.clear();
  for (int4 k = 0; k < count; ++k) {
    int2 g = 0;
    getgtype(g, first + k, nallele);
    int4& m = mark[static_cast<std::size_t>(g)];
    if (m < 0) {
      m = static_cast<int4>(geno.size());
      geno.push_back(g);
    }
    cls[static_cast<std::size_t>(k)] = static_cast<cls_t>(m);
  }
  for (int4 g : geno) mark[static_cast<std::size_t>(g)] = -1;
}

struct Member {
  real8 F = 0.0;
  int4 ploidy = 2;
};

// T(a, b) for member-A classes a and member-B classes b, stored as tab[row * kentry + entry]
// with the row member's class as row (B for the offspring-pair tables, A for the parent ones).
void class_table(int4 locus, std::span<const real8, 9> delta, const std::vector<int4>& genoa,
                 const std::vector<int4>& genob, const Member& a, const Member& b, bool rowisb,
                 std::vector<real4>& tab) {
  const Variables& v = variables;
  const std::size_t ka = genoa.size();
  const std::size_t kb = genob.size();
  tab.assign(ka * kb, 0.0f);
  for (std::size_t x = 0; x < ka; ++x) {
    const int4 ga[2] = {v.genotypeid(1, genoa[x]), v.genotypeid(2, genoa[x])};
    for (std::size_t y = 0; y < kb; ++y) {
      int4 gb[2] = {v.genotypeid(1, genob[y]), v.genotypeid(2, genob[y])};
      if (b.ploidy == 1) gb[1] = 0;
      real8 p = 1.0;
      if (genoa[x] == 0) {
        probsinglegtype(b.F, b.ploidy, locus, gb, p);
      } else if (genob[y] == 0) {
        probsinglegtype(a.F, 2, locus, ga, p);
      } else {
        p = prbpdyad(ga[0], ga[1], gb[0], gb[1], delta, locus, 0);
      }
      const real4 t = p > 0.0 ? static_cast<real4>(std::log(p)) : impossible_pair;
      tab[rowisb ? y * ka + x : x * kb + y] = t;
    }
  }
}

// The rows of one table: row r has its entries at base + offset(r), the row member index
// rowmember(r) and the entry members first(r)..first(r)+count(r)-1.
struct RowLayout {
  int4 type = 0;
  int4 n = 0;
  int4 ncand = 0;
  real4* base = nullptr;
  int4 rows_first = 0;
  int4 rows_last = -1;
  struct Row {
    real4* e;
    int4 member;
    int4 first;
    int4 count;
  };
  Row row(int4 r) const {
    const index_t nn = n;
    switch (type) {
      case 1:
      case 3:
      case 5:  // row i: partners 1..i-1 (member A), i is member B
        return {base + tri_by_larger(1, r), r, 1, r - 1};
      case 2:  // row r: partners r+1..n (member A), r is member B
        return {base + tri_by_smaller(r, r + 1, n), r, r + 1, n - r};
      case 4:  // column r of the n x n table: A = 1..n, B = r
        return {base + (r - 1) * nn, r, 1, n};
      default:  // offspring r (member A) with candidates 1..ncand (member B)
        return {base, r, 1, ncand};
    }
  }
};

// The rows of table type over the sample: where each table starts and which rows it has.
RowLayout table_layout(int4 type, int4 n, int4 ncand) {
  Variables& v = variables;
  RowLayout lay;
  lay.type = type;
  lay.n = n;
  lay.ncand = ncand;
  switch (type) {
    case 1:
      lay.base = v.prbfstri.data(), lay.rows_first = 2, lay.rows_last = n;
      break;
    case 2:
      lay.base = v.prbhstri.data(), lay.rows_first = 1, lay.rows_last = n - 1;
      break;
    case 3:
      lay.base = v.prbmhsibtri.data(), lay.rows_first = 2, lay.rows_last = n;
      break;
    case 4:
      lay.base = v.prbselfoutpair.data(), lay.rows_first = 1, lay.rows_last = n;
      break;
    case 5:
      lay.base = v.prbsstri.data(), lay.rows_first = 2, lay.rows_last = n;
      break;
    default:
      lay.rows_first = 1, lay.rows_last = ncand > 0 ? n : 0;
      break;
  }
  return lay;
}

// The class tables of one locus: the row and entry members' classes and the table T.
struct LocusClasses {
  std::vector<cls_t> offc, cndc;
  std::vector<int4> offg, cndg;
  std::vector<real4> t;
};

// One call over one table: its layout, the members' inbreeding and ploidy, and the work
// storage for the whole call (class numbers per individual and locus of the pass, combined
// classes, genotype marks and the class tables).
struct DyadTableRun {
  int4 type = 0;
  int4 n = 0;
  bool parenttype = false;
  int4 ncand = 0;
  int4 coffset = 0;
  Member ma, mb;
  bool showing = false;
  std::span<const real8, 9> delta;
  RowLayout lay;
  std::vector<int4> mark;
  LocusClasses c1, c2;
  std::vector<cls_t> offcc, cndcc;
  std::vector<real4> tt;
  std::vector<int1> localflags;
  bool earlyexit = false;
  int1* skip = nullptr;
  int4 pstep = 100;
  int4 progress = 0;

  DyadTableRun(int4 show, int4 type_, std::span<const real8, 9> delta_, int4 bploidy)
      : type(type_), delta(delta_) {
    Variables& v = variables;
    n = v.smplsize;
    parenttype = type >= 6;
    const int4 psex = (type == 8 || (type == 6 && v.numsex == 1)) ? 2 : 1;
    ncand = parenttype ? v.numcandidate(psex) : 0;
    coffset = psex == 2 ? v.numcandidate(1) : 0;
    ma = Member{delta[2] >= 0.1 ? 0.5 : 0.0, 2};
    mb = Member{delta[4] >= 0.1 ? 0.5 : 0.0, bploidy};
    showing = show != 0 && v.threadid == 0;
    lay = table_layout(type, n, ncand);
    pstep = n >= 10000 ? 10 : 100;
  }

  // The entries of row r (the candidate pair table reached through its window).
  RowLayout::Row row_of(int4 r) const {
    RowLayout::Row row = lay.row(r);
    if (parenttype) row.e = &variables.prbpopairtgt(coffset + 1, r);
    return row;
  }

  // Allocates the work storage; out of memory is the error stop.
  void allocate_work() {
    try {
      mark.assign(static_cast<std::size_t>(std::max(variables.maxnumgenotype, 6)) + 2, -1);
      for (auto* c : {&c1.offc, &c2.offc, &offcc}) c->assign(static_cast<std::size_t>(n), 0);
      for (auto* c : {&c1.cndc, &c2.cndc, &cndcc}) c->assign(static_cast<std::size_t>(ncand), 0);
      tt.reserve(combined_table_limit);
    } catch (const std::bad_alloc&) {
      stoponerror(0, "Compute_Dyad_Locus2_LogL");
    }
  }

  // Offspring without a possible parent left are skipped once some locus is error-free: the
  // flags are the annealing's selection flags where they exist, else a local copy.
  void set_skip_flags() {
    earlyexit = parenttype && variables.anymarkererrorfreeq == 1;
    if (!earlyexit) return;
    FArray<int1, 1>& flags = annealvariables.selectedprntidxq2;
    if (flags.allocated() && flags.size() >= n) {
      skip = &flags(flags.lbound(1));
    } else {
      localflags.assign(static_cast<std::size_t>(n), 0);
      skip = localflags.data();
    }
  }

  // Classes and class table of one locus.
  void locus_table(int4 locus, LocusClasses& c) {
    const Variables& v = variables;
    const int4 k = v.obsnumallele(locus);
    number_classes(v.indivgtype2(locus), 1, n, k, mark, c.offc, c.offg);
    if (parenttype) number_classes(v.cndgtype2(locus), coffset + 1, ncand, k, mark, c.cndc, c.cndg);
    const std::vector<int4>& bg = parenttype ? c.cndg : c.offg;
    class_table(locus, delta, c.offg, bg, ma, mb, !parenttype, c.t);
  }

  // Adds the log likelihoods of one locus, or of two loci in one pass (pair), to the table.
  void add_loci(int4 locus1, int4 locus2, bool pair) {
    locus_table(locus1, c1);
    const std::size_t ka1 = c1.offg.size();
    const std::size_t kb1 = (parenttype ? c1.cndg : c1.offg).size();
    std::size_t ka2 = 1, kb2 = 1;
    if (pair) {
      locus_table(locus2, c2);
      ka2 = c2.offg.size();
      kb2 = (parenttype ? c2.cndg : c2.offg).size();
    }
    // Entry members' classes and row members' classes, with their counts.
    const std::vector<cls_t>& e1 = parenttype ? c1.cndc : c1.offc;
    const std::vector<cls_t>& e2 = parenttype ? c2.cndc : c2.offc;
    const std::vector<cls_t>& r1 = c1.offc;
    const std::vector<cls_t>& r2 = c2.offc;
    const std::size_t ke1 = parenttype ? kb1 : ka1;
    const std::size_t ke2 = parenttype ? kb2 : ka2;
    const std::size_t kr2 = parenttype ? ka2 : kb2;
    const bool combined = pair && (ka1 * ka2) * (kb1 * kb2) <= combined_table_limit;
    std::vector<cls_t>& ecc = parenttype ? cndcc : offcc;
    const std::size_t kecomb = ke1 * ke2;
    if (combined) combine_tables(parenttype ? ka1 : kb1, kr2, ke1, ke2, e1, e2, ecc);
    const std::vector<real4>& t1 = c1.t;
    const std::vector<real4>& t2 = c2.t;
    for (int4 r = lay.rows_first; r <= lay.rows_last; ++r) {
      if (skip && skip[r - 1]) continue;
      const RowLayout::Row row = row_of(r);
      real4* __restrict e = row.e;
      const std::size_t off = static_cast<std::size_t>(row.first - 1);
      const std::size_t rm = static_cast<std::size_t>(row.member - 1);
      const std::size_t cnt = static_cast<std::size_t>(std::max(row.count, 0));
      if (combined) {
        const real4* trow = tt.data() + (static_cast<std::size_t>(r1[rm]) * kr2 + r2[rm]) * kecomb;
        const cls_t* c = ecc.data() + off;
        for (std::size_t k = 0; k < cnt; ++k) e[k] += trow[c[k]];
      } else if (pair) {
        const real4* ta = t1.data() + static_cast<std::size_t>(r1[rm]) * ke1;
        const real4* tb = t2.data() + static_cast<std::size_t>(r2[rm]) * ke2;
        const cls_t* ca = e1.data() + off;
        const cls_t* cb = e2.data() + off;
        for (std::size_t k = 0; k < cnt; ++k) e[k] += ta[ca[k]] + tb[cb[k]];
      } else {
        const real4* ta = t1.data() + static_cast<std::size_t>(r1[rm]) * ke1;
        const cls_t* ca = e1.data() + off;
        for (std::size_t k = 0; k < cnt; ++k) e[k] += ta[ca[k]];
      }
    }
  }

  // tt(row class (r1, r2), entry class (e1, e2)) = T1 + T2, rounded to single precision once,
  // as the two-locus sum each entry receives; and the combined classes of the members.
  void combine_tables(std::size_t kr1, std::size_t kr2, std::size_t ke1, std::size_t ke2,
                      const std::vector<cls_t>& e1, const std::vector<cls_t>& e2,
                      std::vector<cls_t>& ecc) {
    const std::size_t kecomb = ke1 * ke2;
    const std::vector<real4>& t1 = c1.t;
    const std::vector<real4>& t2 = c2.t;
    tt.assign(kr1 * kr2 * kecomb, 0.0f);
    for (std::size_t x1 = 0; x1 < kr1; ++x1)
      for (std::size_t x2 = 0; x2 < kr2; ++x2)
        for (std::size_t y1 = 0; y1 < ke1; ++y1)
          for (std::size_t y2 = 0; y2 < ke2; ++y2)
            tt[(x1 * kr2 + x2) * kecomb + y1 * ke2 + y2] = t1[x1 * ke1 + y1] + t2[x2 * ke2 + y2];
    for (std::size_t k = 0; k < ecc.size(); ++k) ecc[k] = static_cast<cls_t>(e1[k] * ke2 + e2[k]);
    if (parenttype) {
      for (std::size_t k = 0; k < offcc.size(); ++k)
        offcc[k] = static_cast<cls_t>(c1.offc[k] * kr2 + c2.offc[k]);
    }
  }

  // Flags the rows none of whose entries is possible any more.
  void flag_hopeless_rows() {
    if (!earlyexit) return;
    for (int4 r = lay.rows_first; r <= lay.rows_last; ++r) {
      if (skip[r - 1]) continue;
      const RowLayout::Row row = row_of(r);
      bool none = true;
      for (int4 k = 0; k < row.count && none; ++k) none = row.e[k] <= impossible_pair;
      if (none) skip[r - 1] = 1;
    }
  }

  // Every polymorphic locus in list order (two-allele loci, then loci of more alleles), two
  // per pass; then the skip flags cleared again.
  void add_all_loci() {
    const Variables& v = variables;
    std::vector<int4> loci;
    std::vector<int4> listpos;
    const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
    const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
    for (int4 l = 1; l <= n2 + n3; ++l) {
      const int4 locus = l <= n2 ? v.locus2(l) : v.locus3(l - n2);
      if (v.obsnumallele(locus) < 2) continue;
      loci.push_back(locus);
      listpos.push_back(l);
    }
    for (std::size_t p = 0; p < loci.size(); p += 2) {
      const bool pair = p + 1 < loci.size();
      for (std::size_t q = p; q < p + (pair ? 2 : 1); ++q)
        if (showing) writeprogress(progress, pstep, " Locus:" + itoc(listpos[q]));
      add_loci(loci[p], pair ? loci[p + 1] : 0, pair);
      flag_hopeless_rows();
    }
    if (earlyexit && !localflags.size())
      for (int4 i = 0; i < n; ++i) skip[i] = 0;
  }

  // Sums below the marker, -infinity included, become the marker itself.
  void floor_at_marker() {
    for (int4 r = lay.rows_first; r <= lay.rows_last; ++r) {
      const RowLayout::Row row = row_of(r);
      for (int4 k = 0; k < row.count; ++k)
        if (row.e[k] < impossible_pair) row.e[k] = impossible_pair;
    }
    if (showing && variables.igui != 1 && progress / pstep > 9)
      fwrite(std::cout, "(A)", std::string(variables.blkln.view()));
  }

  // Pairs the relationship rules out by ploidy in a haplodiploid species; and two haploid full
  // sibs, a haploid and a diploid maternal half sib, and a haploid offspring with a candidate
  // mother, whose dyad sums would treat a haploid as a diploid homozygote: those are worth the
  // likelihood of their trial family (one father, one mother) instead, without its
  // sibship-size prior term, so that the entries stay pure pair likelihoods like the others.
  void rescore_haploid_pairs() {
    if (variables.smplsizedh(1) <= 0) return;
    if (type == 1 || type == 2 || type == 3) {
      rescore_haploid_sibs();
    } else if (type == 8) {
      for (int4 r = lay.rows_first; r <= lay.rows_last; ++r)
        if (haploid(r)) {
          const RowLayout::Row row = row_of(r);
          // An entry already at the marker keeps it: the caller's exclusions start there.
          for (int4 k = 0; k < row.count; ++k)
            if (row.e[k] > impossible_pair)
              row.e[k] = stored(trialfamilydyad(Trial::alone, r, r, r, 2, row.first + k));
        }
    } else if (type == 7) {
      for (int4 r = lay.rows_first; r <= lay.rows_last; ++r)
        if (haploid(r)) {
          const RowLayout::Row row = row_of(r);
          for (int4 k = 0; k < row.count; ++k) row.e[k] = impossible_pair;
        }
    }
  }

  // The sib tables' pairs with a haploid member.
  void rescore_haploid_sibs() {
    // Progress marks every 500 (full sibs) or 2000 (maternal half sibs) trial families.
    const int4 fstep = type == 1 ? 500 : 2000;
    int4 scored = 0;
    for (int4 r = lay.rows_first; r <= lay.rows_last; ++r) {
      const RowLayout::Row row = row_of(r);
      for (int4 k = 0; k < row.count; ++k) {
        const int4 j = row.first + k;
        const int4 h = (haploid(r) ? 1 : 0) + (haploid(j) ? 1 : 0);
        if ((type == 1 && h == 1) || (type == 2 && h >= 1) || (type == 3 && h == 2)) {
          row.e[k] = impossible_pair;
        } else if ((type == 1 && h == 2) || (type == 3 && h == 1)) {
          row.e[k] = stored(trialfamilydyad(Trial::fullsibs, std::min(j, r), std::max(j, r), 0));
          if (showing) writeprogress(scored, fstep);
        }
      }
    }
    if (showing && scored > fstep) fwrite(std::cout, "(A)", std::string(variables.blkln.view()));
  }

  static bool haploid(int4 i) { return variables.offploid(i) == 1; }
  // A trial family's log likelihood as a table entry (the marker where it is lower).
  static real4 stored(real8 logl) {
    return logl > static_cast<real8>(impossible_pair) ? static_cast<real4>(logl) : impossible_pair;
  }
};

}  // namespace

void compute_dyad_locus2_logl(int4 show, int4 type, std::span<const real8, 9> delta, int4 bploidy) {
  DyadTableRun run(show, type, delta, bploidy);
  run.allocate_work();
  run.set_skip_flags();
  run.add_all_loci();
  run.floor_at_marker();
  run.rescore_haploid_pairs();
  // The pairwise score's full-sib sums are rebuilt from the new values.
  if (type == 1) variables.prbpairsum.deallocate();
}

}  // namespace kinrad
