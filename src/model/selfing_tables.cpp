// Selfing tables: P(observed offspring genotype | true genotype of its selfing parent), by how
// many alleles the parent shares with the offspring, normalised per offspring kind.
#include <cmath>

#include "core/modules/variables.hpp"
#include "model/model.hpp"

namespace kinrad {

void prntselfedoffprob(real8& prob, const int4 t[2], const int4 o[2], int4 locus) {
  if (t[0] == t[1]) {
    prob = prbgtop(t[0], t[0], o, locus);
  } else {
    prob = 0.25 * (2.0 * prbgtop(t[0], t[1], o, locus) + prbgtop(t[0], t[0], o, locus) +
                   prbgtop(t[1], t[1], o, locus));
  }
}

namespace {

// Divides rows first..last by their largest value and returns its log (-1e300 when every
// row is impossible, which leaves them as they are).
real8 normalise_rows(const FView<real8, 1>& rows, int4 first, int4 last) {
  real8 m = 0.0;
  for (int4 r = first; r <= last; ++r)
    if (rows(r) > m) m = rows(r);
  if (m <= 0.0) return -1e300;
  for (int4 r = first; r <= last; ++r) rows(r) /= m;
  return std::log(m);
}

}  // namespace

void calculateprbgtopself(int4 locfrom, int4 locto) {
  Variables& v = variables;
  if (v.numsex != 1) return;
  auto position = [&](int4 l) {
    return v.dominantmarker(l) != 0 ? v.codominantloci(0) + v.dominantloci(l) : v.codominantloci(l);
  };
  if (!v.prbgtopself.allocated()) {
    const int4 n = v.codominantloci(0) + v.dominantloci(0);
    v.prbgtopself.allocate(Dim(n));
    v.prbgtopselfconst.allocate(Dim(n));
    v.prbgtopselftgt.allocate(Dim(7 * (n + 1)));
    v.prbgtopselfconsttgt.allocate(Dim(2 * (n + 1)));
    for (int4 k = 1; k <= n; ++k) {
      v.prbgtopself(k).a = window(v.prbgtopselftgt, 7 * (k - 1) + 1, 7);
      v.prbgtopselfconst(k).a = window(v.prbgtopselfconsttgt, 2 * (k - 1) + 1, 2);
    }
  } else if (locfrom <= locto && v.obsnumallele(locfrom) >= 2) {
    // A later recomputation writes into the spare block, so that the tables built for the
    // whole analysis stay as they were. The spare block follows the blocks of the first call.
    const int4 k = position(locfrom);
    const int4 n = static_cast<int4>(v.prbgtopself.size());
    if (k >= 1 && k <= n) {
      v.prbgtopself(k).a = window(v.prbgtopselftgt, 7 * n + 1, 7);
      v.prbgtopselfconst(k).a = window(v.prbgtopselfconsttgt, 2 * n + 1, 2);
    }
  }
  for (int4 l = locfrom; l <= locto; ++l) {
    if (v.obsnumallele(l) < 2) continue;
    const int4 k = position(l);
    const FView<real8, 1>& rows = v.prbgtopself(k).a;
    const FView<real8, 1>& cst = v.prbgtopselfconst(k).a;
    int4 last;
    if (v.dominantmarker(l) != 0) {
      // Parent 1/1, 1/2, 2/2 with the band; then 2/2, 1/2, 1/1 without it.
      static constexpr int4 parent[6][2] = {{1, 1}, {1, 2}, {2, 2}, {2, 2}, {1, 2}, {1, 1}};
      const int4 band[2] = {1, 1};
      const int4 none[2] = {2, 2};
      for (int4 r = 1; r <= 6; ++r)
        prntselfedoffprob(rows(r), parent[r - 1], r <= 3 ? band : none, l);
      last = 6;
    } else {
      // Offspring a/a (rows 1..3) and a/b (rows 4..7); allele 0 is one the offspring lacks.
      static constexpr int4 parent[7][2] = {{1, 1}, {1, 0}, {0, 0}, {1, 2}, {1, 1}, {1, 0}, {0, 0}};
      const int4 hom[2] = {1, 1};
      const int4 het[2] = {1, 2};
      last = v.obsnumallele(l) == 2 ? 5 : 7;
      for (int4 r = 1; r <= last; ++r)
        prntselfedoffprob(rows(r), parent[r - 1], r <= 3 ? hom : het, l);
    }
    cst(1) = normalise_rows(rows, 1, 3);
    cst(2) = normalise_rows(rows, 4, last);
  }
}

}  // namespace kinrad
