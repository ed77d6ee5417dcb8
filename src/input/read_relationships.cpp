// Items 30 and 31 of the project input file, known parents and known sibships, with the test
// of the known relationships against monogamy; and the driver of the relationship items.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "input/identifier_lookup_internal.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

void IdentifierLookup::build() {
  for (int4 s = 1; s <= 2; ++s) {
    const int4 n = variables.numcandidate(s);
    FArray<int4, 1>& order = order_[s - 1];
    order.allocate(n);
    if (n > 0) indexch(n, &variables.cndparentid(1, s), order.data());
  }
}

int4 IdentifierLookup::offspring(const FString<20>& id) const {
  int4 pos = 0;
  locateoffspring(&variables.crindivloc(1, 2), variables.smplsize, id, pos);
  return pos;
}

int4 IdentifierLookup::candidate(int4 s, const FString<20>& id) const {
  const FArray<int4, 1>& order = order_[s - 1];
  const int4 n = variables.numcandidate(s);
  // Identifiers compare as 20 unsigned bytes, as they were sorted.
  auto compare = [&](int4 k) {
    return std::memcmp(id.data(), variables.cndparentid(order(k), s).data(), 20);
  };
  int4 lo = 1;
  int4 hi = n;
  while (lo <= hi) {
    const int4 mid = (lo + hi) / 2;
    const int c = compare(mid);
    if (c == 0) return order(mid);
    if (c < 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return 0;
}

int4 findindiv(const IdentifierLookup& look, const FString<20>& id, int4 kind) {
  const int4 found = kind == 0 ? look.offspring(id) : look.candidate(kind, id);
  if (found > 0) return found;
  std::string text = kind == 0 ? "Offspring ID, " : "Candidate ID, ";
  text += id.trimmed();
  if (kind == 0) {
    text += ", not found in the offspring pool!";
  } else {
    text += ", not found in the ";
    text += kind == 1 ? "male" : "female";
    text += " candidate pool!";
  }
  stopondataerror(text);
}

namespace {

std::string_view pm(int4 s) {
  return s == 1 ? "p" : "m";
}

// Loci at which candidate c of sex s cannot be a parent of offspring i, counted until the
// tolerance can no longer be kept or met. Dominant loci and loci missing in either are
// passed over.
int4 mismatches(int4 i, int4 s, int4 c, int4 tolerance) {
  const int4 nloci = variables.numloci;
  if (tolerance >= nloci) return 0;
  const int4 col = (s - 1) * variables.numcandidate(1) + c;
  const int4 pploid = variables.ploidy(s);
  const int4 oploid = variables.offploid(i);
  const auto& off = variables.indivgtype;
  const auto& cnd = variables.cndgtype;
  auto inoffspring = [&](int4 l, int1 a) {
    for (int4 k = 1; k <= oploid; ++k)
      if (off(k, l, i) == a) return true;
    return false;
  };
  int4 count = 0;
  for (int4 l = 1; l <= nloci; ++l) {
    if (count > tolerance || count + (nloci - l + 1) <= tolerance) break;
    if (variables.dominantmarker(l) == 1) continue;
    bool missing = false;
    for (int4 k = 1; k <= pploid; ++k)
      if (cnd(k, l, col) == 0) missing = true;
    for (int4 k = 1; k <= oploid; ++k)
      if (off(k, l, i) == 0) missing = true;
    if (missing) continue;
    if (inoffspring(l, cnd(1, l, col))) continue;
    if (pploid == 1) continue;
    if (inoffspring(l, cnd(2, l, col))) continue;
    ++count;
  }
  return count;
}

// Item 30: known fathers, then known mothers, each block headed by its number of lines and
// the number of mismatching loci tolerated.
void read_known_parents(InputReader& in, const IdentifierLookup& look) {
  variables.indivparent.allocate(variables.smplsize, 2);
  variables.indivparent.fill(-1);
  for (int4 s = 1; s <= 2; ++s) {
    in.setitem(InputReader::prefix, std::string("known ") + std::string(pm(s)) + "aternity");
    int4 nlines = 0;
    int4 tolerance = 0;
    in.readitem(nlines, tolerance);
    tolerance = std::max(tolerance, 0);
    for (int4 t = 1; t <= nlines; ++t) {
      FString<20> offid;
      FString<20> cndid;
      in.readitem(offid, cndid);
      const int4 i = findindiv(look, offid, 0);
      if (s == 1 && variables.offploid(i) == 1) {
        std::string text = "Haploid offspring ";
        text += offid.trimmed();
        text += " has a known father, ";
        text += cndid.trimmed();
        text += ", which is impossible!";
        stopondataerror(text);
      }
      const int4 c = findindiv(look, cndid, s);
      // A known parent beyond the tolerance is dropped without a message.
      if (mismatches(i, s, c, tolerance) <= tolerance) variables.indivparent(i, s) = c;
    }
  }
}

// Item 31: known paternal, then maternal sibships. Lines that share offspring are merged
// into one sibship, however they chain; the merged sibship keeps the largest number its
// parts held, or the number of the line that founded it.
void read_known_sibships(InputReader& in, const IdentifierLookup& look) {
  const int4 n = variables.smplsize;
  variables.knownsibship.allocate(n, 2);
  for (int4 s = 1; s <= 2; ++s) {
    in.setitem(InputReader::prefix, std::string("known ") + std::string(pm(s)) + "aternal sibship");
    FString<20> token;
    in.readitem(token);
    std::string why = "\nAn integer expected for number of known sibship, but reads \"";
    why += token.trimmed();
    why += "\"\n";
    variables.errmsg(3) = why;
    int4 count = 0;
    if (!token_to_integer("(I9)", token.view(), count)) in.readfailure();
    // The explanation belongs to the count only, not to a failure of the lines below.
    variables.errmsg(3) = "";

    // rep[t]: the sibship that sibship t was merged into (itself while it stands alone).
    std::vector<int4> rep(1, 0);
    auto root = [&](int4 v) {
      while (rep[static_cast<std::size_t>(v)] != v) v = rep[static_cast<std::size_t>(v)];
      return v;
    };
    std::vector<int4> members;
    std::vector<FString<20>> ids;
    for (int4 t = 1; t <= count; ++t) {
      rep.push_back(t);
      int4 m = 0;
      in.readcounted(ids, m);
      if (m < 1) continue;
      members.clear();
      for (const FString<20>& id : ids) {
        const int4 i = findindiv(look, id, 0);
        if (s == 1 && variables.offploid(i) == 1) {
          std::string text = "Haploid offspring ";
          text += id.trimmed();
          text += " has a known paternal sibship, which is impossible!";
          stopondataerror(text);
        }
        members.push_back(i);
      }
      int4 num = 0;
      for (const int4 i : members)
        if (variables.knownsibship(i, s) > 0)
          num = std::max(num, root(variables.knownsibship(i, s)));
      if (num == 0) num = t;
      for (const int4 i : members) {
        const int4 v = variables.knownsibship(i, s);
        if (v > 0) rep[static_cast<std::size_t>(root(v))] = num;
        variables.knownsibship(i, s) = num;
      }
    }

    // Resolve the merges, then clear sibships of a single offspring.
    std::vector<int4> size(rep.size(), 0);
    for (int4 i = 1; i <= n; ++i) {
      int4& v = variables.knownsibship(i, s);
      if (v > 0) {
        v = root(v);
        ++size[static_cast<std::size_t>(v)];
      }
    }
    for (int4 i = 1; i <= n; ++i) {
      int4& v = variables.knownsibship(i, s);
      if (v > 0 && size[static_cast<std::size_t>(v)] == 1) v = 0;
    }
  }
}

// Known relationships against monogamy. Offspring with the same parent of a monogamous sex t
// share their parent of the other sex x; so do offspring with the same parent of x when x is
// monogamous as well.
void monogamy_test() {
  if (variables.numsex != 2 || variables.anymonogamy != 1) return;
  const int4 n = variables.smplsize;
  const auto& parent = variables.indivparent;
  const auto& sib = variables.knownsibship;
  auto anyknown = [&](int4 s) {
    for (int4 i = 1; i <= n; ++i)
      if (parent(i, s) > 0 || sib(i, s) > 0) return true;
    return false;
  };
  auto bothequal = [](int4 a, int4 b) { return a > 0 && b > 0 && a == b; };
  auto bothdiffer = [](int4 a, int4 b) { return a > 0 && b > 0 && a != b; };

  for (int4 x = 1; x <= 2; ++x) {
    const int4 t = 3 - x;
    if (variables.monogamy(t) != 1 || !anyknown(x) || !anyknown(t)) continue;
    std::vector<int4> known;
    for (int4 i = 1; i <= n; ++i)
      if (parent(i, x) > 0 || sib(i, x) > 0) known.push_back(i);
    const std::string x2 = x == 1 ? "fa" : "mo";
    const std::string x1(pm(x));
    const std::string t2 = t == 1 ? "fa" : "mo";
    const std::string t1(pm(t));
    const std::string w = t == 2 ? "females" : "  males";
    for (std::size_t a = 0; a < known.size(); ++a) {
      const int4 i = known[a];
      for (std::size_t b = a + 1; b < known.size(); ++b) {
        const int4 j = known[b];
        bool same = false;
        bool differ = false;
        if (parent(i, x) > 0 && parent(j, x) > 0) {
          same = parent(i, x) == parent(j, x);
          differ = !same;
        } else {
          same = bothequal(sib(i, x), sib(j, x));
          differ = bothdiffer(sib(i, x), sib(j, x));
        }
        const bool conflicta =
            same && variables.monogamy(x) == 1 &&
            (bothdiffer(sib(i, t), sib(j, t)) || bothdiffer(parent(i, t), parent(j, t)));
        const bool conflictb =
            differ && (bothequal(sib(i, t), sib(j, t)) || bothequal(parent(i, t), parent(j, t)));
        if (!conflicta && !conflictb) continue;
        std::string text = "Known relationships and parameters in conflict!\nOffspring ";
        text += variables.offspringid(i).trimmed();
        text += " & ";
        text += variables.offspringid(j).trimmed();
        if (conflicta) {
          text += " share the same known " + x2 + "ther or\n  the same known " + x1 +
                  "aternal sibship,\n  but are indicated to come from different known " + t2 +
                  "thers or\n  different known " + t1 + "aternal sibships\n";
        } else {
          text += " have different known " + x2 + "thers or\n  different known " + x1 +
                  "aternal sibships,\n  but are indicated to come from the same " + t2 +
                  "ther\n  or the same " + t1 + "aternal sibship\n";
        }
        text += "  where " + w + " are monogomous.\nProgram is stopping.";
        stopondataerror(FString<999>(text).view());
      }
    }
  }
}

}  // namespace

void read_known_relationships(InputReader& in, const IdentifierLookup& look) {
  read_known_parents(in, look);
  read_known_sibships(in, look);
  monogamy_test();
}

void read_relationships(InputReader& in) {
  IdentifierLookup look;
  look.build();
  read_known_relationships(in, look);
  read_exclusions(in, look);
  in.file.close();
}

}  // namespace kinrad
