#pragma once
// Shared pieces of the validity test of a proposal: row access to the move tables, the undo
// log of the entries a test overwrites, mark lists, and the tests themselves (each answers
// whether the proposal passes and leaves its scratch marks clear).
#include <vector>

#include "core/modules.hpp"

namespace kinrad::check_detail {

// One row of the move tables: list 1 rows live in indivloc1 (the part that stays behind in
// the former cluster), lists 2 and 3 in indivloc2.
struct Row {
  const FArray<int4, 2>* table;
  int4 row;
  int4 offspring() const { return (*table)(row, 4); }
  int4 family(int4 s) const { return (*table)(row, s); }
};

inline Row list_row(int4 list, int4 k) {
  const auto& av = annealvariables;
  return Row{list == 1 ? &av.indivloc1 : &av.indivloc2, av.indivlocidx(k, list)};
}

inline int4 listed(int4 list) {
  return annealvariables.numindivlocidx(list);
}

// Entries that a test overwrites while it runs: the negated family ids, the saved
// parent-offspring entries and the written parents. The destructor puts them back in reverse
// order, so no refusal path can leave the configuration changed.
class Restore {
 public:
  Restore() { annealvariables.checkundo.clear(); }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  ~Restore() { undo(); }

  // Marks the sex-s family of offspring x as changing (family ids are positive).
  void negate(int4 x, int4 s) {
    int4& f = variables.crindivloc(x, s);
    if (f <= 0) return;
    log().push_back({kSign, x, s, f});
    f = -f;
  }
  void set_poassign(int4 s, int4 x, int4 value) {
    int4& e = variables.poassign(s, x);
    log().push_back({kPoassign, x, s, e});
    e = value;
  }
  void set_parent(int4 x, int4 s, int4 value) {
    int4& e = variables.inferparent2(x, s);
    log().push_back({kParent, x, s, e});
    e = value;
  }
  // Puts everything back now; the log is empty afterwards.
  void undo() {
    auto& v = variables;
    auto& entries = log();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      switch (it->what) {
        case kSign:
          v.crindivloc(it->i, it->s) = it->old;
          break;
        case kPoassign:
          v.poassign(it->s, it->i) = it->old;
          break;
        default:
          v.inferparent2(it->i, it->s) = it->old;
          break;
      }
    }
    entries.clear();
  }

 private:
  static constexpr int4 kSign = 1, kPoassign = 2, kParent = 3;
  static std::vector<Annealvariables::CheckUndo>& log() { return annealvariables.checkundo; }
};

// A list of keys whose marks in a scratch array are cleared together. The keys live in a
// reused buffer of the module, so nothing is allocated per proposal.
struct MarkList {
  FArray<int4, 1>& marks;
  FArray<int4, 1>& keys;
  int4 n = 0;
  void set(int4 key, int4 value) {
    if (marks(key) == 0) keys(++n) = key;
    marks(key) = value;
  }
  void clear() {
    for (int4 k = 1; k <= n; ++k) marks(keys(k)) = 0;
    n = 0;
  }
};

// Whether the bit of the lower of offspring a and b is set in the sex-s excluded-sibship set

// The tests, in the order they run; each returns true when the proposal passes.
bool max_matings_ok(int4 knownsibside, int4 movekind);
bool monoecious_rows_ok();
bool cross_listed_ok(Restore& restore);
bool parent_not_sib_ok();
bool no_pedigree_loop(Restore& restore);
bool known_sibships_ok(int1 wholesibshipsex);
bool known_parents_ok(Restore& restore);
bool excluded_sibships_ok();
bool parent_conflicts_ok();
bool excluded_parents_ok();
bool monoecious_species_ok();
bool haploid_rows_ok();
// The final decision of an individual move (1 admitted, 0 refused), with the equality path.
int4 final_decision(int4 movekind);

}  // namespace kinrad::check_detail
