#pragma once
// A given pedigree (each offspring's father and mother by name) turned into the configuration
// the search works with, and scored by the configuration model on the data and the state in
// force. The columns are those of crindivloc: the paternal and maternal family ids (one id per
// distinct parent name, numbered by first appearance in the sample's order) and the cluster
// ids (offspring linked through a shared family of either sex, numbered by first appearance);
// the assigned parents are those of inferparent: the candidate of that name, or 0 when the
// parent is no candidate or is the offspring's known parent (a known parent is never written
// into inferparent).
//
// The score is composed as the search composes a configuration's log likelihood: the family
// likelihood of every cluster, the configuration prior (every sibship size counted) and the
// candidates' term of the parents the configuration leaves unused.
#include <map>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "configuration/check_fixture.hpp"
#include "configuration/configuration.hpp"
#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "support/truth_check.hpp"

namespace kinrad::testing_support {

struct PedigreeColumns {
  FArray<int4, 2> loc;     // (n, 3): paternal family, maternal family, cluster
  FArray<int4, 2> parent;  // (n, 2): assigned candidate father and mother, 0 none
  int4 nclust = 0;
};

// The rows of a pedigree put into the sample's offspring order; an offspring without a row
// is an error.
inline std::vector<TruthRow> rows_in_sample_order(const std::vector<TruthRow>& rows) {
  const auto& v = variables;
  std::map<std::string, TruthRow> byname;
  for (const auto& r : rows) byname[r.offspring] = r;
  std::vector<TruthRow> out;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const std::string id(trim(v.offspringid(i).view()));
    const auto it = byname.find(id);
    if (it == byname.end()) throw std::runtime_error("no pedigree row for offspring " + id);
    out.push_back(it->second);
  }
  return out;
}

// The candidate number of a name in sex s, 0 when no candidate has it.
inline int4 candidate_number(const std::string& name, int4 s) {
  const auto& v = variables;
  for (int4 j = 1; j <= v.numcandidate(s); ++j)
    if (std::string(trim(v.cndparentid(j, s).view())) == name) return j;
  return 0;
}

// The configuration of a dioecious sample's pedigree given in the sample's offspring order.
inline PedigreeColumns pedigree_columns(const std::vector<TruthRow>& rows) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  if (static_cast<int4>(rows.size()) != n) throw std::runtime_error("pedigree of another size");
  PedigreeColumns c;
  c.loc.allocate(Dim(n), Dim(3));
  c.parent.allocate(Dim(n), Dim(2));
  for (int4 s = 1; s <= 2; ++s) {
    std::map<std::string, int4> id;
    for (int4 i = 1; i <= n; ++i) {
      const std::string& name = s == 1 ? rows[i - 1].father : rows[i - 1].mother;
      c.loc(i, s) = id.emplace(name, static_cast<int4>(id.size()) + 1).first->second;
      const int4 j = candidate_number(name, s);
      const int4 known = v.indivparent.allocated() ? v.indivparent(i, s) : -1;
      if (known > 0 && known != j)
        throw std::runtime_error("the pedigree contradicts the known parent of offspring " +
                                 rows[i - 1].offspring);
      c.parent(i, s) = known > 0 ? 0 : j;
    }
  }
  // Clusters: union of offspring through their paternal and their maternal family.
  std::vector<int4> up(static_cast<std::size_t>(2 * n + 1));
  std::iota(up.begin(), up.end(), 0);
  const auto root = [&](int4 x) {
    while (up[static_cast<std::size_t>(x)] != x) x = up[static_cast<std::size_t>(x)];
    return x;
  };
  for (int4 i = 1; i <= n; ++i)
    up[static_cast<std::size_t>(root(c.loc(i, 1)))] = root(n + c.loc(i, 2));
  std::map<int4, int4> cluster;
  for (int4 i = 1; i <= n; ++i)
    c.loc(i, 3) =
        cluster.emplace(root(c.loc(i, 1)), static_cast<int4>(cluster.size()) + 1).first->second;
  c.nclust = static_cast<int4>(cluster.size());
  return c;
}

