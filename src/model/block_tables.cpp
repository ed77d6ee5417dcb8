// The table steps of the per-locus set-up: per observation block the normalised tables of one
// offspring's observed genotype given each parental pair, the class tables with their caches,
// the log tables of loci of many alleles and the dominant family tables.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/block_tables_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// 100 x ln of a normalised value; -1e38 in single precision marks an impossible one.
inline real8 centilog(real8 x) {
  return x <= 1e-300 ? static_cast<real8>(-1e38f) : 100.0 * std::log(x);
}

void allocate_class_tables(int4 nb) {
  Variables& v = variables;
  const int4 hd = v.haplodiploid;
  v.probgtypehom2.allocate(Dim(3 - hd), Dim(3), Dim(5), Dim(nb));
  v.probgtypehom3.allocate(Dim(3 - hd), Dim(3), Dim(5), Dim(nb));
  v.probgtypehet2.allocate(Dim(3 - hd), Dim(3), Dim(5), Dim(nb));
  if (v.maxobsnumallele >= 3) v.probgtypehet3.allocate(Dim(6 - 3 * hd), Dim(6), Dim(5), Dim(nb));
  // Cache slabs 2..5 are filled on first use; -1.0 marks them empty.
  for (int4 b = 1; b <= nb; ++b) {
    for (int4 s = 2; s <= 5; ++s) {
      v.probgtypehom2(1, 1, s, b) = -1.0;
      v.probgtypehom3(1, 1, s, b) = -1.0;
      v.probgtypehet2(1, 1, s, b) = -1.0;
      if (v.probgtypehet3.allocated()) v.probgtypehet3(1, 1, s, b) = -1.0;
    }
  }
}

// Writes rows of a computed table into slab 1 of a class table: the columns that computeprob
// wrote (from the row's own genotype on for diploid fathers, mirrored; all for haploid ones).
void store_class(FArray<real8, 4>& out, const std::vector<real8>& t, int4 ld, int4 rows, int4 cols,
                 int4 b) {
  const int4 hd = variables.haplodiploid;
  for (int4 f = 1; f <= rows; ++f) {
    for (int4 m = hd == 0 ? f : 1; m <= cols; ++m) {
      const real8 x = t[static_cast<std::size_t>((f - 1) + (m - 1) * ld)];
      out(f, m, 1, b) = x;
      if (hd == 0) out(m, f, 1, b) = x;
    }
  }
}

