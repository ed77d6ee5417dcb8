#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// Rows of locus2gtypefre when nothing has laid the table out yet: three class rows, then
// three per observed class when candidates exist (two observed classes when every two-allele
// locus is dominant), then the haploid rows of a haplodiploid species.
void layout_locus2gtypefre() {
  Variables& v = variables;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  int4 rows = 3;
  if (v.allcandidate > 0) {
    bool alldominant = true;
    for (int4 c = 1; c <= n2; ++c) {
      if (v.dominantmarker(v.locus2(c)) == 0) alldominant = false;
    }
    rows = 3 * (alldominant ? 2 : 3) + 3;
  }
  v.l2lb(2) = rows;
  if (v.haplodiploid == 1) rows += v.allcandidate > 0 ? 6 : 2;
  v.locus2gtypefre.allocate(Dim(rows), Dim(0, 0));
}

void fill_column(int4 column, int4 locus) {
  Variables& v = variables;
  FArray<real8, 2>& t = v.locus2gtypefre;
  const real8 f = v.inbreeding;
  const real8 p = v.obsallelefre(locus).a(1);
  const real8 q = 1.0 - p;
  real8 freq[3] = {((1.0 - f) * p + f) * p, 2.0 * (1.0 - f) * p * q, ((1.0 - f) * q + f) * q};
  if (f < -1e-300) {
    // A negative inbreeding coefficient can drive a homozygote's frequency below 0.
    if (freq[0] < 0.0) freq[0] = 0.0;
    if (freq[2] < 0.0) freq[2] = 0.0;
  }
  for (int4 r = 0; r < 3; ++r) t(r + 1, column) = freq[r];
  if (v.allcandidate > 0) {
    // Joint probabilities of each true class and each observed class (1/1, 1/2, 2/2, or the
    // two phenotypes of a dominant locus), for candidate parents typed at the locus.
    static constexpr int4 truth[3][2] = {{1, 1}, {1, 2}, {2, 2}};
    const bool dominant = v.dominantmarker(locus) != 0;
    const int4 numobserved = dominant ? 2 : 3;
    for (int4 g = 1; g <= numobserved; ++g) {
      const int4 observed[2] = {dominant ? g : truth[g - 1][0], dominant ? 0 : truth[g - 1][1]};
      for (int4 r = 0; r < 3; ++r) {
        t(3 * g + r + 1, column) = prbgtop(truth[r][0], truth[r][1], observed, locus) * freq[r];
      }
    }
  }
  if (v.haplodiploid == 1) {
    const int4 h = v.l2lb(2);
    const real8 hf[2] = {p, q};
    t(h + 1, column) = p;
    t(h + 2, column) = q;
    if (v.allcandidate > 0) {
      // Row h + 2o + a: true allele a observed as allele o.
      for (int4 o = 1; o <= 2; ++o) {
        for (int4 a = 1; a <= 2; ++a)
          t(h + 2 * o + a, column) = prbgtophaploid(a, o, locus) * hf[a - 1];
      }
    }
  }
}

}  // namespace

void computegtypefre(int4 first, int4 last) {
  Variables& v = variables;
  if (!v.locus2gtypefre.allocated()) layout_locus2gtypefre();
  const index_t rows = v.locus2gtypefre.size(1);
  if (first < 1) {
    // No position is filled: one column for position 0, which is no locus, so every user finds
    // its position outside the table and refills it.
    if (v.locus2gtypefre.lbound(2) != 0 || v.locus2gtypefre.ubound(2) != 0) {
      v.locus2gtypefre.allocate(Dim(rows), Dim(0, 0));
    }
    v.l2lb(1) = 0;
    return;
  }
  const index_t columns = last >= first ? last - first + 1 : 0;
  if (v.locus2gtypefre.size(2) != columns || v.locus2gtypefre.lbound(2) != 0) {
    v.locus2gtypefre.allocate(Dim(rows), Dim(0, columns - 1));
  }
  v.l2lb(1) = first;
  for (int4 pos = first; pos <= last; ++pos) fill_column(pos - first, v.locus2(pos));
}

void recomputeallelefre(int4 locus, std::span<real8> x) {
  Variables& v = variables;
  const int4 k = v.obsnumallele(locus);
  if (k < 1) return;
  // Marks of the candidates that the best configuration uses as parents; clear between calls.
  // A known parent is one of them although it is never written into the assigned parents: its
  // family's posterior counts already hold its alleles, so it must not add them a second time.
  std::vector<int1>& used = v.parent_marks;
  const int4 nc1 = v.numcandidate(1);
  const int4 nc2 = v.numcandidate(2);
  used.resize(static_cast<std::size_t>((nc1 > nc2 ? nc1 : nc2) + 1));
  const bool dominant = v.dominantmarker(locus) != 0;
  const int4 numoff =
      v.btinferparent.allocated() ? static_cast<int4>(v.btinferparent.ubound(1)) : 0;
  const int4 numknown = v.indivparent.allocated() ? static_cast<int4>(v.indivparent.ubound(1)) : 0;
  setgetgtype.locusgtypeptr = v.cndgtype2.allocated() ? v.cndgtype2(locus).a : FView<int2, 1>();
  for (int4 s = 1; s <= 2; ++s) {
    const int4 nc = v.numcandidate(s);
    if (nc < 1) continue;
    // With one parent pool a candidate can be a parent in either column.
    const int4 colfrom = v.numsex == 1 ? 1 : s;
    const int4 colto = v.numsex == 1 ? 2 : s;
    for (int4 col = colfrom; col <= colto; ++col) {
      for (int4 i = 1; i <= numoff; ++i) {
        const int4 c = v.btinferparent(i, col);
        if (c >= 1 && c <= nc) used[static_cast<std::size_t>(c)] = 1;
      }
      for (int4 i = 1; i <= numknown; ++i) {
        const int4 c = v.indivparent(i, col);
        if (c >= 1 && c <= nc) used[static_cast<std::size_t>(c)] = 1;
      }
    }
    const bool diploid = v.ploidy(s) != 1;
    const real8 q = v.obsallelefre(locus).a(2);
    const int4 offset = s == 2 ? nc1 : 0;
    for (int4 c = 1; c <= nc; ++c) {
      if (used[static_cast<std::size_t>(c)] != 0) continue;
      int2 g = 0;
      getgtype(g, offset + c, k);
      if (g < 1) continue;
      const int4 a1 = v.genotypeid(1, g);
      const int4 a2 = v.genotypeid(2, g);
      if (dominant && diploid) {
        // A band carrier's expected allele copies given the recessive frequency q.
        if (a1 == 1) {
          x[0] += 2.0 / (1.0 + q);
          x[1] += 2.0 * q / (1.0 + q);
        } else {
          x[1] += 2.0;
        }
        continue;
      }
      if (a1 >= 1) x[static_cast<std::size_t>(a1 - 1)] += 1.0;
      if (diploid && a2 >= 1) x[static_cast<std::size_t>(a2 - 1)] += 1.0;
    }
    for (int4 c = 1; c <= nc; ++c) used[static_cast<std::size_t>(c)] = 0;
  }
  real8 total = 0.0;
  for (int4 a = 0; a < k; ++a) total += x[static_cast<std::size_t>(a)];
  if (total < 30.0) {
    for (int4 a = 0; a < k; ++a) {
      x[static_cast<std::size_t>(a)] = (x[static_cast<std::size_t>(a)] + 1.0) / (total + k);
    }
  } else {
    for (int4 a = 0; a < k; ++a) x[static_cast<std::size_t>(a)] /= total;
  }
}

}  // namespace kinrad
