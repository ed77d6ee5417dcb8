// The windows of the two sides of an individual move completed with the rows of the full-sib
// families the move does not touch, so that each side holds whole clusters: the proposal's
// clusters are rebuilt from these rows, and an untouched family left out would be cut off its
// cluster.
#include <vector>

#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "search/move_verdict_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// Appends the offspring of cluster `id` that no side row holds to side `side`, with their
// present family ids.
void append_missing(int4 id, int4 side, std::vector<char>& inrows) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 slot = v.indivclusterindex(id);
  const auto& members = v.indivcluster(slot);
  auto win = av.indivloc12(side);
  for (index_t t = 1; t <= members.size(1); ++t) {
    const int4 o = members(t);
    if (inrows[static_cast<std::size_t>(o)] != 0) continue;
    inrows[static_cast<std::size_t>(o)] = 1;
    const int4 r = ++av.numindiv(side);
    win(r, 1) = v.crindivloc(o, 1);
    win(r, 2) = v.crindivloc(o, 2);
    win(r, 3) = 0;
    win(r, 4) = o;
  }
}

}  // namespace

void complete_move_windows(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  const MoveChoice& ch = rs.choice;
  const int4 restside = rs.proposal.restside;
  auto& inrows = search_work.inrows;
  if (inrows.size() < static_cast<std::size_t>(v.smplsize) + 1)
    inrows.assign(static_cast<std::size_t>(v.smplsize) + 1, 0);
  for (int4 k = 1; k <= 2; ++k)
    for (int4 r = 1; r <= av.numindiv(k); ++r)
      inrows[static_cast<std::size_t>(av.indivloc12(k)(r, 4))] = 1;
  const int4 ownside = restside != 0 ? restside : (ch.movekind == 1 ? 2 : 1);
  append_missing(ch.owncluster, ownside, inrows);
  if (ch.movekind == 2) append_missing(av.hostfamily(3), 2, inrows);
  // The marks of the untouched families of the moving offspring's cluster go back to 0.
  if (v.selectedfamily.allocated())
    for (int4 f = 1; f <= av.numberfsfamily1 && f <= v.selectedfamily.ubound(1); ++f)
      if (v.selectedfamily(f) < 0) v.selectedfamily(f) = 0;
  for (int4 k = 1; k <= 2; ++k) {
    const int4 id = k == 1 ? ch.owncluster : av.hostfamily(3);
    for (int4 r = 1; r <= av.numindiv(k); ++r) {
      inrows[static_cast<std::size_t>(av.indivloc12(k)(r, 4))] = 0;
      av.indivloc12(k)(r, 3) = id;
    }
  }
}

}  // namespace kinrad