void codominant_tables(int4 mode, int4 locfrom, int4 locto) {
  Variables& v = variables;
  const int4 hd = v.haplodiploid;
  const int4 nb = v.codominantloci(0);
  // Largest allele number of each block; its sign marks the block done in a pass.
  std::vector<int4> kb(static_cast<std::size_t>(nb) + 1, 0);
  for (int4 l = locfrom; l <= locto; ++l) {
    const int4 b = v.codominantloci(l);
    if (b > 0)
      kb[static_cast<std::size_t>(b)] =
          std::max(kb[static_cast<std::size_t>(b)], v.obsnumallele(l));
  }
  v.fsprobconst1.allocate(Dim(2), Dim(std::max(nb, 1)));
  if (v.maxobsnumallele >= 9) {
    v.probgivengtypehom.allocate(Dim(2), Dim(2 - hd), Dim(3), Dim(nb));
    v.probgivengtypehet.allocate(Dim(3), Dim(3 - 2 * hd), Dim(6), Dim(nb));
  }
  if (nb < 1) return;
  const int4 k8 = std::min(v.maxobsnumallele, 8);
  block_tables::allocate_categories(k8);
  v.dadmumoffprbloc.allocate(Dim(nb));
  index_t total = 0;
  for (int4 b = 1; b <= nb; ++b) {
    v.dadmumoffprbloc(b) = static_cast<int4>(total);
    total += (6 - hd) + (kb[static_cast<std::size_t>(b)] == 2 ? 3 : 2 * (5 - hd));
  }
  v.dadmumoffprb.allocate(Dim(total));
  allocate_class_tables(nb);

  std::vector<real8> work(36 * 36, 0.0);
  const int4 alleles[3] = {1, 2, 3};
  // Heterozygote pass: one offspring observed 1/2, with two and with three listed alleles.
  for (int4 l = locfrom; l <= locto; ++l) {
    const int4 b = v.codominantloci(l);
    if (b == 0 || kb[static_cast<std::size_t>(b)] < 0) continue;
    const int4 kmax = std::min(kb[static_cast<std::size_t>(b)], 3);
    kb[static_cast<std::size_t>(b)] = -kb[static_cast<std::size_t>(b)];
    for (int4 i = 2; i <= kmax; ++i) {
      const int4 g = i * (i + 1) / 2;
      const int4 ld = hd == 0 ? g : i;
      const int4 phen[3] = {1, 2, 1};
      std::fill(work.begin(), work.end(), 0.0);
      computeprob(l, phen, 1, alleles, i, work.data(), ld, g, 0, v.fsprobconst1(2, b));
      auto t = [&](int4 f, int4 m) {
        return work[static_cast<std::size_t>((f - 1) + (m - 1) * ld)];
      };
      if (v.obsnumallele(l) >= 9 && i == 3)
        copyprob(3, 3 - 2 * hd, &v.probgivengtypehet(1, 1, 1, b), ld, g, work.data());
      if (i == kmax) {
        index_t at = v.dadmumoffprbloc(b) + (6 - hd);
        if (i == 2) {
          for (int4 m = 1; m <= 3; ++m) v.dadmumoffprb(++at) = centilog(t(1, m));
        } else {
          for (int4 m = 1; m <= 6; ++m) v.dadmumoffprb(++at) = centilog(t(1, m));
          if (hd == 0) {
            for (real8 x : {t(2, 5), t(3, 5), t(5, 6), t(6, 6)}) v.dadmumoffprb(++at) = centilog(x);
          } else {
            for (real8 x : {t(3, 5), t(3, 6)}) v.dadmumoffprb(++at) = centilog(x);
          }
        }
      }
      if (i == 2) {
        store_class(v.probgtypehet2, work, ld, hd == 0 ? 3 : 2, 3, b);
      } else {
        store_class(v.probgtypehet3, work, ld, hd == 0 ? 6 : 3, 6, b);
      }
    }
  }
  if (mode == 1) block_tables::fill_categories(k8, true);

  // Homozygote pass: one offspring observed 1/1, every other allele pooled as allele 2.
  for (int4 l = locfrom; l <= locto; ++l) {
    const int4 b = v.codominantloci(l);
    if (b == 0 || kb[static_cast<std::size_t>(b)] > 0) continue;
    kb[static_cast<std::size_t>(b)] = -kb[static_cast<std::size_t>(b)];
    const int4 ld = hd == 0 ? 3 : 2;
    const int4 phen[3] = {1, 1, 1};
    std::fill(work.begin(), work.end(), 0.0);
    computeprob(l, phen, 1, alleles, 2, work.data(), ld, 3, 0, v.fsprobconst1(1, b));
    auto h = [&](int4 f, int4 m) { return work[static_cast<std::size_t>((f - 1) + (m - 1) * ld)]; };
    if (v.obsnumallele(l) > 8)
      copyprob(2, 2 - hd, &v.probgivengtypehom(1, 1, 1, b), ld, 3, work.data());
    index_t at = v.dadmumoffprbloc(b);
    for (real8 x : {h(1, 1), h(1, 2), h(1, 3), h(2, 2), h(2, 3)})
      v.dadmumoffprb(++at) = centilog(x);
    if (hd == 0) v.dadmumoffprb(++at) = centilog(h(3, 3));
    store_class(v.probgtypehom3, work, ld, 3 - hd, 3, b);
    if (v.locus2.allocated() && v.locus2(0) > 0) {
      // An observed 2/2 at a two-allele locus is the 1/1 table with the alleles swapped.
      for (int4 f = 1; f <= 3 - hd; ++f)
        for (int4 m = 1; m <= 3; ++m)
          v.probgtypehom2(f, m, 1, b) = v.probgtypehom3(4 - hd - f, 4 - m, 1, b);
    }
  }
  if (mode == 1) block_tables::fill_categories(k8, false);
}

