#pragma once
// Checks of a whole analysis against a true pedigree: the best configuration's columns read
// from a final state checkpoint (".MidResult2"), the true parents of each offspring read from a
// truth file, the full-sib partition distance (the fewest offspring to move to turn one
// partition into the other) and the count of true parents the best configuration assigns.
//
// Truth files: either tables opened by a line "NAME rows" (the OFFSPRING table's rows start
// with offspring, father and mother identifiers; '#' starts a comment line), or plain lines of
// offspring, father and mother identifiers.
#include <algorithm>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kinrad::testing_support {

// The best configuration as the state checkpoint holds it, one entry per offspring (from 0):
// paternal and maternal family ids, cluster ids, assigned candidate father and mother (0 none).
struct BestColumns {
  std::vector<int> fam1, fam2, clust, dad, mum;
};

// The checkpoint starts with the sample size, the current configuration's five columns, an
// empty record and the best configuration's five columns, all as integers separated by blanks.
inline BestColumns read_best_configuration(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  long n = 0;
  if (!(in >> n) || n < 1) throw std::runtime_error("no sample size in " + path);
  std::vector<int> values;
  for (long k = 0; k < 10 * n; ++k) {
    int x = 0;
    if (!(in >> x)) throw std::runtime_error("configuration columns cut short in " + path);
    values.push_back(x);
  }
  BestColumns b;
  std::vector<int>* cols[5] = {&b.fam1, &b.fam2, &b.clust, &b.dad, &b.mum};
  for (int c = 0; c < 5; ++c)
    cols[c]->assign(values.begin() + (5 + c) * n, values.begin() + (6 + c) * n);
  return b;
}

struct TruthRow {
  std::string offspring, father, mother;
};

inline std::vector<TruthRow> read_truth(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<TruthRow> rows;
  std::string line;
  bool tables = false, inoffspring = false;
  long left = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream ls(line);
    std::string a, b, c;
    if (!(ls >> a) || a[0] == '#') continue;
    if (a == "OFFSPRING" || a == "CANDIDATES") {
      tables = true;
      inoffspring = a == "OFFSPRING";
      if (!(ls >> left)) throw std::runtime_error("table without a row count in " + path);
      continue;
    }
    if (tables) {
      if (left-- <= 0) throw std::runtime_error("table longer than its count in " + path);
      if (!inoffspring) continue;
    }
    if (!(ls >> b >> c)) throw std::runtime_error("short truth line in " + path + ": " + line);
    rows.push_back({a, b, c});
  }
  return rows;
}

// Labels of a partition given by one key per item (equal keys, one block), numbered 1, 2, ...
// by first appearance.
template <class Key>
std::vector<int> partition_labels(const std::vector<Key>& keys) {
  std::map<Key, int> label;
  std::vector<int> out;
  for (const auto& k : keys) {
    auto [it, fresh] = label.emplace(k, static_cast<int>(label.size()) + 1);
    out.push_back(it->second);
  }
  return out;
}

