#pragma once
// What the pieces of the parentage proposal share: the rows of the move tables, the change
// lists (indivparentage, inferparentage, parentagefamily per sex, with their counts in
// numindivparentage), the candidate draws, and the stages that parentageassign calls. The
// stages report false when the proposal is rejected.
#include <cmath>

#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::parentage_detail {

// One row of the move tables: list 1 rows live in indivloc1, lists 2 and 3 in indivloc2.
struct MoveRow {
  FArray<int4, 2>* table;
  int4 row;
  int4 offspring() const { return (*table)(row, 4); }
  int4 family(int4 s) const { return (*table)(row, s); }
};

inline MoveRow move_row(int4 list, int4 k) {
  auto& av = annealvariables;
  const int4 r = av.indivlocidx(k, list);
  return MoveRow{list == 1 ? &av.indivloc1 : &av.indivloc2, r};
}

// Grows the change lists to hold n entries per sex; they are never shrunk, so a run reuses them.
void reserve_entries(int4 n);

// Appends the sex-s entry of offspring o: its parent oldp becomes newp, in family `family`.
void add_entry(int4 s, int4 o, int4 oldp, int4 newp, int4 family);

// Keeps, in order, the sex-s entries for which keep(k) holds.
template <class Keep>
void compact_entries(int4 s, Keep keep) {
  auto& av = annealvariables;
  int4 m = 0;
  const int4 n = av.numindivparentage(s);
  for (int4 k = 1; k <= n; ++k) {
    if (!keep(k)) continue;
    ++m;
    if (m != k) {
      av.indivparentage(m, s) = av.indivparentage(k, s);
      av.inferparentage(m, s, 1) = av.inferparentage(k, s, 1);
      av.inferparentage(m, s, 2) = av.inferparentage(k, s, 2);
      av.parentagefamily(m, s) = av.parentagefamily(k, s);
    }
  }
  av.numindivparentage(s) = m;
}

// The sex-s entry of offspring o (0: none).
inline int4 entry_of(int4 s, int4 o) {
  const auto& av = annealvariables;
  for (int4 k = 1; k <= av.numindivparentage(s); ++k)
    if (av.indivparentage(k, s) == o) return k;
  return 0;
}

// Candidates of sex s; with one parent pool both roles draw from the pool.
inline int4 ncand(int4 s) {
  return variables.numsex == 1 ? variables.numcandidate(1) : variables.numcandidate(s);
}

// A uniform draw from 1..n (one draw of the search stream).
inline int4 uniform_draw(int4 n) {
  return static_cast<int4>(std::floor(static_cast<real8>(n) * ran2() + 1.0));
}

// A candidate of sex s for offspring o: uniform among few candidates, otherwise from the
// offspring's list of best candidates (0: none drawn).
int4 draw_candidate(int4 o, int4 s);

// Free to become a parent: no known parent, a parent of no family, and not yet proposed for
// another group of this move (marked in selectedprntq).
bool usable(int4 c, int4 s);

// Selfing can occur: inbreeding allowed in every parent pool (allowinbreeding == numsex).
inline bool selfing_in_play() {
  return variables.allowinbreeding == variables.numsex;
}

// Rows of move list `list` (1: the source, 2: the destination, 3: the moved offspring).
inline int4 nrows(int4 list) {
  return annealvariables.numindivlocidx(list);
}

// --- The stages of the individual move ---------------------------------------------------------

// Proposals of sex s for the moved offspring whose sex-s family changes; true when some
// existing destination family gets a parent other than its present one.
bool propose_sex(int4 s, int4 movekind);

// The father a diploid offspring leaves behind may follow it into an all-haploid destination.
void haploid_father(int4 movekind);

// Known parents of sex s of the moved offspring bound to their family; false: two different
// known parents bound for one family.
bool bind_known_parents(int4 s);

// With selfing in play, the known parents of role r bound across both roles; false: rejected.
bool bind_across_roles(int4 r);

// Carries the proposed parents of sex s to every member of the touched families; false: a
// known parent would be replaced.
bool carry_parents(int4 s);

// One parent pool: the proposed parents carried to the offspring holding the family in the
// other role; false: a known parent would be replaced.
bool carry_across_roles();

// --- Checks on the change lists ------------------------------------------------------------------

// Haploid offspring have no father: their sex-1 entries go, and a father left with only
// haploid offspring behind loses them too; false: a known father would be lost.
bool haploid_adjustment();

// Every family of the touched rows keeps one parent and every sampled parent one family, over
// roles r0..r1; false: the proposal breaks this.
bool one_parent_per_family(int4 r0, int4 r1);

// With selfing in play, a moved offspring proposed as selfed ends with one parent in both roles.
void selfed_agreement();

// --- The two moves ---------------------------------------------------------------------------

// The individual move: proposals per sex, the binding of known parents, and the parents
// carried to the rest of the touched families. false: rejected.
bool individual_move(const FStatic<int4, 1, 4>& numassign, int4 movekind);

// The family move: the whole sex-s family of moveindiv takes one new parent (or the
// unsampled one). false: rejected.
bool family_move(FStatic<int4, 1, 3>& familymove, int4 movepos, FArray<int4, 2>& eligible,
                 const FStatic<int4, 1, 2>& numunassigned);

}  // namespace kinrad::parentage_detail
