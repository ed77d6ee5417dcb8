// Sib and clone log likelihoods of a focal offspring with each partner of its row. Per-locus
// tables give the pair's log likelihood as a function of the partner's genotype, so scoring a
// partner is a sum of look-ups that stops once it falls below the caller's bound. Tables are
// rebuilt only at loci where the focal's genotype (or ploidy) differs from the last focal's.
#include <algorithm>
#include <array>
#include <cmath>

#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

using Delta = std::array<real8, 9>;

// Identity coefficients of relationship t (1 full sibs, 2 paternal, 3 maternal half sibs).
Delta sibdelta(int4 t) {
  const bool hd = variables.haplodiploid == 1;
  if (t == 1)
    return hd ? Delta{0, 0, 0, 0, 0, 0, 0.5, 0.5, 0} : Delta{0, 0, 0, 0, 0, 0, 0.25, 0.5, 0.25};
  if (t == 2) return hd ? Delta{0, 0, 0, 0, 0, 0, 0, 1, 0} : Delta{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
  return Delta{0, 0, 0, 0, 0, 0, 0, 0.5, 0.5};
}

constexpr Delta clonedelta{0, 0, 0, 0, 0, 0, 1, 0, 0};

int4 genotypes(int4 na) {
  return na * (na + 1) / 2;
}

// Genotype number of offspring i at locus l.
int2 offspringgenotype(int4 i, int4 l) {
  setgetgtype.locusgtypeptr = variables.indivgtype2(l).a;
  int2 g = 0;
  getgtype(g, i, variables.obsnumallele(l));
  return g;
}

// The raw 2-bit code (0 missing, 1 and 2 homozygotes, 3 heterozygote) of offspring i at a
// locus of two alleles.
int4 rawcode(int4 i, int4 l) {
  const FView<int2, 1>& col = variables.indivgtype2(l).a;
  const auto word = static_cast<std::uint16_t>(col((i - 1) / 8 + 1));
  return (word >> (2 * ((i - 1) % 8))) & 3;
}

real8 lnp(real8 p) {
  return p <= 1e-300 ? -1e300 : std::log(p);
}

real8 single(int4 ploidy, int4 l, int4 a1, int4 a2) {
  const int4 g[2] = {a1, a2};
  real8 p = 1.0;
  probsinglegtype(0.0, ploidy, l, g, p);
  return p;
}

}  // namespace

void setindivgtype3() {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  sv.indivgtype3.allocate(Dim(n3), Dim(v.smplsize));
  for (int4 k3 = 1; k3 <= n3; ++k3) {
    const int4 l = v.locus3(k3);
    const int4 na = v.obsnumallele(l);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const int2 g = offspringgenotype(i, l);
      const int4 a1 = v.genotypeid(1, g);
      const int4 a2 = v.genotypeid(2, g);
      sv.indivgtype3(k3, i) =
          static_cast<int2>(a1 > 0 ? (a1 - 1) * na - a1 * (a1 - 1) / 2 + a2 : 0);
    }
  }
}

