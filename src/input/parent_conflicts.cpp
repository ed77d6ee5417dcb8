#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "input/parent_conflicts_internal.hpp"

namespace kinrad {

namespace {

constexpr const char* routine_name = "Initialize";

// The listed part of an exclusion list: |count| ascending candidate numbers.
struct ListSpan {
  const int4* first = nullptr;
  index_t size = 0;
};

ListSpan listed(const Excludedlist& e) {
  const index_t len = e.count < 0 ? -static_cast<index_t>(e.count) : e.count;
  if (len == 0 || !e.list.allocated()) return {};
  return {e.list.data(), std::min(len, e.list.size())};
}

// Whether an offspring with exclusion list e may not have candidate p as its parent.
bool excludes(const Excludedlist& e, int4 p) {
  if (e.count == 0) return false;
  const ListSpan s = listed(e);
  const bool found = std::binary_search(s.first, s.first + s.size, p);
  return e.count > 0 ? found : !found;
}

std::uint64_t hash_values(const int4* a, index_t n, std::uint64_t h = 14695981039346656037ull) {
  for (index_t i = 0; i < n; ++i) {
    h ^= static_cast<std::uint32_t>(a[i]);
    h *= 1099511628211ull;
  }
  return h;
}

bool same_values(const int4* a, index_t na, const int4* b, index_t nb) {
  return na == nb && std::equal(a, a + na, b);
}

int4 known_parent(int4 i, int k) {
  return variables.indivparent.allocated() ? variables.indivparent(i, k) : -1;
}

// Bytes of one table entry of a hash map (node, bucket and allocator bookkeeping).
constexpr int8 map_entry_bytes = 96;

int8 sex_estimate(int k) {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<int4> known;
  int4 maxcand = v.numcandidate(k);
  for (int4 j = 1; j <= n; ++j) {
    const int4 p = known_parent(j, k);
    if (p > 0) {
      known.push_back(j);
      maxcand = std::max(maxcand, p);
    }
  }
  if (known.empty()) return 0;

  // Offspring with known parent p, and offspring that exclude p (those holding the allowed
  // candidates exclude every candidate not listed).
  std::vector<int8> withparent(static_cast<std::size_t>(maxcand) + 1, 0);
  std::vector<int8> excluding(static_cast<std::size_t>(maxcand) + 1, 0);
  int8 excludingall = 0;
  for (const int4 j : known) ++withparent[static_cast<std::size_t>(known_parent(j, k))];
  for (int4 j = 1; j <= n; ++j) {
    const Excludedlist& e = v.excludedparent(j, k);
    if (e.count == 0) continue;
    if (e.count < 0) ++excludingall;
    const int8 step = e.count > 0 ? 1 : -1;
    const ListSpan s = listed(e);
    for (index_t t = 0; t < s.size; ++t)
      if (s.first[t] >= 1 && s.first[t] <= maxcand)
        excluding[static_cast<std::size_t>(s.first[t])] += step;
  }

  const int8 storedmax = n / 2;  // a stored list, or its complement, never holds more
  int8 bytes = 0;
  std::unordered_map<std::uint64_t, std::vector<int4>> seen;
  for (int4 i = 1; i <= n; ++i) {
    const Excludedlist& e = v.excludedparent(i, k);
    const int4 p = known_parent(i, k);
    if (e.count == 0 && p <= 0) continue;
    const ListSpan s = listed(e);
    int8 bound = 0;
    if (e.count != 0) {
      int8 hit = 0;
      for (index_t t = 0; t < s.size; ++t)
        if (s.first[t] >= 1 && s.first[t] <= maxcand)
          hit += withparent[static_cast<std::size_t>(s.first[t])];
      bound += e.count > 0 ? hit : static_cast<int8>(known.size()) - hit;
    }
    if (p > 0) bound += excludingall + excluding[static_cast<std::size_t>(p)];
    bound = std::min({bound, static_cast<int8>(n) - 1, storedmax});
    if (bound <= 0) continue;
    // The list depends only on the known parent and the exclusion list, unless the offspring
    // excludes its own known parent: then it drops itself from an otherwise shared list.
    if (!(p > 0 && excludes(e, p))) {
      const int4 head[2] = {p, e.count};
      const std::uint64_t h = hash_values(s.first, s.size, hash_values(head, 2));
      std::vector<int4>& rows = seen[h];
      const bool repeated = std::any_of(rows.begin(), rows.end(), [&](int4 r) {
        const Excludedlist& er = v.excludedparent(r, k);
        const ListSpan sr = listed(er);
        return known_parent(r, k) == p && er.count == e.count &&
               same_values(sr.first, sr.size, s.first, s.size);
      });
      if (repeated) continue;
      rows.push_back(i);
    }
    bytes += bound * static_cast<int8>(sizeof(int4)) + map_entry_bytes;
  }
  return bytes;
}

// Offspring grouped by candidate number: the offspring of group p are
// entries[start[p] .. start[p + 1] - 1], ascending.
struct CandidateIndex {
  std::vector<int4> start;
  std::vector<int4> entries;