// The fewest items to move from block to block to turn partition a into partition b (labels per
// item, any positive values): the items minus the largest total overlap of a one-to-one pairing
// of a's blocks with b's blocks (an assignment problem, solved by the Hungarian method).
inline int partition_distance(const std::vector<int>& a, const std::vector<int>& b) {
  if (a.size() != b.size()) throw std::invalid_argument("partitions of different sizes");
  const std::vector<int> la = partition_labels(a), lb = partition_labels(b);
  int na = 0, nb = 0;
  for (int x : la) na = std::max(na, x);
  for (int x : lb) nb = std::max(nb, x);
  const int m = std::max(na, nb);
  // cost(i, j) = -overlap of block i of a with block j of b (padded to a square with zeros).
  std::vector<std::vector<long>> cost(static_cast<std::size_t>(m) + 1,
                                      std::vector<long>(static_cast<std::size_t>(m) + 1, 0));
  for (std::size_t k = 0; k < la.size(); ++k)
    --cost[static_cast<std::size_t>(la[k])][static_cast<std::size_t>(lb[k])];
  // Hungarian method (potentials u, v; p[j] the row matched to column j).
  const long inf = std::numeric_limits<long>::max() / 4;
  std::vector<long> u(static_cast<std::size_t>(m) + 1, 0), v(static_cast<std::size_t>(m) + 1, 0);
  std::vector<int> p(static_cast<std::size_t>(m) + 1, 0), way(static_cast<std::size_t>(m) + 1, 0);
  for (int i = 1; i <= m; ++i) {
    p[0] = i;
    int j0 = 0;
    std::vector<long> minv(static_cast<std::size_t>(m) + 1, inf);
    std::vector<char> used(static_cast<std::size_t>(m) + 1, 0);
    do {
      used[static_cast<std::size_t>(j0)] = 1;
      const int i0 = p[static_cast<std::size_t>(j0)];
      long delta = inf;
      int j1 = 0;
      for (int j = 1; j <= m; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        if (used[uj]) continue;
        const long cur =
            cost[static_cast<std::size_t>(i0)][uj] - u[static_cast<std::size_t>(i0)] - v[uj];
        if (cur < minv[uj]) {
          minv[uj] = cur;
          way[uj] = j0;
        }
        if (minv[uj] < delta) {
          delta = minv[uj];
          j1 = j;
        }
      }
      for (int j = 0; j <= m; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        if (used[uj]) {
          u[static_cast<std::size_t>(p[uj])] += delta;
          v[uj] -= delta;
        } else {
          minv[uj] -= delta;
        }
      }
      j0 = j1;
    } while (p[static_cast<std::size_t>(j0)] != 0);
    do {
      const int j1 = way[static_cast<std::size_t>(j0)];
      p[static_cast<std::size_t>(j0)] = p[static_cast<std::size_t>(j1)];
      j0 = j1;
    } while (j0 != 0);
  }
  long overlap = 0;
  for (int j = 1; j <= m; ++j)
    overlap -=
        cost[static_cast<std::size_t>(p[static_cast<std::size_t>(j)])][static_cast<std::size_t>(j)];
  return static_cast<int>(static_cast<long>(a.size()) - overlap);
}

// The true full-sib partition: offspring with the same father and mother.
inline std::vector<int> true_fullsib_partition(const std::vector<TruthRow>& truth) {
  std::vector<std::pair<std::string, std::string>> keys;
  for (const auto& r : truth) keys.emplace_back(r.father, r.mother);
  return partition_labels(keys);
}

// The full-sib partition of a configuration: offspring with the same pair of family ids.
inline std::vector<int> fullsib_partition(const std::vector<int>& fam1,
                                          const std::vector<int>& fam2) {
  std::vector<std::pair<int, int>> keys;
  for (std::size_t k = 0; k < fam1.size(); ++k) keys.emplace_back(fam1[k], fam2[k]);
  return partition_labels(keys);
}

// How the best configuration places the true parents that are candidates. candidates[s - 1]
// holds the candidate identifiers of sex s (from index 1; index 0 unused); known[s - 1] the
// known parent of each offspring (candidate index, 0 or less for none). An entry (offspring,
// sex) counts when its true parent is a candidate; it is found when the assigned (or known)
// candidate is that parent.
struct ParentCounts {
  int entries = 0;     // (offspring, sex) entries whose true parent is a candidate
  int found = 0;       // of these, the true parent assigned or known
  int both_found = 0;  // offspring with both true parents assigned or known
  int wrong = 0;       // entries given a candidate that is not the true parent
};

inline ParentCounts count_true_parents(const std::vector<TruthRow>& truth, const BestColumns& best,
                                       const std::vector<std::string> candidates[2],
                                       const std::vector<int> known[2]) {
  ParentCounts pc;
  for (std::size_t k = 0; k < truth.size(); ++k) {
    int found_here = 0;
    for (int s = 1; s <= 2; ++s) {
      const std::string& id = s == 1 ? truth[k].father : truth[k].mother;
      const auto& ids = candidates[s - 1];
      const bool cand = std::find(ids.begin() + (ids.empty() ? 0 : 1), ids.end(), id) != ids.end();
      int given = (s == 1 ? best.dad : best.mum)[k];
      if (!known[s - 1].empty() && known[s - 1][k] > 0) given = known[s - 1][k];
      const bool right = given > 0 && static_cast<std::size_t>(given) < ids.size() &&
                         ids[static_cast<std::size_t>(given)] == id;
      if (given > 0 && !right) ++pc.wrong;
      if (!cand) continue;
      ++pc.entries;
      if (right) {
        ++pc.found;
        ++found_here;
      }
    }
    if (found_here == 2) ++pc.both_found;
  }
  return pc;
}

}  // namespace kinrad::testing_support
