// Observation blocks: loci of one marker kind whose observation model agrees (both error-free,
// or the same allele number with rates within 1e-6) share one block of tables.
#include <cmath>
#include <cstdint>

#include "core/modules/variables.hpp"
#include "model/block_tables_internal.hpp"
#include "model/model.hpp"
#include "model/phenotype_tables_internal.hpp"

namespace kinrad::block_tables {

namespace {

bool same_model(int4 j, int4 l) {
  const Variables& v = variables;
  if (v.locuserror(j) == 0 && v.locuserror(l) == 0) return true;
  return v.obsnumallele(j) == v.obsnumallele(l) &&
         std::abs(v.othererrorrate(j) - v.othererrorrate(l)) < 1e-6 &&
         std::abs(v.droprate(j) - v.droprate(l)) < 1e-6;
}

void ensure_list(FArray<int4, 1>& a, index_t hi) {
  if (!a.allocated() || a.lbound(1) != 0 || a.ubound(1) < hi) a.allocate(Dim(0, hi));
}

void set_mask(FArray<int2, 1>& mask, std::initializer_list<std::uint16_t> bits) {
  mask.allocate(Dim(static_cast<index_t>(bits.size())));
  index_t i = 0;
  for (std::uint16_t b : bits) mask(++i) = static_cast<int2>(b);
}

}  // namespace

void number_blocks(int4 mode, int4 locfrom, int4 locto) {
  Variables& v = variables;
  const int4 numloci = v.numloci;
  int4 nd = 0;
  for (int4 l = 1; l <= numloci; ++l)
    if (v.dominantmarker(l) != 0 && v.obsnumallele(l) == 2) ++nd;
  ensure_list(v.codominantloci, numloci);
  ensure_list(v.dominantloci, numloci);
  ensure_list(v.locusdom, nd);
  for (int4 l = locfrom; l <= locto; ++l) {
    v.codominantloci(l) = 0;
    v.dominantloci(l) = 0;
  }
  v.locusdom(0) = 0;
  const bool single = locfrom == locto;
  int4 nb = 0;
  int4 ndb = 0;
  for (int4 l = locfrom; l <= locto; ++l) {
    const bool dominant = v.dominantmarker(l) != 0;
    if (!dominant && v.obsnumallele(l) <= 1) continue;
    if (dominant && v.obsnumallele(l) == 2) v.locusdom(++v.locusdom(0)) = l;
    FArray<int4, 1>& blocks = dominant ? v.dominantloci : v.codominantloci;
    int4& count = dominant ? ndb : nb;
    int4 b = 0;
    if (!single) {
      for (int4 j = 1; j < l && b == 0; ++j)
        if (blocks(j) > 0 && same_model(j, l)) b = blocks(j);
    }
    blocks(l) = b > 0 ? b : ++count;
  }
  v.codominantloci(0) = nb;
  v.dominantloci(0) = ndb;

  if (mode == 1) {
    // One observation table per block: codominant blocks of 7 classes, then dominant blocks
    // of 3 genotypes. Loci without a block have no table.
    v.transratetgt.allocate(Dim(7 * nb + 3 * ndb));
    if (!v.transrate.allocated() || v.transrate.size() != numloci)
      v.transrate.allocate(Dim(numloci));
    for (int4 l = 1; l <= numloci; ++l) {
      if (v.codominantloci(l) > 0) {
        v.transrate(l).a = window(v.transratetgt, 7 * (v.codominantloci(l) - 1) + 1, 7);
      } else if (v.dominantloci(l) > 0) {
        v.transrate(l).a = window(v.transratetgt, 7 * nb + 3 * (v.dominantloci(l) - 1) + 1, 3);
      } else {
        v.transrate(l).a.nullify();
      }
    }
    phenotypegivengenotype(1, numloci);
  } else {
    // The loci of the range get tables of their own, so that the trial rates of one locus are
    // not replaced by those of another locus of its block.
    give_own_transrate(locfrom, locto);
    phenotypegivengenotype(locfrom, locto);
  }
}

void set_masks() {
  Variables& v = variables;
  const int4 hd = v.haplodiploid;
  if (v.dominantloci(0) >= 1) {
    if (hd == 0) {
      set_mask(v.equirowsavedom, {0xe000, 0x6000, 0x2000, 0x4000});
    } else {
      set_mask(v.equirowsavedom, {0xc000, 0x4000});
      set_mask(v.equicolsavedom, {0xe000, 0x6000});
    }
  }
  bool errorfree = false;
  if (v.locuscodomnoerror.allocated()) {
    errorfree = v.locuscodomnoerror(0) > 0;
  } else {
    for (int4 l = 1; l <= v.numloci; ++l)
      if (v.dominantmarker(l) == 0 && v.locuserror(l) == 0 && v.obsnumallele(l) >= 1)
        errorfree = true;
  }
  if (!errorfree) return;
  if (hd == 0) {
    set_mask(v.equirowsave,
             {0x3300, 0x1200, 0x6000, 0xf400, 0x6400, 0xf800, 0xe000, 0x4000, 0xc000});
    set_mask(v.equirowsave1, {0x3600, 0x1400, 0x6000, 0xe800, 0x6800, 0xe000, 0xc000});
  } else {
    set_mask(v.equirowsave, {0x8000, 0xc000});
    set_mask(v.equicolsave, {0x0400, 0xf800, 0x4000, 0xc000, 0x0800, 0x6000});
  }
}

}  // namespace kinrad::block_tables