// The configuration of the best columns read from a state checkpoint (the search's own ids).
inline PedigreeColumns best_columns(const BestColumns& b) {
  const int4 n = static_cast<int4>(b.fam1.size());
  PedigreeColumns c;
  c.loc.allocate(Dim(n), Dim(3));
  c.parent.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    c.loc(i, 1) = b.fam1[k];
    c.loc(i, 2) = b.fam2[k];
    c.loc(i, 3) = b.clust[k];
    c.parent(i, 1) = b.dad[k];
    c.parent(i, 2) = b.mum[k];
    c.nclust = std::max(c.nclust, b.clust[k]);
  }
  return c;
}

// The pedigree a configuration stands for, by name: a candidate parent (assigned or known) by
// its identifier, any other parent by a name made from its family id.
inline std::vector<TruthRow> pedigree_of(const PedigreeColumns& c) {
  const auto& v = variables;
  std::vector<TruthRow> rows;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    std::string name[2];
    for (int4 s = 1; s <= 2; ++s) {
      int4 j = c.parent(i, s);
      if (v.indivparent.allocated() && v.indivparent(i, s) > 0) j = v.indivparent(i, s);
      name[s - 1] = j > 0 ? std::string(trim(v.cndparentid(j, s).view()))
                          : "~" + std::to_string(s) + "_" + std::to_string(c.loc(i, s));
    }
    rows.push_back({std::string(trim(v.offspringid(i).view())), name[0], name[1]});
  }
  return rows;
}

// The first constraint of the data or the mating system the configuration breaks, "" when none
// (the independent validator run on it in place of the current configuration, which is then
// put back).
inline std::string validate_columns(const PedigreeColumns& c) {
  auto& v = variables;
  auto& av = annealvariables;
  auto keep_loc = v.crindivloc.copy();
  auto keep_par = v.inferparent.copy();
  const auto numindiv = av.numindiv;
  const auto numparentage = av.numindivparentage;
  av.numindiv(1) = av.numindiv(2) = 0;
  av.numindivparentage(1) = av.numindivparentage(2) = 0;
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 s = 1; s <= 2; ++s) {
      v.crindivloc(i, s) = c.loc(i, s);
      v.inferparent(i, s) = c.parent(i, s);
    }
  const std::string why = kinrad::test::validate_proposal();
  v.crindivloc = std::move(keep_loc);
  v.inferparent = std::move(keep_par);
  av.numindiv = numindiv;
  av.numindivparentage = numparentage;
  return why;
}

struct ConfigurationScore {
  real8 clusters = 0.0;    // the family likelihood summed over the clusters
  real8 prior = 0.0;       // the configuration prior
  real8 candidates = 0.0;  // the unused candidates' term
  real8 total = 0.0;
};

// The log likelihood of a configuration of a dioecious sample, as the search composes it (the
// windows are aimed at the columns, which the model reads as its own).
inline ConfigurationScore score_configuration(PedigreeColumns& c) {
  auto& v = variables;
  const int4 n = v.smplsize;
  ConfigurationScore s;
  const WindowScope loc(v.indivlocprt, c.loc.view());
  const WindowScope par(v.inferparentprt, c.parent.view());
  std::vector<real8> logl(static_cast<std::size_t>(std::max(c.nclust, 1)), 0.0);
  updatefamilylogl(logl.data(), c.nclust);
  for (int4 k = 0; k < c.nclust; ++k) s.clusters += logl[static_cast<std::size_t>(k)];
  FStatic<int4, 1, 2> nsize{}, nfam{};
  nsize(1) = nsize(2) = (3 - v.numsex) * n;
  for (int4 col = 1; col <= 2; ++col) {
    std::set<int4> ids;
    for (int4 i = 1; i <= n; ++i) ids.insert(c.loc(i, col));
    nfam(col) = static_cast<int4>(ids.size());
  }
  FStatic<int4, 1, 4> numassign{};
  configurationprior(numassign, s.prior, nsize, nfam);
  computeparentlogl(s.candidates);
  s.total = s.clusters + s.candidates + s.prior;
  return s;
}

}  // namespace kinrad::testing_support
