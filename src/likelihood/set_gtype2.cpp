#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {

// One byte per offspring and two-allele position, so that the engine's inner loops read a
// code without shift and mask. The heterozygote is stored as code 3 whatever number the packed
// store reads it back as.
void setgtype2() {
  Variables& v = variables;
  const int4 first = v.l2thread(1);
  const int4 last = v.l2thread(2);
  v.indivgtype1.allocate(Dim(v.smplsize), Dim(first, last));
  for (int4 k = first; k <= last; ++k) {
    setgetgtype.locusgtypeptr = v.indivgtype2(v.locus2(k)).a;
    for (int4 i = 1; i <= v.smplsize; ++i) {
      int2 g = 0;
      getgtype(g, i, 2);
      v.indivgtype1(i, k) = static_cast<int1>(g > 3 ? 3 : g);
    }
  }
}

}  // namespace kinrad
