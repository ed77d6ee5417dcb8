#pragma once
// The small readers the files of the move choice share: the draws of the search stream as the
// choice makes them, the side-1 and side-2 tables of familybuild0 read by family, parent
// position and member, and the two stages of the choice that live in their own files.
#include <cmath>
#include <cstddef>

#include "core/kinds.hpp"
#include "core/modules.hpp"
#include "search/move_choice.hpp"
#include "search/move_stages.hpp"

namespace kinrad {

struct RunState;

namespace move_choice_parts {

inline real8 u() {
  return choice_draw();
}
inline int4 pick(int4 n, real8 x) {
  return static_cast<int4>(static_cast<real8>(n) * x + 1.0);
}
inline int4 side_of(real8 x) {
  return static_cast<int4>(std::lround(x)) + 1;
}

inline bool can_self() {
  return variables.numsex == variables.allowinbreeding;
}

// Side-1 tables: the parent position of sex s of family f, the id of the parent at position
// pos of sex s, the member list of family f.
inline int4 fam1(int4 f, int4 s) {
  return annealvariables.familyidx1((s - 1) * annealvariables.numberfsfamily1 + f);
}
inline int4 id1(int4 s, int4 pos) {
  return annealvariables.parentidx1((s - 1) * annealvariables.nparent1(1) + pos);
}
inline int4 member1(int4 f, int4 t) {
  return annealvariables.familymember1(annealvariables.sibloc1(f) + t);
}
inline int4 member2(int4 f, int4 t) {
  return annealvariables.familymember2(annealvariables.familymemberloc2(f) + t);
}
// The position of family id `id` among the side-1 parents of sex s, nparent1(s) + 1 when it is
// not one of them.
inline int4 position1(int4 s, int4 id) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.nparent1(s); ++k)
    if (id1(s, k) == id) return k;
  return av.nparent1(s) + 1;
}
inline int4 position2(int4 s, int4 id) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.nparent2(s); ++k)
    if (av.parentidx2((s - 1) * av.nparent2(1) + k) == id) return k;
  return av.nparent2(s) + 1;
}

inline bool has_known_sibship(int4 i) {
  const auto& ks = variables.knownsibship;
  return ks(i, 1) != 0 || ks(i, 2) != 0;
}

// Counts the distinct known mothers of the full-sib families of one side's cluster (for each
// family the known mother of its first member that has one); true as soon as the count
// reaches `limit`.
template <class Members, class Size>
inline bool known_mothers_fill(MoveChoice& ch, int4 nfam, Members member, Size size, int4 limit) {
  const auto& v = variables;
  int4 count = 0;
  bool full = false;
  for (int4 f = 1; f <= nfam && !full; ++f) {
    for (int4 t = 1; t <= size(f); ++t) {
      const int4 k = v.indivparent(member(f, t), 2);
      if (k <= 0) continue;
      if (ch.candmark(k) == 0) {
        ch.candmark(k) = 1;
        ch.marked(++count) = k;
        if (count >= limit) full = true;
      }
      break;
    }
  }
  for (int4 t = 1; t <= count; ++t) ch.candmark(ch.marked(t)) = 0;
  return full;
}

// One side's picture of the searched cluster (side 1: the own cluster, side 2: another).
struct Side {
  int4 mode = 1;
  int4 n[3] = {0, 0, 0};
  int4 nfam = 0;
  int4 parent(int4 f, int4 s) const {
    const auto& av = annealvariables;
    return mode == 1 ? av.familyidx1((s - 1) * nfam + f) : av.familyidx2(f, s);
  }
  int4 id(int4 s, int4 pos) const {
    const auto& av = annealvariables;
    const int4 j = (s - 1) * n[1] + pos;
    return mode == 1 ? av.parentidx1(j) : av.parentidx2(j);
  }
  int4 size(int4 f) const {
    const auto& av = annealvariables;
    return mode == 1 ? av.numfamilymember1(f) : av.numfamilymember2(f);
  }
  int4 member(int4 f, int4 t) const {
    const auto& av = annealvariables;
    return mode == 1 ? av.familymember1(av.sibloc1(f) + t)
                     : av.familymember2(av.familymemberloc2(f) + t);
  }
  // The position of id among the parents of role s, n(s) + 1 when it is not one of them.
  int4 position(int4 s, int4 x) const {
    for (int4 k = 1; k <= n[s]; ++k)
      if (id(s, k) == x) return k;
    return n[s] + 1;
  }
};

inline Side side_of_mode(int4 mode) {
  const auto& av = annealvariables;
  Side sd;
  sd.mode = mode;
  sd.n[1] = mode == 1 ? av.nparent1(1) : av.nparent2(1);
  sd.n[2] = mode == 1 ? av.nparent1(2) : av.nparent2(2);
  sd.nfam = mode == 1 ? av.numberfsfamily1 : av.numberfsfamily2;
  return sd;
}

}  // namespace move_choice_parts

// The destination full-sib family of an individual move, once the destination cluster is
// known: one small rule per case of the own, another or a new cluster and of the monogamy and
// selfing of the species; false: retry.
bool destination_family(RunState& rs);

// Splits moveindiv's full-sib family at a locus: who moves with it (rs.choice.moving) and who
// stays (rs.choice.staying), with the split's test type and locus.
void split_at_locus(RunState& rs);

}  // namespace kinrad
