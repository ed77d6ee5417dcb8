// Clone inference over the full-sib families of the best configuration: large families are
// first split into groups of related members, each group is partitioned into clones, every
// clone gets a number and a probability, and the clones are reported in fname + ".BestClone".
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/modules/simuvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "pairwise/clone_internal.hpp"
#include "pairwise/clones.hpp"

namespace kinrad {

namespace {

// The clones formed so far: members clone by clone, cumulative boundaries, probabilities.
struct CloneList {
  std::vector<int4> members;
  std::vector<int4> bounds{0};
  std::vector<real8> prob;
  int4 largest = 1;  // the largest clone size K

  int4 count() const { return static_cast<int4>(prob.size()); }
  void add(const int4* m, int4 k, real8 p) {
    members.insert(members.end(), m, m + k);
    std::sort(members.end() - k, members.end());
    bounds.push_back(static_cast<int4>(members.size()));
    prob.push_back(p);
    if (k > largest) largest = k;
  }
};

// Ends an open progress line with the first `n` characters of the blank line.
void blank_overwrite(int4 n) {
  const std::string text(variables.blkln.view().substr(0, static_cast<std::size_t>(n)));
  fwrite(std::cout, trim(variables.lineform.view()), text);
}

// The family's parents: the best configuration's assignment of its first member, else the
// known parent of its first member that has one; 0 for a parent not sampled.
void family_parents(const int4* fam, int4 s, int4 parents[2]) {
  const Variables& v = variables;
  for (int4 k = 1; k <= 2; ++k) {
    int4 p = 0;
    if (v.numcandidate(k) > 0) {
      p = v.btinferparent(fam[0], k);
      if (p < 1 && v.numknownprnt(k) > 0) {
        for (int4 x = 0; x < s; ++x) {
          if (v.indivparent(fam[x], k) > 0) {
            p = v.indivparent(fam[x], k);
            break;
          }
        }
      }
    }
    parents[k - 1] = p > 0 ? p : 0;
  }
}

// Groups of a family of more than 9 members by average linkage on pairwise relatedness:
// groups whose mean relatedness is highest (and above 0.35) merge until none is.
std::vector<std::vector<int4>> pregroup(int4 f, const int4* fam, int4 s) {
  const Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 numloci = v.numloci;
  const bool display = v.displayq == 1;
  if (display && static_cast<real8>(s) * (s - 1) / 2.0 * numloci > 1000000.0) {
    blank_overwrite(14);
    fwrite(std::cout, "(A)",
           "  Computing pairwise r in FS family " + itoc(f) + ", Family Size: " + itoc(s) + " ...");
  }
  // r(i, j), i > j, of positions 1..s in a packed triangle of single-precision values.
  auto tri = [](index_t i, index_t j) {
    if (i < j) std::swap(i, j);
    return static_cast<std::size_t>((i - 1) * (i - 2) / 2 + (j - 1));
  };
  std::vector<real4> r(static_cast<std::size_t>(s) * static_cast<std::size_t>(s - 1) / 2);
  setsecondg(fam, s);
  const int4 step = std::max(1, 100000 / std::max(1, numloci));
  int4 counter = 0;
  for (int4 i = 2; i <= s; ++i) {
    for (int4 l = 1; l <= numloci; ++l) {
      sv.firstg(1, l) = sv.secondg(1, l, i);
      sv.firstg(2, l) = sv.secondg(2, l, i);
    }
    for (int4 j = 1; j < i; ++j) {
      r[tri(i, j)] = static_cast<real4>(r_li_lynch(j));
      if (display) writeprogress(counter, step);
    }
  }
  if (display && counter >= step) blank_overwrite(14);

  std::vector<std::vector<int4>> groups(static_cast<std::size_t>(s));
  for (int4 i = 1; i <= s; ++i) groups[static_cast<std::size_t>(i - 1)] = {i};
  for (;;) {
    real8 best = 0.35;
    std::size_t ba = 0;
    std::size_t bb = 0;
    for (std::size_t a = 0; a < groups.size(); ++a) {
      if (groups[a].empty()) continue;
      for (std::size_t b = a + 1; b < groups.size(); ++b) {
        if (groups[b].empty()) continue;
        real8 sum = 0.0;
        for (int4 x : groups[a])
          for (int4 y : groups[b]) sum += r[tri(x, y)];
        const real8 mean = sum / (static_cast<real8>(groups[a].size()) * groups[b].size());
        // Among equal means the last pair scanned wins.
        if (mean >= best) {
          best = mean;
          ba = a;
          bb = b;
        }
      }
    }
    if (!(best >= 0.35000001)) break;
    groups[ba].insert(groups[ba].end(), groups[bb].begin(), groups[bb].end());
    groups[bb].clear();
  }
  return groups;
}

void write_report(const CloneList& clones) {
  const Variables& v = variables;
  const std::string name = v.fname + ".BestClone";
  const int4 nc = clones.count();
  std::vector<real8> key(static_cast<std::size_t>(nc > 0 ? nc : 1));
  std::vector<int4> order(key.size());
  for (int4 c = 0; c < nc; ++c)
    key[static_cast<std::size_t>(c)] =
        clones.members[static_cast<std::size_t>(clones.bounds[static_cast<std::size_t>(c)])];
  if (nc > 0) indexx(nc, key.data(), order.data());

  ReplacingFile out(name, WriteFailure{.routine = "FindClone", .open_prefix = "Failed writing "});
  std::string header = "CloneIndex      Prob      ";
  for (int4 k = 1; k <= clones.largest; ++k)
    header += "Member" + itoc(k) + (k < clones.largest ? "," : " ");
  out.write("(A)", header);
  for (int4 row = 1; row <= nc; ++row) {
    const std::size_t c = static_cast<std::size_t>(order[static_cast<std::size_t>(row - 1)] - 1);
    std::string ids = "      ";
    for (int4 x = clones.bounds[c]; x < clones.bounds[c + 1]; ++x) {
      if (x > clones.bounds[c]) ids += ",";
      ids += trim_both(v.offspringid(clones.members[static_cast<std::size_t>(x)]).view());
    }
    out.write("(I10, F10.3, A)", row, clones.prob[c], ids);
  }
  out.commit();
}

}  // namespace

void findclone(int4 nf, const real8* famprob, const int4* start, const int4* size,
               const int4* members) {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const int4 n = v.smplsize;
  const bool display = v.displayq == 1;

  // Offsets of the genotype blocks of the loci of more than two alleles in the dyad cache,
  // which is kept only while its three hypotheses fit in 6,000,000 doubles.
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  sv.podyadloc.allocate(Dim(n3));
  index_t total = 0;
  for (int4 k = 1; k <= n3; ++k) {
    sv.podyadloc(k) = static_cast<int4>(total);
    const index_t na = v.obsnumallele(v.locus3(k));
    total += na * (na + 1) / 2;
  }
  sv.podyadlogl3.deallocate();
  if (total > 0 && 3 * total <= 6000000) sv.podyadlogl3.allocate(Dim(3 * total));
  sv.secondg.allocate(Dim(2), Dim(v.numloci), Dim(1));
  sv.firstg.allocate(Dim(2), Dim(v.numloci));
  // The single-genotype table is built again under the rates in force now.
  sv.dyadlogl0.deallocate();
  if (!v.cloneconfig.allocated()) v.cloneconfig.allocate(Dim(n));

  if (display) fwrite(std::cout, "(A)", "Inferring clones...");
  clone_detail::set_lynch_weights();
  clone_detail::set_clone_locus_order();

  CloneList clones;
  std::vector<char> single(static_cast<std::size_t>(n) + 1, 0);
  int4 fscounter = 0;
  std::vector<int4> group;
  std::vector<int4> out;
  std::vector<int4> outb;
  for (int4 f = 1; f <= nf; ++f) {
    const int4 sz = size[f - 1];
    if (sz < 1) continue;
    const int4* fam = members + (start[f - 1] - 1);
    int4 parents[2] = {0, 0};
    if (sz > 1) family_parents(fam, sz, parents);
    std::vector<std::vector<int4>> groups;
    if (sz <= 9) {
      groups.emplace_back();
      for (int4 i = 1; i <= sz; ++i) groups.back().push_back(i);
    } else {
      groups = pregroup(f, fam, sz);
    }
    for (const std::vector<int4>& g : groups) {
      if (g.empty()) continue;
      const int4 gs = static_cast<int4>(g.size());
      group.resize(g.size());
      for (std::size_t x = 0; x < g.size(); ++x) group[x] = fam[g[x] - 1];
      if (gs == 1) {
        clones.add(group.data(), 1, 0.0);
        v.cloneconfig(group[0]) = clones.count();
        single[static_cast<std::size_t>(group[0])] = 1;
        continue;
      }
      out.resize(g.size());
      outb.resize(g.size() + 1);
      int4 nclones = 0;
      real8 p = 0.0;
      fsconfig(fscounter, parents, gs, group.data(), out.data(), outb.data(), nclones, p);
      for (int4 c = 0; c < nclones; ++c) {
        const int4 from = outb[static_cast<std::size_t>(c)];
        const int4 k = outb[static_cast<std::size_t>(c) + 1] - from;
        const int4* m = &out[static_cast<std::size_t>(from)];
        clones.add(m, k, k > 1 ? famprob[f - 1] * p : 0.0);
        for (int4 x = 0; x < k; ++x) v.cloneconfig(m[x]) = clones.count();
        if (k == 1) single[static_cast<std::size_t>(m[0])] = 1;
      }
    }
    if (display && fscounter > 99) {
      fscounter = 0;
      if (v.igui != 1) blank_overwrite(2);
    }
  }

  // Clones of one member: the chance that the offspring has no clone anywhere in the sample.
  std::vector<real8> sprob(static_cast<std::size_t>(n) + 1, 1.0);
  int4 singlecounter = 0;
  clone_detail::single_clone_sweep(single, sprob, singlecounter, 1000 / std::max(1, n) + 1);
  for (int4 c = 0; c < clones.count(); ++c) {
    const std::size_t uc = static_cast<std::size_t>(c);
    if (clones.bounds[uc + 1] - clones.bounds[uc] == 1)
      clones.prob[uc] = sprob[static_cast<std::size_t>(
          clones.members[static_cast<std::size_t>(clones.bounds[uc])])];
  }
  const int4 singlelimit = 10000 / std::max(1, n);
  if (display && singlecounter > singlelimit) {
    singlecounter = 0;
    if (v.igui != 1) blank_overwrite(2);
  }

  sv.lynchwgt.deallocate();
  sv.firstg.deallocate();
  sv.secondg.deallocate();
  sv.podyadloc.deallocate();
  sv.podyadlogl3.deallocate();
  sv.dyadlogl2.deallocate();
  sv.dyadlogl0.deallocate();
  clone_detail::release_config_scratch();

  if (display && (fscounter >= 1 || singlecounter > singlelimit)) blank_overwrite(2);
  write_report(clones);
}

}  // namespace kinrad
