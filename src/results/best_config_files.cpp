// The files that describe the best configuration and the printed names of its parents. A
// sampled parent is named by its candidate identifier; an unsampled one by the sex prefix and a
// running number in order of the first offspring of its family (one sequence over both columns
// in one parent pool, where an id names the same parent in either column); the father of a
// haploid offspring is "*-". Where an offspring has an assigned and a known parent of one sex,
// the larger candidate number is printed.
//
// ".BestCluster" lists the clusters in order of their first offspring with their
// probabilities; ".BestFSFamily" the full-sib families with theirs; ".BestConfig" one row per
// offspring in input order and ".BestConfig_Ordered" the same rows cluster by cluster, family by
// family.
#include <algorithm>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// Text right-adjusted in 20 characters (cut to 20 first).
FString<20> right20(std::string_view s) {
  const FString<20> cut(s);
  return FString<20>(adjustr(cut.view()));
}

// The parent of sex s an offspring is printed with.
int4 printed_parent(int4 i, int4 s) {
  const auto& v = variables;
  int4 p = v.btinferparent(i, s);
  if (v.indivparent.allocated()) p = std::max(p, v.indivparent(i, s));
  return p;
}

// The name of the parent of sex s of offspring i, advancing the counter of unsampled parents.
FString<20> parent_name(int4 i, int4 s, int4& counter) {
  const auto& v = variables;
  const int4 p = printed_parent(i, s);
  if (p < 1) return right20(std::string(trim(v.sexid(s).view())) + itoc(++counter));
  return right20(v.cndparentid(p, s).view());
}

// Families of btindivloc columns 1 and 2 as full-sib keys, grouped in order of their smallest
// member: members back to back, family f from start[f - 1] to start[f] - 1.
struct FullSibFamilies {
  std::vector<int4> members;
  std::vector<int4> start;  // F + 1 entries
  int4 largest = 0;
};

FullSibFamilies full_sib_families() {
  auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<int8> key(static_cast<std::size_t>(n));
  findfsfamilyid(v.btindivloc.view(), key.data());
  std::vector<int4> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 1);
  // By key, then offspring: each family's members ascending and together.
  std::stable_sort(order.begin(), order.end(), [&key](int4 x, int4 y) {
    return key[static_cast<std::size_t>(x - 1)] < key[static_cast<std::size_t>(y - 1)];
  });
  // Families in order of their smallest member.
  std::vector<std::pair<int4, int4>> runs;  // (first member, position in order)
  for (int4 k = 0; k < n; ++k)
    if (k == 0 || key[static_cast<std::size_t>(order[static_cast<std::size_t>(k)] - 1)] !=
                      key[static_cast<std::size_t>(order[static_cast<std::size_t>(k - 1)] - 1)])
      runs.emplace_back(order[static_cast<std::size_t>(k)], k);
  std::sort(runs.begin(), runs.end());
  FullSibFamilies f;
  f.start.push_back(0);
  for (const auto& [first, pos] : runs) {
    int4 k = pos;
    const int8 kk = key[static_cast<std::size_t>(first - 1)];
    while (k < n && key[static_cast<std::size_t>(order[static_cast<std::size_t>(k)] - 1)] == kk)
      f.members.push_back(order[static_cast<std::size_t>(k++)]);
    f.start.push_back(static_cast<int4>(f.members.size()));
    f.largest = std::max(f.largest, k - pos);
  }
  return f;
}

// The clone index of each offspring: clone groups numbered by first offspring.
std::vector<int4> clone_index() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max(top, v.cloneconfig(i));
  // (0:top) the printed index of each clone group (0: not yet met).
  FArray<int4, 1> table(Dim(0, top));
  std::vector<int4> out(static_cast<std::size_t>(n));
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i) {
    auto& t = table(std::max(v.cloneconfig(i), 0));
    if (t < 1) t = ++k;
    out[static_cast<std::size_t>(i - 1)] = t;
  }
  return out;
}

void write_configuration_file(std::string_view suffix, const std::vector<int4>& rows,
                              const std::vector<int4>& printed_clone) {
  const auto& v = variables;
  ReplacingFile out = open_result_file(suffix);
  const bool clones = v.allowclone == 1;
  std::string line = fwrite_string("(A20,2A21)", "OffspringID", "FatherID", "MotherID");
  if (clones) line += fwrite_string("(A14)", "CloneIndex");
  line += fwrite_string("(A14)", "ClusterIndex");
  out.write("(A)", line);
  for (int4 i : rows) {
    line = fwrite_string("(A20, 2A21)", right20(v.offspringid(i).view()), v.bestparentid(i, 1),
                         v.bestparentid(i, 2));
    if (clones) line += fwrite_string("(I14)", printed_clone[static_cast<std::size_t>(i - 1)]);
    line += fwrite_string("(I14)", v.btindivloc(i, 3));
    out.write("(A)", line);
  }
  out.commit();
}

// Offspring cluster by cluster, family by family, then in input order.
std::vector<int4> ordered_rows() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 big = 0;
  for (int4 i = 1; i <= n; ++i) big = std::max(big, v.btindivloc(i, 1));
  const real8 m = big;
  std::vector<std::tuple<int4, real8, int4, int4, int4>> key;
  key.reserve(static_cast<std::size_t>(n));
  for (int4 i = 1; i <= n; ++i) {
    const int4 a = v.btindivloc(i, 1), b = v.btindivloc(i, 2);
    key.emplace_back(v.btindivloc(i, 3), m / a + 0.99 / b, a, b, i);
  }
  std::sort(key.begin(), key.end());
  std::vector<int4> rows;
  for (const auto& k : key) rows.push_back(std::get<4>(k));
  return rows;
}

}  // namespace

