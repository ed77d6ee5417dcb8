// The full-sib table of a family of more than 8 alleles at a codominant locus with typing
// errors. Each parental genotype is coded by the alleles it shares with each distinct offspring
// genotype in turn; a pair's log probability is the sum over those genotypes of a weighted
// class table. Diploid species first screen out parental genotypes that carry neither allele
// of a frequent offspring genotype; haploid fathers get a table of mother genotype by allele.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "likelihood/fs_prob_error_internal.hpp"
#include "likelihood/work_arrays_internal.hpp"

namespace kinrad {

namespace {

// Class of a parental genotype by the codes of its two alleles (genotype number over the
// three codes 1/1, 1/2, 1/3, 2/2, 2/3, 3/3). For a homozygous offspring genotype only codes 1
// and 2 occur and (2, 2) is class 3: 1/1, 1/2, 2/2.
constexpr int4 kIp[3][3] = {{1, 2, 3}, {2, 4, 5}, {3, 5, 6}};

inline int4 parent_class(int4 c1, int4 c2, int4 kind) {
  if (kind == 2 && c1 == 2 && c2 == 2) return 3;
  return kIp[c1 - 1][c2 - 1];
}

// The class carrying neither allele of an offspring genotype of each kind.
constexpr int4 kNeither[3] = {0, 6, 3};

// One call: the family's offspring genotypes of each kind (1 heterozygous, 2 homozygous) and
// the weighted class table of the genotype in hand.
struct Fs3Pass {
  int4 fam = 0;
  int4 dim = 0;  // parental genotypes in the table
  int4 n = 0;    // family alleles
  int4 g = 0;    // parental genotypes over the family alleles
  int4 bk = 0;   // observation block of the locus
  bool haplo = false;
  int4 col0 = 0;  // the family's genotype list starts after col0
  int4 nkind[3] = {0, 0, 0};
  int4 first[3] = {0, 0, 0};
  real8 ncount = 0.0;  // scaled offspring count
  real8 s1 = 0.0;      // scaled count of heterozygous offspring
  // tab(partner class, parent class) for a diploid partner, tab(father code, parent class)
  // for a haploid father.
  real8 tab[6][6] = {};

