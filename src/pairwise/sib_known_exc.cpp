// Known sibship status of a pair of offspring from the known and excluded sibships.
#include <algorithm>
#include <cstdint>

#include "core/modules.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// Marks, once per run, the offspring that carry an excluded-sibship set on each side that has
// any, so that most pairs are settled without touching the bit sets.
void buildsibexc() {
  Variables& v = variables;
  const int4 first = v.anyexcludedsibshipq(1) != 0 ? 1 : 2;
  const int4 last = v.anyexcludedsibshipq(2) != 0 ? 2 : 1;
  simuvariables.sibexc.allocate(Dim(v.smplsize), Dim(first, last));
  if (!v.excludedsib.allocated()) return;
  for (int4 s = first; s <= last; ++s)
    for (int4 k = 1; k <= v.smplsize; ++k)
      simuvariables.sibexc(k, s) = v.excludedsib(k, s).a.allocated() ? 1 : 0;
}

// The bit of the lower-numbered offspring in the set of the higher one on side s.
bool excludedpair(int4 i, int4 j, int4 s) {
  const Variables& v = variables;
  const FArray<int1, 2>& mark = simuvariables.sibexc;
  const int4 lo = std::min(i, j);
  const int4 hi = std::max(i, j);
  if (s < mark.lbound(2) || s > mark.ubound(2) || mark(hi, s) == 0) return false;
  const FArray<int4, 1>& words = v.excludedsib(hi, s).a;
  const index_t w = (lo - 1) / 32;
  if (w < words.lbound(1) || w > words.ubound(1)) return false;
  const std::uint32_t bit = std::uint32_t{1} << ((lo - 1) % 32);
  return (static_cast<std::uint32_t>(words(w)) & bit) != 0;
}

}  // namespace

void sibknownexc(int4 i, int4 j, std::array<int4, 2>& stat, const std::array<int4, 2>& ks) {
  const Variables& v = variables;
  for (int4 s = 1; s <= 2; ++s) {
    int4& st = stat[static_cast<std::size_t>(s - 1)];
    const int4 a = ks[static_cast<std::size_t>(s - 1)];
    const int4 b = v.knownsibship.allocated() ? v.knownsibship(j, s) : 0;
    st = 0;
    if (a > 0 && b == a) {
      st = 1;
    } else if (a < 0 && b < 0) {
      // Negative groups are the offspring of different known parents.
      st = a == b ? 1 : -1;
    }
    // A given exclusion decides whatever side the groups leave open.
    if (st == 0 && v.anyexcludedsibshipq(s) != 0) {
      if (!simuvariables.sibexc.allocated()) buildsibexc();
      if (excludedpair(i, j, s)) st = -1;
    }
  }
}

}  // namespace kinrad
