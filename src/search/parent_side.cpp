// The two moves on the parent side that the iteration tries every 100th iteration, before its
// own move: the exchange of a cluster's paternal and maternal sibships and the change of
// father of a family's haploid offspring.
#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

void parent_side_moves(RunState& rs) {
  auto& v = variables;
  const int8 it = rs.cp.numiterate;
  rs.sidemoveok = 0;
  if (v.crnumfamily(3) > 1 && v.converseq != 0 && rs.cp.newbestcount > 0 && it % 100 == 0) {
    if (reversal(rs)) rs.sidemoveok = 1;
  }
  if (rs.sidemoveok == 0 && v.smplsizedh(1) > 0 && v.anymonogamy == 0 && it % 100 == 0 &&
      annealvariables.rate > ran2()) {
    if (swapdadid(rs)) rs.sidemoveok = 1;
  }
  if (rs.sidemoveok != 0) {
    setindivclusterindex();
    if (v.priortype == 1) rs.oldsibsizeprior = newewenprior(rs.cp.numsizeclass);
  }
}

// Not built yet: never applied.
bool reversal(RunState& /*rs*/) { return false; }
bool swapdadid(RunState& /*rs*/) { return false; }

}  // namespace kinrad