void allocate_focal_dyad_tables() {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  sv.ntype = v.allmonogamy == 1 ? 1 : v.haplodiploid + 2;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  sv.dyadloglloc.allocate(Dim(n3 > 0 ? n3 : 1));
  index_t total = 0;
  for (int4 k3 = 1; k3 <= n3; ++k3) {
    sv.dyadloglloc(k3) = total;
    total += static_cast<index_t>(sv.ntype) * (genotypes(v.obsnumallele(v.locus3(k3))) + 1);
  }
  sv.dyadlogl.allocate(Dim(0, total > 0 ? total - 1 : 0));
  // The memo holds, per locus, the tables of every focal genotype and ploidy (2 (G + 1) slots
  // of the locus's block size), within a budget of 8M values (64 MiB).
  index_t memo = 0;
  for (int4 k3 = 1; k3 <= n3; ++k3) {
    const index_t width = genotypes(v.obsnumallele(v.locus3(k3))) + 1;
    memo += 2 * width * sv.ntype * width;
  }
  sv.focalmemo.deallocate();
  sv.focalmemoloc.deallocate();
  sv.focalmemoq.deallocate();
  if (n3 > 0 && memo <= index_t{8} * 1024 * 1024) {
    sv.focalmemo.allocate(Dim(0, memo - 1));
    sv.focalmemoloc.allocate(Dim(n3));
    sv.focalmemoq.allocate(Dim(0, memo / sv.ntype - 1));
    index_t at = 0;
    for (int4 k3 = 1; k3 <= n3; ++k3) {
      const index_t width = genotypes(v.obsnumallele(v.locus3(k3))) + 1;
      sv.focalmemoloc(k3) = at;
      at += 2 * width * sv.ntype * width;
    }
  }
  sv.dyadlogl2.allocate(Dim(n2), Dim(3), Dim(sv.ntype));
  sv.dyadlogl0.allocate(Dim(n2), Dim(sv.ntype));
  sv.dyadgtype.allocate(Dim(2), Dim(v.numloci));
  sv.dyadgtype.fill(-99);
  sv.dyadgtypeploidy.allocate(Dim(v.numloci));
  sv.dyadgtypeploidy.fill(-99);
  sv.simoffgtype.allocate(Dim(n2));
  sv.setsimoffgtype = 0;
  sv.clonedyadll.allocate(Dim(0, 3), Dim(n2));
  sv.clonedyadll.fill(1.0);
  sv.clonegtype.allocate(Dim(2), Dim(v.numloci));
  sv.clonegtype.fill(-99);
  sv.cloneploidy = -99;
}

void setdyadlogl(int4 i) {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 ntype = sv.ntype;
  const int4 ploidy = v.offploid(i);
  int4 k3 = 0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na <= 1) continue;
    const bool list3 = v.locus3loc.allocated() && v.locus3loc(l) > 0;
    if (list3) k3 = v.locus3loc(l);
    const int2 g = offspringgenotype(i, l);
    const int4 a1 = v.genotypeid(1, g);
    const int4 a2 = v.genotypeid(2, g);
    if (sv.dyadgtype(1, l) == a1 && sv.dyadgtype(2, l) == a2 && sv.dyadgtypeploidy(l) == ploidy)
      continue;
    sv.dyadgtype(1, l) = static_cast<int1>(a1);
    sv.dyadgtype(2, l) = static_cast<int1>(a2);
    sv.dyadgtypeploidy(l) = static_cast<int1>(ploidy);
    const real8 own = a1 > 0 ? lnp(single(ploidy, l, a1, a2)) : 0.0;
    if (!list3) {
      const int4 k2 = v.locus2loc(l);
      if (k2 <= 0) continue;
      const int4 ncode = v.dominantmarker(l) == 1 ? 2 : 3;
      for (int4 t = 1; t <= ntype; ++t) {
        const Delta d = sibdelta(t);
        sv.dyadlogl0(k2, t) = own;
        for (int4 c = 1; c <= ncode; ++c) {
          const int4 b1 = c == 3 ? 1 : c;
          const int4 b2 = c == 3 ? 2 : c;
          sv.dyadlogl2(k2, c, t) =
              a1 > 0 ? lnp(prbpdyad(a1, a2, b1, b2, d, l, 0)) : lnp(single(2, l, b1, b2));
        }
      }
      continue;
    }
    const index_t width = genotypes(na) + 1;
    const index_t block = ntype * width;
    real8* tables = &sv.dyadlogl(sv.dyadloglloc(k3));
    // Slot of this focal genotype and ploidy in the memo, and its flag (one per block).
    index_t slot = -1;
    if (sv.focalmemo.allocated()) {
      const index_t gi = a1 > 0 ? (a1 - 1) * na - a1 * (a1 - 1) / 2 + a2 : 0;
      slot = sv.focalmemoloc(k3) + ((ploidy == 1 ? 0 : width) + gi) * block;
      if (sv.focalmemoq(slot / ntype) != 0) {
        std::copy_n(&sv.focalmemo(slot), block, tables);
        continue;
      }
    }
    for (int4 t = 1; t <= ntype; ++t) {
      const Delta d = sibdelta(t);
      const index_t base = sv.dyadloglloc(k3) + (t - 1) * width;
      sv.dyadlogl(base) = own;
      index_t g3 = 0;
      for (int4 b1 = 1; b1 <= na; ++b1)
        for (int4 b2 = b1; b2 <= na; ++b2) {
          ++g3;
          sv.dyadlogl(base + g3) =
              a1 > 0 ? lnp(prbpdyad(a1, a2, b1, b2, d, l, 0)) : lnp(single(2, l, b1, b2));
        }
    }
    if (slot >= 0) {
      std::copy_n(tables, block, &sv.focalmemo(slot));
      sv.focalmemoq(slot / ntype) = 1;
    }
  }
}

