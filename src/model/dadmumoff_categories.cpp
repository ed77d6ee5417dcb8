// Parent-offspring categories: for every allele number up to 8 and every offspring genotype,
// the entry of the block's normalised table that gives each parental pair's probability of
// producing that offspring, and bit sets of the pairs of the least likely categories.
#include <cstdint>
#include <vector>

#include "core/modules/variables.hpp"
#include "model/block_tables_internal.hpp"

namespace kinrad::block_tables {

namespace {

inline int4 npairs(int4 k, int4 hd) {
  return hd == 0 ? genotype_count(k) * (genotype_count(k) + 1) / 2 : k * genotype_count(k);
}

// Category of (father, mother) for an observed homozygote in its two-allele coding
// (genotypes 1/1, 1/2, 2/2; a haploid father's allele 1 or 2).
constexpr int1 kHom[2][3][3] = {{{1, 2, 3}, {2, 4, 5}, {3, 5, 6}},
                                {{1, 2, 3}, {3, 4, 5}, {0, 0, 0}}};
// The same for an observed heterozygote in its three-allele coding (genotypes 1/1, 1/2, 1/3,
// 2/2, 2/3, 3/3; a haploid father's allele 1 to 3).
constexpr int1 kHet0[6][6] = {{1, 2, 3, 4, 5, 6}, {2, 2, 7, 2, 7, 6}, {3, 7, 6, 5, 8, 9},
                              {4, 2, 5, 1, 3, 6}, {5, 7, 8, 3, 6, 9}, {6, 6, 9, 6, 9, 10}};
constexpr int1 kHet1[3][6] = {{1, 2, 3, 4, 5, 6}, {4, 2, 5, 1, 3, 6}, {6, 6, 7, 6, 7, 8}};

struct Genotype {
  int4 a;
  int4 b;
};

// Genotypes of k alleles in row-by-row number order.
std::vector<Genotype> genotypes_of(int4 k) {
  std::vector<Genotype> g;
  for (int4 a = 1; a <= k; ++a)
    for (int4 b = a; b <= k; ++b) g.push_back({a, b});
  return g;
}

// Holder index (0-based within allele number k) of offspring genotype a/b: homozygotes
// first, then heterozygotes in lexicographic order.
int4 offspring_slot(int4 a, int4 b, int4 k) {
  if (a == b) return a - 1;
  return k + pair_number(a, b, k) - 1 - a;
}

}  // namespace

void allocate_categories(int4 k8) {
  Variables& v = variables;
  const int4 hd = v.haplodiploid;
  index_t c = 0;
  index_t store = 0;
  for (int4 k = 2; k <= k8; ++k) {
    c += genotype_count(k);
    store += static_cast<index_t>(npairs(k, hd)) * genotype_count(k);
  }
  if (!v.dadmumoffprbidx.allocated()) {
    v.dadmumoffprbidx.allocate(Dim(c));
    v.dadmumoffprbjdx.allocate(Dim(c));
    v.dadmumoffprbkdx.allocate(Dim(c));
  }
  if (v.dadmumoffprbtgt.allocated()) return;
  v.dadmumoffprbtgt.allocate(Dim(store > 0 ? store : 1));
  index_t entry = 0;
  index_t first = 1;
  for (int4 k = 2; k <= k8; ++k) {
    const int4 np = npairs(k, hd);
    const int4 words = (np + 31) / 32;
    for (int4 g = 1; g <= genotype_count(k); ++g) {
      ++entry;
      v.dadmumoffprbidx(entry).a = window(v.dadmumoffprbtgt, first, np);
      first += np;
      v.dadmumoffprbjdx(entry).a.allocate(Dim(words));
      v.dadmumoffprbkdx(entry).a.allocate(Dim(words));
    }
  }
}

void fill_categories(int4 k8, bool het) {
  Variables& v = variables;
  const int4 hd = v.haplodiploid;
  const int1 worst = het ? (hd == 0 ? 10 : 8) : static_cast<int1>(6 - hd);
  index_t base = 0;
  for (int4 k = 2; k <= k8; ++k) {
    const std::vector<Genotype> gl = genotypes_of(k);
    const int4 g = genotype_count(k);
    for (int4 oa = 1; oa <= k; ++oa) {
      for (int4 ob = oa; ob <= k; ++ob) {
        if ((oa != ob) != het) continue;
        if (het && k == 2) {
          // The one heterozygote of two alleles: its six pairs have fixed categories.
          const I1bdim1& h = v.dadmumoffprbidx(base + offspring_slot(oa, ob, k) + 1);
          const int1 fixed[6] = {1, 2, 3, static_cast<int1>(2 + hd), 2, 1};
          for (int4 p = 1; p <= 6; ++p) h.a(p) = fixed[p - 1];
          continue;
        }
        // Recoding relative to the offspring genotype: its alleles become 1 (and 2), every
        // other allele the last code.
        auto code = [&](int4 x) { return x == oa ? 1 : (het && x == ob ? 2 : (het ? 3 : 2)); };
        auto category = [&](int4 father, const Genotype& mother) -> int1 {
          const int4 mo = het ? pair_number(code(mother.a), code(mother.b), 3)
                              : pair_number(code(mother.a), code(mother.b), 2);
          if (hd == 1)
            return het ? kHet1[code(father) - 1][mo - 1] : kHom[1][code(father) - 1][mo - 1];
          const Genotype& f = gl[static_cast<std::size_t>(father - 1)];
          const int4 fa =
              het ? pair_number(code(f.a), code(f.b), 3) : pair_number(code(f.a), code(f.b), 2);
          return het ? kHet0[fa - 1][mo - 1] : kHom[0][fa - 1][mo - 1];
        };
        const index_t entry = base + offspring_slot(oa, ob, k) + 1;
        const FView<int1, 1>& idx = v.dadmumoffprbidx(entry).a;
        FArray<int4, 1>& jdx = v.dadmumoffprbjdx(entry).a;
        FArray<int4, 1>& kdx = v.dadmumoffprbkdx(entry).a;
        jdx.fill(0);
        kdx.fill(0);
        int4 p = 0;
        auto mark = [&](int1 cat) {
          ++p;
          idx(p) = cat;
          const std::uint32_t bit = std::uint32_t{1} << ((p - 1) % 32);
          const index_t w = (p - 1) / 32 + 1;
          if (cat == worst) jdx(w) = static_cast<int4>(static_cast<std::uint32_t>(jdx(w)) | bit);
          if (cat >= worst - 1)
            kdx(w) = static_cast<int4>(static_cast<std::uint32_t>(kdx(w)) | bit);
        };
        if (hd == 0) {
          for (int4 gf = 1; gf <= g; ++gf)
            for (int4 gm = gf; gm <= g; ++gm)
              mark(category(gf, gl[static_cast<std::size_t>(gm - 1)]));
        } else {
          for (int4 a = 1; a <= k; ++a)
            for (int4 gm = 1; gm <= g; ++gm)
              mark(category(a, gl[static_cast<std::size_t>(gm - 1)]));
        }
      }
    }
    base += g;
  }
}

}  // namespace kinrad::block_tables