  void build_table(int4 kind, real8 count);
  void set_codes(int4 kind, int4 k) const;
  bool take_genotype(int4 kind, int4 r, real8& last);
  int4 screen_parents();
  void haploid_father_table(int4 loc);
  index_t summing_pass(int4 top);
  void write_pairs(int4 top, int4 loc, index_t size, real8 e) const;
};

// Grows the scratch to this family.
void grow_scratch(int4 n, int4 g, int4 ngt) {
  FsErrorScratch& w = likelihood_work.fs_error;
  engine::grow(w.allelemap, Dim(0, 127));
  engine::grow(w.excluded, Dim(std::max(g, 1)));
  engine::grow(w.rowstart, Dim(std::max(g, 1)));
  engine::grow(w.cls, Dim(std::max(g, 1)));
  engine::grow(w.gtallele, Dim(2), Dim(std::max(g, 1)));
  engine::grow(w.code, Dim(std::max(n, 1)));
  engine::grow(w.order, Dim(std::max(ngt, 1)));
  engine::grow(w.negcount, Dim(std::max(ngt, 1)));
}

// Family allele numbers of the locus alleles; parental genotypes over them, none excluded.
void parental_genotypes(int4 fam, int4 n, int4 g) {
  const Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 base = lv.locallelefs(fam);
  for (int4 i = 1; i <= n; ++i) w.allelemap(lv.allelefs(base + i)) = i;
  int4 d = 0;
  for (int4 a = 1; a <= n; ++a)
    for (int4 b = a; b <= n; ++b) {
      ++d;
      w.gtallele(1, d) = static_cast<int1>(a);
      w.gtallele(2, d) = static_cast<int1>(b);
    }
  for (d = 1; d <= g; ++d) w.excluded(d) = 0;
}

// The kinds' genotypes by decreasing count (the index sort's order for ties).
void order_by_count(const Fs3Pass& f) {
  const Variables& v = variables;
  FsErrorScratch& w = likelihood_work.fs_error;
  for (int4 kind = 1; kind <= 2; ++kind) {
    if (f.nkind[kind] == 0) continue;
    for (int4 k = 0; k < f.nkind[kind]; ++k)
      w.negcount(f.first[kind] + k) = -v.numfsgtypescaled(f.col0 + f.first[kind] + k);
    indexx(f.nkind[kind], &w.negcount(f.first[kind]), &w.order(f.first[kind]));
  }
}

// The class table of an offspring genotype of a kind, weighted by its count.
void Fs3Pass::build_table(int4 kind, real8 count) {
  const Variables& v = variables;
  if (kind == 1) {
    const real8 wg = count > 1.0000001 ? count : 1.0;
    for (int4 c = 1; c <= 6; ++c) {
      if (haplo) {
        for (int4 u = 1; u <= 3; ++u) tab[u - 1][c - 1] = wg * v.probgivengtypehet(u, 1, c, bk);
      } else {
        for (int4 a = 1; a <= 3; ++a)
          for (int4 b = a; b <= 3; ++b)
            tab[kIp[a - 1][b - 1] - 1][c - 1] = wg * v.probgivengtypehet(b, a, c, bk);
      }
    }
  } else {
    for (int4 c = 1; c <= 3; ++c) {
      if (haplo) {
        for (int4 u = 1; u <= 2; ++u) tab[u - 1][c - 1] = count * v.probgivengtypehom(u, 1, c, bk);
      } else {
        for (int4 a = 1; a <= 2; ++a)
          for (int4 b = a; b <= 2; ++b)
            tab[parent_class(a, b, 2) - 1][c - 1] = count * v.probgivengtypehom(b, a, c, bk);
      }
    }
  }
}

// Codes and classes of every parental genotype relative to offspring genotype k.
void Fs3Pass::set_codes(int4 kind, int4 k) const {
  const Variables& v = variables;
  FsErrorScratch& w = likelihood_work.fs_error;
  const int4 other = kind == 1 ? 3 : 2;
  for (int4 a = 1; a <= n; ++a) w.code(a) = static_cast<int1>(other);
  const int4 a1 = w.allelemap(v.fsgtype(1, col0 + k));
  w.code(a1) = 1;
  if (kind == 1) w.code(w.allelemap(v.fsgtype(2, col0 + k))) = 2;
  for (int4 d = 1; d <= g; ++d)
    w.cls(d) =
        static_cast<int1>(parent_class(w.code(w.gtallele(1, d)), w.code(w.gtallele(2, d)), kind));
}

// Aims the codes at the r-th genotype of a kind (by decreasing count) and rebuilds the class
// table when its count differs from that of the last one built (last); true when rebuilt.
bool Fs3Pass::take_genotype(int4 kind, int4 r, real8& last) {
  const FsErrorScratch& w = likelihood_work.fs_error;
  const int4 k = first[kind] - 1 + w.order(first[kind] - 1 + r);
  const real8 count = variables.numfsgtypescaled(col0 + k);
  set_codes(kind, k);
  if (r == 1 || std::abs(count - last) > 1e-300) {
    last = count;
    build_table(kind, count);
    return true;
  }
  return false;
}

// Screening pass (diploid species): parental genotypes carrying neither allele of a frequent
// offspring genotype are ruled out. Returns the last genotype left (0: none).
int4 Fs3Pass::screen_parents() {
  const Variables& v = variables;
  FsErrorScratch& w = likelihood_work.fs_error;
  real8 theta = -25.42 - (v.anymonogamy == 0 ? s1 : 0.0);
  for (int4 kind = 1; kind <= 2; ++kind) {
    if (nkind[kind] == 0) continue;
    real8 last = 0.0;
    for (int4 r = 1; r <= nkind[kind]; ++r) {
      if (take_genotype(kind, r, last)) {
        int4 left = 0;
        for (int4 d = 1; d <= dim; ++d) left += w.excluded(d) == 0 ? 1 : 0;
        if (left > 2 && theta > tab[0][kNeither[kind] - 1])
          theta -= 1.2 * r;
        else
          break;
      }
      for (int4 d = 1; d <= dim; ++d)
        if (w.excluded(d) == 0 && w.cls(d) == kNeither[kind]) w.excluded(d) = 1;
    }
  }
  for (int4 d = dim; d >= 1; --d)
    if (w.excluded(d) == 0) return d;
  return 0;
}

// Haploid fathers: the table of mother genotype by father allele, fathers carrying neither
// allele of a frequent offspring genotype ruled out.
void Fs3Pass::haploid_father_table(int4 loc) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  engine::grow(w.hapl, Dim(std::max(dim, 1)), Dim(std::max(n, 1)));
  for (int4 u = 1; u <= n; ++u) {
    w.excluded(u) = 0;
    for (int4 i = 1; i <= dim; ++i) w.hapl(i, u) = 0.0;
  }
  real8 theta = -25.42 - (v.anymonogamy == 0 ? s1 : 0.0);
  int4 inuse = n;
  for (int4 kind = 1; kind <= 2; ++kind) {
    if (nkind[kind] == 0) continue;
    real8 last = 0.0;
    for (int4 r = 1; r <= nkind[kind]; ++r) {
      take_genotype(kind, r, last);
      // A frequent offspring genotype rules out fathers carrying neither of its alleles.
      const int4 nc = kind == 1 ? 3 : 2;
      if (inuse > 1 && theta > tab[nc - 1][0]) {
        for (int4 u = 1; u <= n; ++u)
          if (w.code(u) == nc && w.excluded(u) == 0) {
            w.excluded(u) = 1;
            --inuse;
          }
      }
      for (int4 u = 1; u <= n; ++u) {
        if (w.excluded(u) != 0) continue;
        const real8* row = tab[w.code(u) - 1];
        for (int4 i = 1; i <= dim; ++i) w.hapl(i, u) += row[w.cls(i) - 1];
      }
    }
  }
  real8 lmax = -1e300;
  for (int4 u = 1; u <= n; ++u)
    if (w.excluded(u) == 0)
      for (int4 i = 1; i <= dim; ++i) lmax = std::max(lmax, w.hapl(i, u));
  lv.loglikehoodconst += lmax;
  if (inuse < n)
    for (int4 i = 1; i <= dim; ++i)
      for (int4 u = 1; u <= n; ++u) lv.fsprob(u, loc + i) = 0.0;
  int4 last = 0;
  for (int4 i = 1; i <= dim; ++i) {
    for (int4 u = 1; u <= n; ++u) {
      if (w.excluded(u) != 0) continue;
      const real8 d = w.hapl(i, u) - lmax;
      lv.fsprob(u, loc + i) = std::exp(d);
      if (d > -30.0) last = i;
    }
  }
  lv.fsprobdim(fam) = static_cast<int2>(last);
}

// Summing pass: packed rows of the kept genotypes over their partners i..top; returns the
// number of entries.
index_t Fs3Pass::summing_pass(int4 top) {
  FsErrorScratch& w = likelihood_work.fs_error;
  index_t size = 0;
  for (int4 i = 1; i <= top; ++i) {
    if (w.excluded(i) != 0) {
      w.rowstart(i) = -1;
      continue;
    }
    w.rowstart(i) = static_cast<int4>(size);
    size += top - i + 1;
  }
  engine::grow(w.tri, Dim(std::max<index_t>(size, 1)));
  real8* tri = w.tri.data();
  for (index_t i = 0; i < size; ++i) tri[i] = 0.0;
  for (int4 kind = 1; kind <= 2; ++kind) {
    if (nkind[kind] == 0) continue;
    real8 last = 0.0;
    for (int4 r = 1; r <= nkind[kind]; ++r) {
      take_genotype(kind, r, last);
      const int1* cls = w.cls.data();
      for (int4 i = 1; i <= top; ++i) {
        if (w.rowstart(i) < 0) continue;
        const int4 ci = cls[i - 1] - 1;
        real8* row = tri + w.rowstart(i) - i;  // row[j] for j = i..top
        for (int4 j = i; j <= top; ++j) row[j] += tab[cls[j - 1] - 1][ci];
      }
    }
  }
  return size;
}

// The symmetric table relative to the best pair, and the list of the genotypes it uses.
void Fs3Pass::write_pairs(int4 top, int4 loc, index_t size, real8 e) const {
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = likelihood_work.fs_error;
  const real8* tri = w.tri.data();
  real8 lmax = -1e300;
  for (index_t i = 0; i < size; ++i) lmax = std::max(lmax, tri[i]);
  lv.loglikehoodconst += lmax;
  lv.fsprobdim(fam) = static_cast<int2>(top);
  for (int4 j = 1; j <= top; ++j)
    for (int4 i = 1; i <= top; ++i) lv.fsprob(i, loc + j) = 0.0;
  // Pairs far below the best one are left at zero; the margin widens with the family's size
  // and error rate.
  const real8 floor = -15.0 - std::sqrt(ncount * e);
  FArray<int1, 1>& used = w.used;
  engine::grow(used, Dim(std::max(g, 1)));
  for (int4 d = 1; d <= top; ++d) used(d) = 0;
  for (int4 i = 1; i <= top; ++i) {
    if (w.rowstart(i) < 0) continue;
    const real8* row = tri + w.rowstart(i) - i;
    for (int4 j = i; j <= top; ++j) {
      const real8 d = row[j] - lmax;
      if (!(d > floor)) continue;
      const real8 x = std::exp(d);
      lv.fsprob(j, loc + i) = x;
      lv.fsprob(i, loc + j) = x;
      used(i) = 1;
      used(j) = 1;
    }
  }
  list_used_genotypes(fam, top, top);
}

}  // namespace