void compute_dyad_logl(int4 t, int4 j, real8& logl, real8 bound) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  logl = 0.0;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  for (int4 k3 = 1; k3 <= n3; ++k3) {
    const index_t width = genotypes(v.obsnumallele(v.locus3(k3))) + 1;
    logl += sv.dyadlogl(sv.dyadloglloc(k3) + (t - 1) * width + sv.indivgtype3(k3, j));
    if (logl < bound) return;
  }
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  if (sv.setsimoffgtype == 0) {
    sv.setsimoffgtype = 1;
    for (int4 k2 = 1; k2 <= n2; ++k2)
      sv.simoffgtype(k2) = static_cast<int1>(rawcode(j, v.locus2(k2)));
  }
  for (int4 k2 = 1; k2 <= n2; ++k2) {
    const int4 c = sv.simoffgtype(k2);
    logl += c == 0 ? sv.dyadlogl0(k2, t) : sv.dyadlogl2(k2, c, t);
    if (logl < bound) return;
  }
}

void refresh_clone_cache(int4 i) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 ploidy = v.offploid(i);
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) < 1) continue;
    const int2 g = offspringgenotype(i, l);
    const int4 k2 = v.locus2loc(l);
    if (k2 > 0) {
      const int4 c = rawcode(i, l);
      const int4 c1 = sv.clonegtype(1, l);
      const int4 c2 = sv.clonegtype(2, l);
      const bool same = c == 3 ? c1 != c2 : (c1 == c && c2 == c);
      if (ploidy != sv.cloneploidy || !same)
        for (int4 x = 0; x <= 3; ++x) sv.clonedyadll(x, k2) = 1.0;
    }
    sv.clonegtype(1, l) = v.genotypeid(1, g);
    sv.clonegtype(2, l) = v.genotypeid(2, g);
  }
  sv.cloneploidy = ploidy;
}

real8 clone_dyad_logl(int4 i, int4 j) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  (void)i;  // the focal's alleles come from the clone cache of its row
  const int4 ploidy = v.offploid(j);
  real8 lc = 0.0;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na < 2) continue;
    const int2 g = offspringgenotype(j, l);
    const int4 b1 = v.genotypeid(1, g);
    const int4 b2 = v.genotypeid(2, g);
    const int4 k2 = v.locus2loc(l);
    int4 c = 0;
    if (k2 > 0) {
      c = rawcode(j, l);
      if (sv.clonedyadll(c, k2) <= 0.0) {
        lc += sv.clonedyadll(c, k2);
        continue;
      }
    }
    const int4 a1 = sv.clonegtype(1, l);
    const int4 a2 = sv.clonegtype(2, l);
    real8 p = 0.0;
    if (a1 > 0 && b1 > 0) {
      if (v.offploid(j) == 2) {
        p = prbpdyad(a1, a2, b1, b2, clonedelta, l, 0);
      } else {
        const real8 e = v.othererrorrate(l);
        const real8 ep = e / na;
        const FView<real8, 1>& f = v.obsallelefre(l).a;
        p = a1 == b1 ? f(b1) * (1 - e) * (1 - e + 2 * ep) + ep * ep
                     : ep * (ep + (1 - e) * (f(a1) + f(b1)));
      }
    } else if (b1 > 0) {
      p = single(ploidy, l, b1, b2);
    } else if (a1 > 0) {
      p = single(ploidy, l, a1, a2);
    } else {
      continue;
    }
    const real8 x = lnp(p);
    lc += x;
    if (k2 > 0) sv.clonedyadll(c, k2) = x;
  }
  return lc;
}

}  // namespace kinrad
