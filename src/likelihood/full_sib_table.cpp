#include <cmath>

#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/full_sib_internal.hpp"

namespace kinrad {

namespace {

// Single-precision value of ln 2 that the two-allele tables take out per offspring.
constexpr real8 kLn2TwoAllele = 0.69314718;

}  // namespace

int4 other_role_joint(int4 j) {
  const Variables& v = variables;
  if (v.numsex != 1 || !v.parentjdx.allocated()) return 0;
  const int4 s = j <= v.nparent(1) ? 1 : 2;
  const int4 p = j - v.npstartloc1(s);
  if (p > v.parentjdx.ubound(1)) return 0;
  const int4 q = v.parentjdx(p, s);
  return q > 0 ? v.npstartloc1(3 - s) + q : 0;
}

void build_fs_table(int4 ifs, bool twoallele, FsTable& out) {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const bool haplo = v.haplodiploid == 1;
  const int4 at0 = lv.clusterfamilyloc(ifs);
  const int4 ngt = v.numfsgenotype(1, ifs) + v.numfsgenotype(2, ifs);
  const int4 nal = twoallele ? 2 : lv.numallelefs(ifs);
  const int1* fa = twoallele ? nullptr : &lv.allelefs(lv.locallelefs(ifs) + 1);

  // Offspring genotypes as positions in the family allele list, and the powers of 1/2 of their
  // counts: 0.5^N and 0.25^N for the scaled count N.
  constexpr int4 kMaxGt = 16;
  int4 gx[kMaxGt], gy[kMaxGt];
  real8 half[kMaxGt][3];
  const int4 n = ngt < kMaxGt ? ngt : kMaxGt;
  auto position = [&](int4 a) {
    if (twoallele) return a;
    for (int4 i = 0; i < nal; ++i)
      if (fa[i] == a) return i + 1;
    return 0;
  };
  const bool exact_powers = twoallele || v.fsscaleq == 0;
  for (int4 k = 0; k < n; ++k) {
    gx[k] = position(v.fsgtype(1, at0 + k + 1));
    gy[k] = position(v.fsgtype(2, at0 + k + 1));
    const int4 cnt = v.numfsgtype(at0 + k + 1);
    const real8 h = exact_powers && cnt <= v.power2.ubound(1)
                        ? v.power2(cnt)
                        : std::exp2(-v.numfsgtypescaled(at0 + k + 1));
    half[k][0] = 1.0;
    half[k][1] = h;
    half[k][2] = h * h;
  }

  // Classes: the allele pairs (i, j), i <= j, row by row; a haploid father's are the alleles.
  int4 ci[kMaxFsClass + 1], cj[kMaxFsClass + 1];
  int4 nclass = 0;
  for (int4 i = 1; i <= nal && nclass < kMaxFsClass; ++i)
    for (int4 j = i; j <= nal && nclass < kMaxFsClass; ++j) {
      ++nclass;
      ci[nclass] = i;
      cj[nclass] = j;
    }
  const int4 g1 = haplo ? (nal < kMaxFsClass ? nal : kMaxFsClass) : nclass;
  const int4 g2 = nclass;

  // A parent can only carry a class that shares an allele with every offspring genotype (each
  // offspring has one allele from each parent); other classes are skipped at once.
  bool feasible[kMaxFsClass + 1];
  auto shares = [&](int4 i, int4 j) {
    for (int4 k = 0; k < n; ++k)
      if (i != gx[k] && i != gy[k] && j != gx[k] && j != gy[k]) return false;
    return true;
  };
  bool ffeasible[kMaxFsClass + 1];
  for (int4 g = 1; g <= g1; ++g) ffeasible[g] = haplo ? shares(g, g) : shares(ci[g], cj[g]);
  for (int4 h = 1; h <= g2; ++h) feasible[h] = shares(ci[h], cj[h]);

  // Pass 1: per compatible pair the exponents e (one offspring has probability 2^-e), packed
  // two bits per genotype; the smallest exponent per genotype fixes its scaling.
  uint32_t code[kMaxFsClass + 1][kMaxFsClass + 1];
  constexpr uint32_t kNone = 0xffffffffu;
  int4 dmin[kMaxGt];
  for (int4 k = 0; k < n; ++k) dmin[k] = 3;
  int4 lastrow = 0, lastcol = 0;
  int4 flist[kMaxFsClass], mlist[kMaxFsClass];
  int4 nfl = 0, nml = 0;
  for (int4 g = 1; g <= g1; ++g)
    if (ffeasible[g]) flist[nfl++] = g;
  for (int4 h = 1; h <= g2; ++h)
    if (feasible[h]) mlist[nml++] = h;
  for (int4 u = 0; u < nfl; ++u) {
    const int4 g = flist[u];
    const int4 fi = haplo ? g : ci[g];
    const int4 fj = haplo ? g : cj[g];
    for (int4 w = haplo ? 0 : u; w < nml; ++w) {
      const int4 h = mlist[w];
      const int4 mi = ci[h], mj = cj[h];
      uint32_t c = 0;
      bool ok = true;
      for (int4 k = 0; k < n; ++k) {
        const int4 x = gx[k], y = gy[k];
        int4 ways;  // out of 4 (diploid) or 2 (haploid father)
        if (haplo) {
          ways = (fi == x) * ((mi == y) + (mj == y));
          if (x != y) ways += (fi == y) * ((mi == x) + (mj == x));
          ways *= 2;
        } else {
          ways = ((fi == x) + (fj == x)) * ((mi == y) + (mj == y));
          if (x != y) ways += ((fi == y) + (fj == y)) * ((mi == x) + (mj == x));
        }
        if (x < 1 || ways == 0) {
          ok = false;
          break;
        }
        const int4 e = ways >= 4 ? 0 : (ways >= 2 ? 1 : 2);
        c |= static_cast<uint32_t>(e) << (2 * k);
      }
      if (!ok) c = kNone;
      code[g][h] = c;
      if (!haplo) code[h][g] = c;
      if (!ok) continue;
      for (int4 k = 0; k < n; ++k) {
        const int4 e = static_cast<int4>((c >> (2 * k)) & 3u);
        if (e < dmin[k]) dmin[k] = e;
      }
      if (g > lastrow) lastrow = g;
      if (h > lastcol) lastcol = h;
    }
  }
  if (!haplo) lastrow = lastcol;

  out.rowmask = 0;
  out.colmask = 0;
  out.taken = 0.0;
  if (lastcol == 0) {
    out.rows = haplo ? g1 : 1;
    out.cols = 1;
    for (int4 r = 1; r <= out.rows; ++r) out.at(r, 1) = 0.0;
    return;
  }
  out.rows = haplo ? g1 : lastrow;
  out.cols = lastcol;
  const bool logk4 = v.logk.allocated() && v.logk.ubound(1) >= 4;
  const real8 ln2 = twoallele ? kLn2TwoAllele : (logk4 ? v.logk(2) : std::log(2.0));
  const real8 ln4 = logk4 ? v.logk(4) : std::log(4.0);
  for (int4 k = 0; k < n; ++k) {
    const real8 w = v.numfsgtypescaled(at0 + k + 1);
    if (dmin[k] == 1) out.taken += w * ln2;
    if (dmin[k] == 2) out.taken += w * ln4;
  }
  // Pass 2: the entries (diploid tables are symmetric: the upper triangle is mirrored).
  for (int4 h = 1; h <= out.cols; ++h) {
    const int4 top = haplo ? out.rows : h;
    for (int4 g = 1; g <= top; ++g) {
      const uint32_t c = ffeasible[g] && feasible[h] ? code[g][h] : kNone;
      real8 x = 0.0;
      if (c != kNone) {
        x = 1.0;
        for (int4 k = 0; k < n; ++k) x *= half[k][((c >> (2 * k)) & 3u) - dmin[k]];
        out.rowmask |= static_cast<uint16_t>(0x8000u >> (g - 1));
        out.colmask |= static_cast<uint16_t>(0x8000u >> (h - 1));
      }
      out.at(g, h) = x;
      if (!haplo) out.at(h, g) = x;
    }
  }
  if (!haplo) {
    out.rowmask |= out.colmask;
    out.colmask = out.rowmask;
  }
}

}  // namespace kinrad
