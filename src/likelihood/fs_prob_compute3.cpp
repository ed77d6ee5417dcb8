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

}  // namespace

void fsprobcompute3(int4 locus, int4 fam, int4 dim, int4 n, int4 ngt, int4& fail, real8 e) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  FsErrorScratch& w = fs_error_scratch;
  fail = 1;
  const int4 bk = v.codominantloci(locus);
  const bool haplo = v.haplodiploid == 1;
  const int4 g = n * (n + 1) / 2;
  engine::grow(w.allelemap, Dim(0, 127));
  engine::grow(w.excluded, Dim(std::max(g, 1)));
  engine::grow(w.rowstart, Dim(std::max(g, 1)));
  engine::grow(w.cls, Dim(std::max(g, 1)));
  engine::grow(w.gtallele, Dim(2), Dim(std::max(g, 1)));
  engine::grow(w.code, Dim(std::max(n, 1)));
  engine::grow(w.order, Dim(std::max(ngt, 1)));
  engine::grow(w.negcount, Dim(std::max(ngt, 1)));

  // Family allele numbers of the locus alleles; parental genotypes over them.
  const int4 base = lv.locallelefs(fam);
  for (int4 i = 1; i <= n; ++i) w.allelemap(lv.allelefs(base + i)) = i;
  {
    int4 d = 0;
    for (int4 a = 1; a <= n; ++a)
      for (int4 b = a; b <= n; ++b) {
        ++d;
        w.gtallele(1, d) = static_cast<int1>(a);
        w.gtallele(2, d) = static_cast<int1>(b);
      }
  }
  for (int4 d = 1; d <= g; ++d) w.excluded(d) = 0;

  const int4 col0 = lv.clusterfamilyloc(fam);
  const int4 nkind[3] = {0, v.numfsgenotype(1, fam), v.numfsgenotype(2, fam)};
  const int4 first[3] = {0, 1, 1 + nkind[1]};
  real8 ncount = 0.0;
  for (int4 k = 1; k <= ngt; ++k) ncount += v.numfsgtypescaled(col0 + k);

  // The kinds' genotypes by decreasing count (the index sort's order for ties).
  for (int4 kind = 1; kind <= 2; ++kind) {
    if (nkind[kind] == 0) continue;
    for (int4 k = 0; k < nkind[kind]; ++k)
      w.negcount(first[kind] + k) = -v.numfsgtypescaled(col0 + first[kind] + k);
    indexx(nkind[kind], &w.negcount(first[kind]), &w.order(first[kind]));
  }

  // Weighted class table of the genotype in hand: tab(partner class, parent class) for a
  // diploid partner, tab(father code, parent class) for a haploid father.
  real8 tab[6][6] = {};
  const real8 s1 = [&] {
    real8 s = 0.0;
    for (int4 k = 0; k < nkind[1]; ++k) s += v.numfsgtypescaled(col0 + first[1] + k);
    return s;
  }();
  auto build_table = [&](int4 kind, real8 count) {
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
          for (int4 u = 1; u <= 2; ++u)
            tab[u - 1][c - 1] = count * v.probgivengtypehom(u, 1, c, bk);
        } else {
          for (int4 a = 1; a <= 2; ++a)
            for (int4 b = a; b <= 2; ++b)
              tab[parent_class(a, b, 2) - 1][c - 1] = count * v.probgivengtypehom(b, a, c, bk);
        }
      }
    }
  };
  // Codes and classes of every parental genotype relative to offspring genotype k.
  auto set_codes = [&](int4 kind, int4 k) {
    const int4 other = kind == 1 ? 3 : 2;
    for (int4 a = 1; a <= n; ++a) w.code(a) = static_cast<int1>(other);
    const int4 a1 = w.allelemap(v.fsgtype(1, col0 + k));
    w.code(a1) = 1;
    if (kind == 1) w.code(w.allelemap(v.fsgtype(2, col0 + k))) = 2;
    for (int4 d = 1; d <= g; ++d)
      w.cls(d) =
          static_cast<int1>(parent_class(w.code(w.gtallele(1, d)), w.code(w.gtallele(2, d)), kind));
  };
  const int4 neither[3] = {0, 6, 3};

  // Screening pass (diploid species): parental genotypes carrying neither allele of a frequent
  // offspring genotype are ruled out.
  int4 top = dim;
  if (!haplo) {
    real8 theta = -25.42 - (v.anymonogamy == 0 ? s1 : 0.0);
    for (int4 kind = 1; kind <= 2; ++kind) {
      if (nkind[kind] == 0) continue;
      real8 last = 0.0;
      bool screening = true;
      for (int4 r = 1; r <= nkind[kind] && screening; ++r) {
        const int4 k = first[kind] - 1 + w.order(first[kind] - 1 + r);
        const real8 count = v.numfsgtypescaled(col0 + k);
        set_codes(kind, k);
        if (r == 1 || std::abs(count - last) > 1e-300) {
          last = count;
          build_table(kind, count);
          int4 left = 0;
          for (int4 d = 1; d <= dim; ++d) left += w.excluded(d) == 0 ? 1 : 0;
          if (left > 2 && theta > tab[0][neither[kind] - 1]) {
            theta -= 1.2 * r;
          } else {
            screening = false;
            break;
          }
        }
        for (int4 d = 1; d <= top; ++d)
          if (w.excluded(d) == 0 && w.cls(d) == neither[kind]) w.excluded(d) = 1;
      }
    }
    top = 0;
    for (int4 d = dim; d >= 1; --d)
      if (w.excluded(d) == 0) {
        top = d;
        break;
      }
    if (top == 0) return;
  }

  // Class constants of both kinds.
  lv.loglikehoodconst += v.fsprobconst1(2, bk) * s1 + v.fsprobconst1(1, bk) * (ncount - s1);

  const int4 loc = v.fsprobloc(fam);
  if (haplo) {
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
        const int4 k = first[kind] - 1 + w.order(first[kind] - 1 + r);
        const real8 count = v.numfsgtypescaled(col0 + k);
        set_codes(kind, k);
        if (r == 1 || std::abs(count - last) > 1e-300) {
          last = count;
          build_table(kind, count);
        }
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
    fail = 0;
    return;
  }

  // Summing pass: packed rows of the kept genotypes over their partners i..top.
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
      const int4 k = first[kind] - 1 + w.order(first[kind] - 1 + r);
      const real8 count = v.numfsgtypescaled(col0 + k);
      set_codes(kind, k);
      if (r == 1 || std::abs(count - last) > 1e-300) {
        last = count;
        build_table(kind, count);
      }
      const int1* cls = w.cls.data();
      for (int4 i = 1; i <= top; ++i) {
        if (w.rowstart(i) < 0) continue;
        const int4 ci = cls[i - 1] - 1;
        real8* row = tri + w.rowstart(i) - i;  // row[j] for j = i..top
        for (int4 j = i; j <= top; ++j) row[j] += tab[cls[j - 1] - 1][ci];
      }
    }
  }
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
  int4 u = 0;
  for (int4 d = 1; d <= top; ++d) u += used(d);
  fail = 0;
  if (std::max(2 * u, 10) >= top) return;
  lv.fsgtypeidx(0, fam) = static_cast<int2>(u);
  if (u <= 9) {
    int4 j = 0;
    for (int4 d = 1; d <= top; ++d)
      if (used(d) != 0) lv.fsgtypeidx(++j, fam) = static_cast<int2>(d);
    return;
  }
  for (index_t i = lv.fsgtypejdx.lbound(1); i <= lv.fsgtypejdx.ubound(1); ++i)
    lv.fsgtypejdx(i, fam) = 0;
  int4 lo = 0;
  int4 hi = 0;
  for (int4 d = 1; d <= top; ++d) {
    if (used(d) == 0) continue;
    if (lo == 0) lo = d;
    hi = d;
    const index_t word = (d - 1) / 32 + 1;
    lv.fsgtypejdx(word, fam) =
        static_cast<int4>(static_cast<uint32_t>(lv.fsgtypejdx(word, fam)) | (1u << ((d - 1) % 32)));
  }
  lv.fsgtypeidx(1, fam) = static_cast<int2>(lo);
  lv.fsgtypeidx(2, fam) = static_cast<int2>(hi);
}

}  // namespace kinrad
