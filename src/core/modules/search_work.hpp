#pragma once
// Scratch of the annealing search: buffers that only grow, reused from call to call. Nothing
// here outlives its use; the contents between uses mean nothing.
#include <utility>
#include <vector>

#include "core/kinds.hpp"

namespace kinrad {

struct SearchWork {
  std::vector<int4> order{};             // offspring in an order being built (counts, GUI lines)
  std::vector<int4> count1{}, count2{};  // tallies by family or cluster id
  std::vector<int8> fskeys{};            // per offspring its full-sib family key and ploidy
  std::vector<int4> pool{};              // relabelling: labels not yet drawn (1..)
  std::vector<int4> newlabel{};          // relabelling: the new label of each old id (1..)
  std::vector<real8> keys{};             // sort keys of the family-size limit
  int4 istart = -1;                      // the screens' variant scored first (-1: not yet set)
  std::vector<char> inrows{};   // a move's windows: offspring already in a row (0 between uses)
  std::vector<int4> idmark{};   // family renumbering: ids proposed or emptied (0 between uses)
  std::vector<int4> newids{};   // family renumbering: ids a move introduced
  std::vector<int4> emptied{};  // family renumbering: ids a move left without offspring
  // A known-sibship move's test of its two sides: the family ids of side 1, per sex (one id
  // space, the first, in one parent pool). 0 between uses.
  std::vector<char> sidefamily1{}, sidefamily2{};
  // Parent-side moves: the distinct parent ids of the cluster in hand per sex (from 1, in the
  // order of the renumbering) with the offspring count of each, the ids a reversal frees, the
  // id shift that closes their gaps, the visiting order of the cluster's rows and the sort
  // keys that build it; and the listed fathers of one mother with their families.
  std::vector<int4> ids1{}, ids2{}, size1{}, size2{};
  std::vector<int4> freed{}, shift{}, roworder{};
  std::vector<std::pair<int4, int4>> sortkeys{};
  std::vector<int4> fathers{}, fatherfamily{};
};

inline SearchWork search_work{};

}  // namespace kinrad