  // Groups the offspring for which `each(j, add)` calls add(p) once per candidate p of j
  // (candidates outside 1..maxcand are left out).
  template <class F>
  void build(int4 n, int4 maxcand, F&& each) {
    start.assign(static_cast<std::size_t>(maxcand) + 2, 0);
    for (int4 j = 1; j <= n; ++j)
      each(j, [&](int4 p) {
        if (p >= 1 && p <= maxcand) ++start[static_cast<std::size_t>(p) + 1];
      });
    for (std::size_t p = 1; p < start.size(); ++p) start[p] += start[p - 1];
    entries.resize(static_cast<std::size_t>(start.back()));
    std::vector<int4> fill(start.begin(), start.end() - 1);
    for (int4 j = 1; j <= n; ++j)
      each(j, [&](int4 p) {
        if (p >= 1 && p <= maxcand)
          entries[static_cast<std::size_t>(fill[static_cast<std::size_t>(p)]++)] = j;
      });
  }
  const int4* begin(int4 p) const { return entries.data() + start[static_cast<std::size_t>(p)]; }
  const int4* end(int4 p) const { return entries.data() + start[static_cast<std::size_t>(p) + 1]; }
};

// Work space of one build: the list in hand, its complement, marks over offspring numbers,
// the rows stored so far by the hash of their contents, and the indexes from candidates to
// offspring: those that know the candidate as their parent, those whose exclusion list names
// it, and those whose list of still allowed candidates names it.
struct ConflictScratch {
  FArray<int4, 1> list;
  FArray<int4, 1> complement;
  FArray<int1, 1> mark;
  std::unordered_map<std::uint64_t, std::vector<int4>> rows;
  CandidateIndex withparent;
  CandidateIndex excluding;
  CandidateIndex allowing;
  std::vector<int4> allowonly;  // offspring that list the candidates still allowed, ascending
  std::vector<int4> runs;       // run boundaries of the list being put in order
};

// Puts a[0..c-1], a few ascending runs one after the other, in ascending order by merging
// neighbouring runs, with b (at least c entries) as the second buffer.
void merge_runs(int4* a, int4* b, int4 c, std::vector<int4>& bounds) {
  bounds.clear();
  bounds.push_back(0);
  for (int4 t = 1; t < c; ++t)
    if (a[t] < a[t - 1]) bounds.push_back(t);
  bounds.push_back(c);
  int4* src = a;
  int4* dst = b;
  while (bounds.size() > 2) {
    std::size_t out = 0;
    std::size_t r = 0;
    for (; r + 2 < bounds.size(); r += 2) {
      std::merge(src + bounds[r], src + bounds[r + 1], src + bounds[r + 1], src + bounds[r + 2],
                 dst + bounds[r]);
      bounds[++out] = bounds[r + 2];
    }
    if (r + 1 < bounds.size()) {
      std::copy(src + bounds[r], src + bounds[r + 1], dst + bounds[r]);
      bounds[++out] = bounds[r + 1];
    }
    bounds.resize(out + 1);
    std::swap(src, dst);
  }
  if (src != a) std::copy(src, src + c, a);
}

// The conflict list of offspring i is the set of offspring j != i whose known parent i
// excludes, or that exclude the known parent of i. It is gathered through the indexes, so the
// work follows the lists rather than the number of offspring; it is then put in ascending
// order, as a scan over all offspring would give it.
void build_sex(int k, ConflictScratch& w) {
  auto& v = variables;
  const int4 n = v.smplsize;
  v.anyprntconflictq(k) = 0;
  bool anyknown = false;
  int4 maxcand = v.numcandidate(k);
  for (int4 j = 1; j <= n; ++j) {
    const int4 p = known_parent(j, k);
    if (p > 0) {
      anyknown = true;
      maxcand = std::max(maxcand, p);
    }
  }
  if (!anyknown) return;

  w.withparent.build(n, maxcand, [&](int4 j, auto&& add) {
    if (known_parent(j, k) > 0) add(known_parent(j, k));
  });
  w.excluding.build(n, maxcand, [&](int4 j, auto&& add) {
    const Excludedlist& e = v.excludedparent(j, k);
    if (e.count <= 0) return;
    const ListSpan s = listed(e);
    for (index_t t = 0; t < s.size; ++t) add(s.first[t]);
  });
  w.allowing.build(n, maxcand, [&](int4 j, auto&& add) {
    const Excludedlist& e = v.excludedparent(j, k);
    if (e.count >= 0) return;
    const ListSpan s = listed(e);
    for (index_t t = 0; t < s.size; ++t) add(s.first[t]);
  });
  w.allowonly.clear();
  for (int4 j = 1; j <= n; ++j)
    if (v.excludedparent(j, k).count < 0) w.allowonly.push_back(j);

  int4 c = 0;
  bool ascending = true;  // the entries were appended in ascending order
  auto append = [&](int4 i, const int4* first, const int4* last) {
    for (const int4* q = first; q != last; ++q) {
      const int4 j = *q;
      if (j == i || w.mark(j) != 0) continue;
      if (c > 0 && j < w.list(c)) ascending = false;
      w.list(++c) = j;
      w.mark(j) = 1;
    }
  };

  w.rows.clear();
  int4 numstored = 0;
  for (int4 i = 1; i <= n; ++i) {
    const Excludedlist& ei = v.excludedparent(i, k);
    const int4 pi = known_parent(i, k);
    v.prntconflict(i, k).count = 0;
    if (ei.count == 0 && pi <= 0) continue;

    c = 0;
    ascending = true;
    const ListSpan si = listed(ei);
    if (ei.count > 0) {
      // The offspring of every candidate i excludes.
      for (index_t t = 0; t < si.size; ++t) {
        const int4 p = si.first[t];
        if (p >= 1 && p <= maxcand) append(i, w.withparent.begin(p), w.withparent.end(p));
      }
    } else if (ei.count < 0) {
      // The offspring of every candidate not among those i still allows (both ascending).
      index_t t = 0;
      for (int4 p = 1; p <= maxcand; ++p) {
        while (t < si.size && si.first[t] < p) ++t;
        if (t < si.size && si.first[t] == p) continue;
        append(i, w.withparent.begin(p), w.withparent.end(p));
      }
    }
    if (pi > 0) {
      // Offspring that exclude i's parent: listed in their exclusions, or missing from the
      // candidates they still allow.
      append(i, w.excluding.begin(pi), w.excluding.end(pi));
      const int4* allowed = w.allowing.begin(pi);
      const int4* const allowedend = w.allowing.end(pi);
      for (const int4 j : w.allowonly) {
        while (allowed != allowedend && *allowed < j) ++allowed;
        if (allowed != allowedend && *allowed == j) continue;
        append(i, &j, &j + 1);
      }
    }
    if (c == 0) continue;
    v.anyprntconflictq(k) = 1;

    const int4* entries = w.list.data();
    int4 len = c;
    if (c > n / 2) {
      len = 0;
      for (int4 j = 1; j <= n; ++j)
        if (w.mark(j) == 0) w.complement(++len) = j;
      entries = w.complement.data();
      v.prntconflict(i, k).count = -len;
    } else {
      // Each index group is ascending, so the list is a few ascending runs.
      if (!ascending) merge_runs(w.list.data(), w.complement.data(), c, w.runs);
      v.prntconflict(i, k).count = c;
    }
    for (int4 t = 1; t <= c; ++t) w.mark(w.list(t)) = 0;

    // Equal lists are held once, in the row of the first offspring-in-turn that had it.
    const std::uint64_t h = hash_values(entries, len);
    std::vector<int4>& candidates = w.rows[h];
    int4 row = 0;
    for (const int4 d : candidates) {
      const FArray<int4, 1>& stored = v.prntconflict(d, k).list;
      if (same_values(stored.data(), stored.size(), entries, len)) {
        row = d;
        break;
      }
    }
    if (row == 0) {
      row = ++numstored;
      FArray<int4, 1>& dest = v.prntconflict(row, k).list;
      if (!dest.try_allocate(Dim(len))) stoponerror(0, routine_name);
      std::copy(entries, entries + len, dest.data());
      candidates.push_back(row);
    }
    v.prntconflictid(i, k) = static_cast<int2>(row);
  }
}

}  // namespace

int8 parent_conflict_memory_estimate() {
  auto& v = variables;
  const int8 n = std::max(v.smplsize, 0);
  int8 bytes = 2 * n * static_cast<int8>(sizeof(Excludedlist) + sizeof(int2)) +
               n * static_cast<int8>(2 * sizeof(int4) + sizeof(int1));
  if (!v.excludedparent.allocated()) return bytes;
  for (int k = 1; k <= 2; ++k) bytes += sex_estimate(k);
  return bytes;
}

void build_parent_conflicts(int8 memory_limit) {
  auto& v = variables;
  const int4 n = v.smplsize;
  v.anyprntconflictq(1) = 0;
  v.anyprntconflictq(2) = 0;
  if (parent_conflict_memory_estimate() > memory_limit) stoponerror(0, routine_name);
  if (!v.prntconflict.try_allocate(Dim(n), Dim(2)) ||
      !v.prntconflictid.try_allocate(Dim(n), Dim(2)))
    stoponerror(0, routine_name);
  if (v.excludedparent.allocated()) {
    ConflictScratch w;
    if (!w.list.try_allocate(Dim(n)) || !w.complement.try_allocate(Dim(n)) ||
        !w.mark.try_allocate(Dim(n)))
      stoponerror(0, routine_name);
    for (int k = 1; k <= 2; ++k) build_sex(k, w);
  }
  if (v.anyprntconflictq(1) == 0 && v.anyprntconflictq(2) == 0) {
    v.prntconflict.deallocate();
    v.prntconflictid.deallocate();
  }
}

}  // namespace kinrad