void fsprobcompute3(int4 locus, int4 fam, int4 dim, int4 n, int4 ngt, int4& fail, real8 e) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  fail = 1;
  Fs3Pass f;
  f.fam = fam;
  f.dim = dim;
  f.n = n;
  f.g = n * (n + 1) / 2;
  f.bk = v.codominantloci(locus);
  f.haplo = v.haplodiploid == 1;
  grow_scratch(n, f.g, ngt);
  parental_genotypes(fam, n, f.g);

  f.col0 = lv.clusterfamilyloc(fam);
  f.nkind[1] = v.numfsgenotype(1, fam);
  f.nkind[2] = v.numfsgenotype(2, fam);
  f.first[1] = 1;
  f.first[2] = 1 + f.nkind[1];
  for (int4 k = 1; k <= ngt; ++k) f.ncount += v.numfsgtypescaled(f.col0 + k);
  order_by_count(f);
  for (int4 k = 0; k < f.nkind[1]; ++k) f.s1 += v.numfsgtypescaled(f.col0 + f.first[1] + k);

  int4 top = dim;
  if (!f.haplo) {
    top = f.screen_parents();
    if (top == 0) return;
  }
  // Class constants of both kinds.
  lv.loglikehoodconst +=
      v.fsprobconst1(2, f.bk) * f.s1 + v.fsprobconst1(1, f.bk) * (f.ncount - f.s1);
  const int4 loc = v.fsprobloc(fam);
  if (f.haplo) {
    f.haploid_father_table(loc);
  } else {
    const index_t size = f.summing_pass(top);
    f.write_pairs(top, loc, size, e);
  }
  fail = 0;
}

}  // namespace kinrad
