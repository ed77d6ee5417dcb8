#pragma once
// Look-ups of identifiers among the offspring and among the candidates of each sex, for the
// relationship items of the project input file. Identifiers are unique within each pool, so
// a halving search over the sorted identifiers finds the one match.
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {

struct InputReader;

class IdentifierLookup {
 public:
  // Sorts the candidate identifiers of each sex; the offspring order is the one the reader
  // left in column 2 of crindivloc.
  void build();
  // The offspring number of id, 0 when none.
  int4 offspring(const FString<20>& id) const;
  // The number of id among the candidates of sex s, 0 when none.
  int4 candidate(int4 s, const FString<20>& id) const;

 private:
  FArray<int4, 1> order_[2];
};

// The individual named id: an offspring (kind 0) or a candidate of sex kind (1 or 2). Stops
// with a data error when there is none.
int4 findindiv(const IdentifierLookup& look, const FString<20>& id, int4 kind);

// Known relationships (items 30, 31 and the monogamy test) and exclusions (items 32, 33).
void read_known_relationships(InputReader& in, const IdentifierLookup& look);
void read_exclusions(InputReader& in, const IdentifierLookup& look);

}  // namespace kinrad
