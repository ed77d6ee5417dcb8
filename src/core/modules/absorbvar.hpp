#pragma once
// The module `absorbvar`.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Work arrays of the pair absorption.
struct Absorbvar {
  // Genotype index holders and value triples of the absorption routines.
  FStatic<Element, 1, 3> gtypeidx{};
  FStatic<Element, 1, 3> gtypejdx{};
  FStatic<Element, 1, 3> gtypekdx{};
  FStatic<Element, 1, 3> gtypeldx{};
  FStatic<Element, 1, 3> gtypemdx{};
  FStatic<Element, 1, 3> gtypendx{};
  FStatic<real8, 1, 3> xx{};
  FStatic<real8, 1, 3> zz{};

  // Pair and single absorption inside the layer peeling of two-sex clusters. Storage only
  // grows; the family in hand's counts give the extent in use. Layers are numbered as the layer
  // states they read from (layer L works on state L - 1).
  FArray<real8, 3> fsprob2{};          // (maxsel, maxsel, 0:fsprob2cap) pair tables, father's
                                       // candidate position first; slot 0 a work table
  FArray<real8, 1> fsprob2sum{};       // (0:fsprob2cap) sum of each pair table
  int4 fsprob2cap = 0;                 // pair tables allotted to the family in hand
  int4 fsprob2limit = 200;             // most pair tables along one descent, whatever the family
  FArray<int2, 1> changedpairq{};      // (pair number) pair table standing for the pair, 0 none
  FArray<int4, 2> pairparent{};        // (2, pair number) father and mother, joint parent numbers
  int4 numpairs = 0;                   // pair numbers of the family in hand
  int4 changedpairnum = 0;             // tables in use along the current descent
  FArray<int4, 1> changedpairstart{};  // (layer) first table number of a layer, minus 1
  FArray<int4, 2> changedpairid{};     // (0:fsprob2cap, layer) pairs given tables at a layer;
                                       // (0, L) = -1 layer never visited
  FArray<int4, 1> changedpairiter{};   // (layer) chain passes; 2147483647 not yet known
  FArray<int4, 2> changedpairlayer{};  // (0:fsprob2cap, layer) tables on links in a layer's graph
  FArray<real8, 1> layerrange2{};      // (layer) ln of the largest value entering a layer
  FArray<int4, 2> absorbsingleid{};    // (pass, layer) singles of each pass, first visit
  FArray<int1, 2> absorbsinglesex{};   // (pass, layer) sex their absorption starts with
  FArray<int1, 2> doubleabsorb{};      // (2, layer) the layer merges parallel parents of a sex
  int4 allabsorbedpass = 0;            // pass that emptied the graph (its layer: likelihoodvar)
  // Chains and groups found on a layer's first visit and replayed on its later visits: a chain
  // is its start father negated, then its further members; a group of parallel parents is
  // -(members + 3), the mate kept, the mate summed out, that mate's third mate, the members.
  FArray<int4, 1> absorbpairlist{};
  int4 numpairlist = 0;
  FArray<int4, 3> absorbpairiter{};  // (2, pass 0:, layer) list bounds of a pass; pass 0 groups
  FStatic<int4, 1, 6> listdim{};     // longest chain, most chains of a father, most parallel
                                     // parents listed; 4 to 6 their copy
  // Work of the searches and of the table building.
  FArray<int4, 1> absorbmark{};     // (nallparent) parent not to enter a chain or group
  FArray<int4, 1> absorbchain{};    // chains of the start father in hand, as in the list
  FArray<int4, 2> absorbsingles{};  // (0:nallparent, 2) singles waiting, per sex
  FArray<real8, 2> absorbx{};       // (maxsel, maxsel) running sums along a chain, by the start
  FArray<real8, 2> absorby{};       // father's position (columns)
  FArray<real8, 2> absorbt{};       // (maxsel, maxsel) one link's table over live positions
  FArray<int4, 2> absorblive{};     // (maxsel, 3) positions of non-zero weight
  FArray<real8, 1> absorbrowlog{};  // (maxsel) natural log carried out of each row
};

constinit inline Absorbvar absorbvar{};

}  // namespace kinrad
