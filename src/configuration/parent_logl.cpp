// Likelihood term of the candidate parents a configuration leaves unassigned.
#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace kinrad {

void computeparentlogl(real8& logl) {
  auto& v = variables;
  logl = 0.0;
  if (v.allcandidate < 1 || v.numsex < 1) return;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  for (int4 s = 1; s <= v.numsex; ++s) {
    // With one parent pool a candidate is assigned when it is a parent in either role.
    const int4 c0 = pool ? 1 : s;
    const int4 c1 = pool ? 2 : s;
    for (int4 c = c0; c <= c1; ++c)
      for (int4 i = 1; i <= n; ++i) {
        const int4 p = v.inferparentprt(i, c);
        if (p > 0) v.selectedprntq(p) = 1;
      }
    for (int4 c = 1; c <= v.numcandidate(s); ++c) {
      if (v.selectedprntq(c) != 0) {
        v.selectedprntq(c) = 0;
        continue;
      }
      bool known = v.knownprntq(c, s) > 0;
      if (pool) known = known || v.knownprntq(c, 2) > 0;
      if (!known) logl += v.candidatelogl(c, s);
    }
  }
}

}  // namespace kinrad