void dominant_tables(int4 locfrom, int4 locto) {
  Variables& v = variables;
  const int4 nd = v.dominantloci(0);
  if (nd < 1) return;
  v.domprobgivengtype.allocate(Dim(6), Dim(0, 20), Dim(0, 20), Dim(nd));
  v.domprobgivengtypeconst.allocate(Dim(0, 20), Dim(0, 20), Dim(nd));
  v.domprobgivengtypelog.allocate(Dim(6), Dim(2), Dim(nd));
  std::vector<int4> first(static_cast<std::size_t>(nd) + 1, 0);
  for (int4 l = locfrom; l <= locto; ++l) {
    const int4 b = v.dominantloci(l);
    if (b > 0 && v.obsnumallele(l) >= 2 && first[static_cast<std::size_t>(b)] == 0)
      first[static_cast<std::size_t>(b)] = l;
  }
  for (int4 phen = 1; phen <= 2; ++phen) {
    for (int4 b = 1; b <= nd; ++b) {
      const int4 l = first[static_cast<std::size_t>(b)];
      if (l == 0) continue;
      computeprobdominant(l, phen,
                          &v.domprobgivengtype(1, phen == 1 ? 1 : 0, phen == 1 ? 0 : 1, b));
    }
  }
  for (int4 b = 1; b <= nd; ++b) {
    if (first[static_cast<std::size_t>(b)] == 0) continue;
    for (int4 c = 1; c <= 6; ++c) v.domprobgivengtype(c, 0, 0, b) = 1.0;
    setscale2(20);
    // Families of i band and j no-band offspring from the one-offspring values, each count
    // tempered by the effective family size.
    for (int4 j = 0; j <= 20; ++j) {
      for (int4 i = 0; i <= 20; ++i) {
        if (i + j < 2) continue;
        for (int4 c = 1; c <= 6; ++c)
          v.domprobgivengtype(c, i, j, b) = std::pow(v.domprobgivengtype(c, 1, 0, b), v.scale2(i)) *
                                            std::pow(v.domprobgivengtype(c, 0, 1, b), v.scale2(j));
      }
    }
    for (int4 j = 0; j <= 20; ++j) {
      for (int4 i = 0; i <= 20; ++i) {
        real8 m = v.domprobgivengtype(1, i, j, b);
        for (int4 c = 2; c <= 6; ++c) m = std::max(m, v.domprobgivengtype(c, i, j, b));
        if (m > 0.999) {
          v.domprobgivengtypeconst(i, j, b) = 0.0;
        } else if (m > 0.0) {
          v.domprobgivengtypeconst(i, j, b) = std::log(m);
          for (int4 c = 1; c <= 6; ++c) v.domprobgivengtype(c, i, j, b) /= m;
        } else {
          // No pair can give such a family: its values stay 0 and its constant marks it.
          v.domprobgivengtypeconst(i, j, b) = -1e300;
        }
      }
    }
    for (int4 c = 1; c <= 6; ++c) {
      const real8 x1 = v.domprobgivengtype(c, 1, 0, b);
      const real8 x2 = v.domprobgivengtype(c, 0, 1, b);
      v.domprobgivengtypelog(c, 1, b) = x1 <= 1e-300 ? -1e300 : std::log(x1);
      v.domprobgivengtypelog(c, 2, b) = x2 <= 1e-300 ? -1e300 : std::log(x2);
    }
  }
}

}  // namespace

void build_block_tables(int4 mode, int4 locfrom, int4 locto) {
  Variables& v = variables;
  block_tables::number_blocks(mode, locfrom, locto);
  if (v.fsscaleq == 1) locusscale();
  codominant_tables(mode, locfrom, locto);
  if (mode == 1) block_tables::set_masks();
  dominant_tables(locfrom, locto);
}

}  // namespace kinrad