void name_best_parents() {
  auto& v = variables;
  const int4 n = v.smplsize;
  auto& loc = v.btindivloc;
  const FString<20> haploid_father = right20("*-");
  for (int4 i = 1; i <= n; ++i) {
    if (v.smplsizedh(1) > 0 && v.offploid(i) != 2) {
      v.bestparentid(i, 1) = haploid_father;
    } else {
      loc(i, 1) = -loc(i, 1);
    }
    loc(i, 2) = -loc(i, 2);
  }
  // Names by family id: the first offspring met with a still negative id names the family.
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max({top, std::abs(loc(i, 1)), std::abs(loc(i, 2))});
  FArray<int4, 1> named{Dim(top)};
  FArray<FString<20>, 1> names{Dim(top)};
  int4 counter = 0;
  const bool pool = v.numsex == 1;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numsex >= s) {
      counter = 0;
      named.fill(0);
    }
    for (int4 i = 1; i <= n; ++i) {
      const int4 id = -loc(i, s);
      if (id <= 0) continue;
      auto& slot = named(id);
      if (slot == 0) {
        names(id) = parent_name(i, s, counter);
        slot = 1;
        if (pool && s == 1)
          // In one parent pool the id names the same parent in column 2, wherever it stands.
          for (int4 k = 1; k <= n; ++k)
            if (loc(k, 2) == -id) {
              v.bestparentid(k, 2) = names(id);
              loc(k, 2) = id;
            }
      }
      v.bestparentid(i, s) = names(id);
      loc(i, s) = id;
    }
  }
}

void write_best_cluster(const FArray<real8, 1>& prob) {
  const auto& v = variables;
  if (v.threadid != 0) return;
  const int4 n = v.smplsize;
  ReplacingFile out = open_result_file(".BestCluster");
  out.write("(2A12,3A21)", "ClusterIndex", "Probability", "OffspringID", "FatherID", "MotherID");
  // Clusters are numbered 1..G by first offspring: rows cluster by cluster, members ascending.
  int4 top = 0;
  for (int4 i = 1; i <= n; ++i) top = std::max(top, v.btindivloc(i, 3));
  // (0:top+1) the members of cluster c at members[start(c)..start(c + 1)); fill: the next free
  // place of each.
  FArray<int4, 1> start(Dim(0, top + 1));
  for (int4 i = 1; i <= n; ++i) ++start(v.btindivloc(i, 3) + 1);
  for (int4 c = 1; c <= top + 1; ++c) start(c) += start(c - 1);
  std::vector<int4> members(static_cast<std::size_t>(n));
  FArray<int4, 1> fill(Dim(0, top));
  for (int4 c = 0; c <= top; ++c) fill(c) = start(c);
  std::vector<int4> order;
  for (int4 i = 1; i <= n; ++i) {
    const int4 c = v.btindivloc(i, 3);
    if (fill(c) == start(c)) order.push_back(c);
    members[static_cast<std::size_t>(fill(c)++)] = i;
  }
  int4 k = 0;
  for (int4 c : order) {
    ++k;
    for (int4 t = start(c); t < start(c + 1); ++t) {
      const int4 m = members[static_cast<std::size_t>(t)];
      out.write("(I12, F12.4, 3A21)", k, prob(k), right20(v.offspringid(m).view()),
                v.bestparentid(m, 1), v.bestparentid(m, 2));
    }
  }
  out.commit();
}

void write_best_fs_family(const FArray<real8, 1>& probinc, const FArray<real8, 1>& probexc) {
  const auto& v = variables;
  const FullSibFamilies f = full_sib_families();
  if (v.threadid != 0) return;
  ReplacingFile out = open_result_file(".BestFSFamily");
  std::string header = "FullSibshipIndex Prob(Inc.) Prob(Exc.)    Member1";
  for (int4 k = 2; k <= f.largest; ++k) header += ",Member" + itoc(k);
  out.write("(A)", header);
  const int4 nf = static_cast<int4>(f.start.size()) - 1;
  std::string row;
  for (int4 k = 1; k <= nf; ++k) {
    // One record of any length: the members are not bounded by a repeat count.
    row = fwrite_string("(I16,2F11.4)", k, probinc(k), probexc(k));
    row += "    ";
    for (int4 t = f.start[static_cast<std::size_t>(k - 1)];
         t < f.start[static_cast<std::size_t>(k)]; ++t) {
      if (t > f.start[static_cast<std::size_t>(k - 1)]) row += ',';
      row += trim(v.offspringid(f.members[static_cast<std::size_t>(t)]).view());
    }
    row += '\n';
    out.put(row);
  }
  out.commit();
}

void number_clone_groups(std::vector<int4>& cloneindex) {
  cloneindex = clone_index();
}

void write_best_config(const std::vector<int4>& cloneindex) {
  const auto& v = variables;
  if (v.threadid != 0) return;
  std::vector<int4> rows(static_cast<std::size_t>(v.smplsize));
  std::iota(rows.begin(), rows.end(), 1);
  write_configuration_file(".BestConfig", rows, cloneindex);
  write_configuration_file(".BestConfig_Ordered", ordered_rows(), cloneindex);
}

}  // namespace kinrad
