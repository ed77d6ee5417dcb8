// Parent-conflict lists of a full-size sample (32,767 offspring) against a reference taken
// straight from the definition: j is in i's list when the known parent of j is excluded by i
// or the known parent of i is excluded by j; the list is kept ascending up to n/2 entries and
// as its complement beyond; equal lists share the row of their first appearance. The
// reference only leaves out offspring that can take no part (neither a known parent nor an
// exclusion), so it compares every pair that matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "core/modules/variables.hpp"
#include "initialize_fixture.hpp"
#include "input/input.hpp"

namespace kinrad {
namespace {

using inittest::InitializeTest;

bool excludes(const Excludedlist& e, int4 p) {
  if (e.count == 0) return false;
  const int4* first = e.list.data();
  const bool listed = std::binary_search(first, first + std::abs(e.count), p);
  return e.count > 0 ? listed : !listed;
}

class ParentConflictsLarge : public InitializeTest {};

TEST_F(ParentConflictsLarge, FullSampleMatchesTheDefinition) {
  const int4 n = 32767;
  const int4 nc = 400;
  setup(n, 1, 2, nc, nc);
  allocate_exclusions();
  std::mt19937 rng(7);
  auto draw = [&](int4 m) { return 1 + static_cast<int4>(rng() % static_cast<unsigned>(m)); };
  // Fathers: 4 % known, 4 % with five excluded candidates and 1 % with the 150 candidates
  // still allowed. Mothers: 55 % known, every 512th offspring with five excluded mothers and
  // every 4096th allowing only 10 mothers, so that it conflicts with more than half the sample
  // (a list stored as its complement).
  auto exclude = [&](int4 i, int k, int4 m, bool allowform) {
    std::vector<int4> l;
    while (static_cast<int4>(l.size()) < m) {
      const int4 p = draw(nc);
      if (std::find(l.begin(), l.end(), p) == l.end()) l.push_back(p);
    }
    std::sort(l.begin(), l.end());
    set_exclusion(i, k, allowform ? -m : m, l);
  };
  for (int4 i = 1; i <= n; ++i) {
    const unsigned r = rng() % 100;
    if (r < 4) {
      variables.indivparent(i, 1) = draw(nc);
    } else if (r < 9) {
      exclude(i, 1, r == 8 ? 150 : 5, r == 8);
      // A few offspring with exclusions and a known parent as well (an offspring that is
      // itself a candidate keeps its own exclusion).
      if (r == 4) variables.indivparent(i, 1) = draw(nc);
    }
    if (i % 4096 == 0) {
      exclude(i, 2, 10, true);
    } else if (i % 512 == 0) {
      exclude(i, 2, 5, false);
      if (i % 1024 == 0) variables.indivparent(i, 2) = draw(nc);
    } else if (rng() % 100 < 55) {
      variables.indivparent(i, 2) = draw(nc);
    }
  }

  // The reference, before the tables are built.
  struct Reference {
    std::vector<int4> count, id;
    std::vector<std::vector<int4>> rows;
    bool any = false;
  } ref[3];
  const auto& v = variables;
  for (int k = 1; k <= 2; ++k) {
    std::vector<int4> known, excluders;
    for (int4 j = 1; j <= n; ++j) {
      if (v.indivparent(j, k) > 0) known.push_back(j);
      if (v.excludedparent(j, k).count != 0) excluders.push_back(j);
    }
    Reference& x = ref[k];
    x.count.assign(static_cast<std::size_t>(n) + 1, 0);
    x.id = x.count;
    std::map<std::vector<int4>, int4> seen;
    for (int4 i = 1; i <= n; ++i) {
      const int4 pi = v.indivparent(i, k);
      std::vector<int4> s;
      if (v.excludedparent(i, k).count != 0)
        for (const int4 j : known)
          if (j != i && excludes(v.excludedparent(i, k), v.indivparent(j, k))) s.push_back(j);
      if (pi > 0)
        for (const int4 j : excluders)
          if (j != i && excludes(v.excludedparent(j, k), pi)) s.push_back(j);
      std::sort(s.begin(), s.end());
      s.erase(std::unique(s.begin(), s.end()), s.end());
      if (s.empty()) continue;
      x.any = true;
      std::vector<int4> stored = s;
      int4 count = static_cast<int4>(s.size());
      if (count > n / 2) {
        stored.clear();
        auto next = s.begin();
        for (int4 j = 1; j <= n; ++j) {
          if (next != s.end() && *next == j) {
            ++next;
          } else {
            stored.push_back(j);
          }
        }
        count = -static_cast<int4>(stored.size());
      }
      x.count[static_cast<std::size_t>(i)] = count;
      const auto [it, fresh] = seen.emplace(stored, static_cast<int4>(x.rows.size()) + 1);
      if (fresh) x.rows.push_back(stored);
      x.id[static_cast<std::size_t>(i)] = it->second;
    }
  }

  initialize();
  int4 complements = 0;
  int4 shared = 0;
  for (int k = 1; k <= 2; ++k) {
    const Reference& x = ref[k];
    ASSERT_TRUE(x.any);
    EXPECT_EQ(v.anyprntconflictq(k), 1);
    int4 nonempty = 0;
    for (int4 i = 1; i <= n; ++i) {
      const int4 count = x.count[static_cast<std::size_t>(i)];
      ASSERT_EQ(v.prntconflict(i, k).count, count) << "sex " << k << " offspring " << i;
      if (count == 0) continue;
      ++nonempty;
      if (count < 0) ++complements;
      const int4 id = x.id[static_cast<std::size_t>(i)];
      ASSERT_EQ(v.prntconflictid(i, k), id) << "sex " << k << " offspring " << i;
    }
    shared += nonempty - static_cast<int4>(x.rows.size());
    for (std::size_t d = 0; d < x.rows.size(); ++d) {
      const FArray<int4, 1>& got = v.prntconflict(static_cast<index_t>(d + 1), k).list;
      ASSERT_EQ(got.size(), static_cast<index_t>(x.rows[d].size())) << "row " << d + 1;
      ASSERT_TRUE(std::equal(x.rows[d].begin(), x.rows[d].end(), got.data())) << "row " << d + 1;
    }
  }
  // The sample holds lists of both stored forms and rows shared by several offspring.
  EXPECT_GT(complements, 0);
  EXPECT_GT(shared, 100);
}

}  // namespace
}  // namespace kinrad
