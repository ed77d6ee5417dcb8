// Observation tables of the error-prone loci of more than two alleles, by sharing class.
#include <vector>

#include "core/modules/variables.hpp"
#include "model/model.hpp"

namespace kinrad {

void initialprbgtop(int4 locfrom, int4 locto) {
  Variables& v = variables;
  std::vector<int4> list;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  for (int4 j = 1; j <= n3; ++j) {
    const int4 l = v.locus3(j);
    if (l >= locfrom && l <= locto && v.locuserror(l) != 0) list.push_back(l);
  }
  if (!v.markererror3.allocated()) v.markererror3.allocate(Dim(v.numloci));
  for (int4 l = locfrom; l <= locto; ++l) v.markererror3(l) = 0;
  const int4 n = static_cast<int4>(list.size());
  for (int4 p = 1; p <= n; ++p) v.markererror3(list[static_cast<std::size_t>(p - 1)]) = p;
  if (n == 0) return;
  v.prbgtophom.deallocate();
  v.prbgtophet.deallocate();
  v.prbgtophom.allocate(Dim(0, 2), Dim(n));
  v.prbgtophet.allocate(Dim(0, 3), Dim(n));
  for (int4 p = 1; p <= n; ++p) {
    const int4 l = list[static_cast<std::size_t>(p - 1)];
    const int4 k = v.obsnumallele(l);
    const real8 d = v.droprate(l);
    const real8 e = errscale(k, v.othererrorrate(l));
    // Alleles 0 and 3 stand for alleles other than the observed ones.
    v.prbgtophom(0, p) = prbg_p(1, 1, 0, 3, k, d, e, 0);
    v.prbgtophom(1, p) = prbg_p(1, 1, 1, 3, k, d, e, 0);
    v.prbgtophom(2, p) = prbg_p(1, 1, 1, 1, k, d, e, 0);
    v.prbgtophet(0, p) = prbg_p(1, 2, 0, 3, k, d, e, 0);
    v.prbgtophet(1, p) = prbg_p(1, 2, 1, 3, k, d, e, 0);
    v.prbgtophet(2, p) = prbg_p(1, 2, 1, 2, k, d, e, 0);
    v.prbgtophet(3, p) = prbg_p(1, 2, 1, 1, k, d, e, 0);
  }
}

}  // namespace kinrad
