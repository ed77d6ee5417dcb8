// Items 32 and 33 of the project input file: candidates excluded as parents of an offspring,
// and offspring excluded from each other's sibships.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "core/text_utils.hpp"
#include "input/identifier_lookup_internal.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

namespace {

std::string_view pm(int4 s) {
  return s == 1 ? "p" : "m";
}

// One line of an exclusion block: an identifier, a number m and m further identifiers, read as
// one statement, so that any of them may stand on the following records.
void read_exclusion_line(InputReader& in, FString<20>& id, std::vector<FString<20>>& ids) {
  int4 m = 0;
  in.readcounted(ids, m, id);
}

// Stores the candidates of sex s marked in selectedprntq as the exclusion list of offspring i,
// and clears the marks. More than half of the candidates excluded, but not all of them, are
// stored as the list of those still allowed, so that no list holds more than half a pool.
void store_exclusion(int4 i, int4 s) {
  const int4 ncand = variables.numcandidate(s);
  auto& marks = variables.selectedprntq;
  int4 excluded = 0;
  for (int4 c = 1; c <= ncand; ++c) excluded += marks(c);
  const bool complement = excluded > ncand / 2 && excluded < ncand;
  const int1 wanted = complement ? 0 : 1;
  Excludedlist& e = variables.excludedparent(i, s);
  e.count = complement ? -(ncand - excluded) : excluded;
  e.list.allocate(complement ? ncand - excluded : excluded);
  index_t k = 0;
  for (int4 c = 1; c <= ncand; ++c) {
    if (marks(c) == wanted) e.list(++k) = c;
    marks(c) = 0;
  }
}

// Marks in selectedprntq the candidates already excluded for offspring i and sex s.
void mark_exclusion(int4 i, int4 s) {
  const Excludedlist& e = variables.excludedparent(i, s);
  auto& marks = variables.selectedprntq;
  if (e.count > 0) {
    for (const int4 c : e.list) marks(c) = 1;
  } else if (e.count < 0) {
    for (int4 c = 1; c <= variables.numcandidate(s); ++c) marks(c) = 1;
    for (const int4 c : e.list) marks(c) = 0;
  }
}

// Item 32: excluded fathers, then excluded mothers. No individual is its own parent, so an
// offspring that is also a candidate of the sex is always excluded as its own parent.
void read_excluded_parents(InputReader& in, const IdentifierLookup& look) {
  const int4 n = variables.smplsize;
  variables.excludedparent.allocate(n, 2);
  const int4 maxcount = std::max(variables.numcandidate(1), variables.numcandidate(2));
  variables.selectedprntq.allocate(Dim(0, maxcount));
  FArray<int4, 1> self(n);  // the candidate number of each offspring, 0 when it is none
  std::vector<FString<20>> ids;
  std::vector<FString<20>> names;
  for (int4 s = 1; s <= 2; ++s) {
    in.setitem(InputReader::prefix,
               std::string("known excluded ") + std::string(pm(s)) + "aternity");
    bool anyself = false;
    for (int4 i = 1; i <= n; ++i) {
      self(i) = look.candidate(s, variables.offspringid(i));
      if (self(i) > 0) anyself = true;
    }
    int4 nlines = 0;
    in.readitem(nlines);
    variables.anyexcludedparentq(s) = nlines > 0 || anyself ? 1 : 0;

    for (int4 t = 1; t <= nlines; ++t) {
      FString<20> offid;
      read_exclusion_line(in, offid, ids);
      const int4 i = findindiv(look, offid, 0);
      // A known parent of the sex makes exclusions pointless.
      if (variables.indivparent(i, s) > 0) continue;
      names.assign(ids.begin(), ids.end());
      if (self(i) > 0) {
        const FString<20>& own = variables.cndparentid(self(i), s);
        if (std::find(names.begin(), names.end(), own) == names.end()) names.push_back(own);
      }
      if (names.empty()) continue;
      const int4 m = static_cast<int4>(names.size());
      std::vector<int4> order(names.size());
      indexch(m, names.data(), order.data());
      for (int4 k = 1; k < m; ++k) {
        const FString<20>& id = names[static_cast<std::size_t>(order[k] - 1)];
        if (id == names[static_cast<std::size_t>(order[k - 1] - 1)]) {
          std::string text = "Excluded candidate, ";
          text += id.trimmed();
          text += ", for offspring ";
          text += offid.trimmed();
          text += " is repeated!";
          stopondataerror(text);
        }
      }
      // A second line for the same offspring adds to its exclusions.
      mark_exclusion(i, s);
      for (const int4 k : order) {
        const FString<20>& id = names[static_cast<std::size_t>(k - 1)];
        const int4 c = look.candidate(s, id);
        if (c == 0) {
          std::string text = "Candidate ID, ";
          text += id.trimmed();
          text += ", not found in the ";
          text += s == 1 ? "male" : "female";
          text += " Candidate pool!";
          stopondataerror(text);
        }
        variables.selectedprntq(c) = 1;
      }
      store_exclusion(i, s);
    }

    for (int4 i = 1; i <= n; ++i)
      if (self(i) > 0 && variables.excludedparent(i, s).count == 0) {
        Excludedlist& e = variables.excludedparent(i, s);
        e.count = 1;
        e.list.allocate(1);
        e.list(1) = self(i);
      }
  }
  if (variables.anyexcludedparentq(1) == 0 && variables.anyexcludedparentq(2) == 0)
    variables.excludedparent.deallocate();
}

// Records that offspring a and b must not share a sibship of sex s: the bit of the smaller
// number in the set of the larger.
void exclude_pair(int4 a, int4 b, int4 s) {
  const int4 lo = std::min(a, b);
  const int4 hi = std::max(a, b);
  FArray<int4, 1>& words = variables.excludedsib(hi, s).a;
  if (!words.allocated()) words.allocate(Dim(0, (hi - 1) / 32));
  int4& w = words((lo - 1) / 32);
  const std::uint32_t bit = std::uint32_t{1} << ((lo - 1) % 32);
  w = static_cast<int4>(static_cast<std::uint32_t>(w) | bit);
}

// Item 33: excluded paternal, then maternal sibships.
void read_excluded_sibships(InputReader& in) {
  const int4 n = variables.smplsize;
  const int4* order = &variables.crindivloc(1, 2);
  std::vector<FString<20>> ids;
  for (int4 s = 1; s <= 2; ++s) {
    in.setitem(InputReader::prefix,
               std::string("known excluded ") + std::string(pm(s)) + "aternal sibship");
    int4 nlines = 0;
    in.readitem(nlines);
    variables.anyexcludedsibshipq(s) = nlines > 0 ? 1 : 0;
    if (nlines > 0 && !variables.excludedsibshipq.allocated()) {
      variables.excludedsibshipq.allocate(n);
      variables.excludedsib.allocate(n, 2);
    }
    for (int4 t = 1; t <= nlines; ++t) {
      FString<20> offid;
      read_exclusion_line(in, offid, ids);
      int4 a = 0;
      locateoffspring(order, n, offid, a);
      if (a == 0) {
        std::string text = "Offspring ID, ";
        text += offid.trimmed();
        text += ", in excluded sibship section not found in the offspring pool!";
        stopondataerror(text);
      }
      variables.excludedsibshipq(a) = 1;
      for (const FString<20>& id : ids) {
        int4 b = 0;
        locateoffspring(order, n, id, b);
        if (b == 0) {
          std::string text = "Offspring ID, ";
          text += id.trimmed();
          text += ", in excluded sibship section not found in offspring pool!";
          stopondataerror(text);
        }
        variables.excludedsibshipq(b) = 1;
        exclude_pair(a, b, s);
      }
    }
  }
}

}  // namespace

void read_exclusions(InputReader& in, const IdentifierLookup& look) {
  read_excluded_parents(in, look);
  read_excluded_sibships(in);
}

}  // namespace kinrad
