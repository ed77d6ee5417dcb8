// The reversal of a cluster: every father of the cluster becomes a mother and every mother a
// father, the full-sib families staying as they are. The move draws an offspring (its cluster
// is the one reversed), tries a cluster of k1 fathers and k2 mothers with chance
// sqrt(1 / (k1 k2)), refuses clusters fixed by candidates or by known or excluded sibships,
// scores the exchange where the score can change (the full likelihood of the cluster with more
// than two parents of each sex or in a haplodiploid species; the pairwise score of the whole
// configuration in a haplodiploid species), decides at the current temperature, then checks the
// mating limits of the parents' new sexes. Nothing is changed before the move is accepted.
//
// Renumbering: for each sex s the cluster's distinct sex-s ids, listed in order of first
// appearance (over rows sorted by the ids of the sex with more parents, so that that list is
// ascending), are handed to the parents of the other sex in the order of their own list; the
// sex with fewer parents gets new ids after its largest, and the sex with more parents gives
// up its largest ids, the ids above them moving down so that each sex's ids stay 1..count.
#include <algorithm>
#include <cmath>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "search/parent_side_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// True when a candidate assigned as a parent, a known sibship or an excluded sibship of one of
// the cluster's offspring fixes which side its parents are on.
bool fixed_by_data(int4 size) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const bool known = v.anyknownsibshipq(1) != 0 || v.anyknownsibshipq(2) != 0;
  const bool excluded = v.anyexcludedsibshipq(1) != 0 || v.anyexcludedsibshipq(2) != 0;
  if (!known && !excluded && v.allcandidate <= 0) return false;
  for (int4 t = 1; t <= size; ++t) {
    const int4 i = av.indivloc1(t, 4);
    if (v.allcandidate > 0 && (v.inferparent(i, 1) > 0 || v.inferparent(i, 2) > 0)) return true;
    for (int4 s = 1; s <= 2; ++s)
      if (v.anyknownsibshipq(s) != 0 && v.knownsibship(i, s) != 0) return true;
    if (excluded && v.excludedsibshipq(i) > 0) return true;
  }
  return false;
}

// The cluster's rows with the two parent columns exchanged, into indivloc2.
void exchanged_rows(int4 size) {
  auto& av = annealvariables;
  for (int4 t = 1; t <= size; ++t) {
    av.indivloc2(t, 1) = av.indivloc1(t, 2);
    av.indivloc2(t, 2) = av.indivloc1(t, 1);
    av.indivloc2(t, 3) = av.indivloc1(t, 3);
    av.indivloc2(t, 4) = av.indivloc1(t, 4);
  }
}

// The cluster's distinct ids of each sex with the offspring count of each parent, in order of
// first appearance over the rows in w.roworder: ids1/size1 for sex 1, ids2/size2 for sex 2
// (from element 1). selectedprntidxq1 and selectedprntidxq3 map each id of sex 1 and sex 2 to its
// place until clear_parent_marks.
void list_parents(int4 size) {
  auto& av = annealvariables;
  auto& w = search_work;
  w.ids1.assign(1, 0);
  w.ids2.assign(1, 0);
  w.size1.assign(1, 0);
  w.size2.assign(1, 0);
  for (int4 x = 0; x < size; ++x) {
    const int4 t = w.roworder[static_cast<std::size_t>(x)];
    const int4 a = av.indivloc1(t, 1), b = av.indivloc1(t, 2);
    if (av.selectedprntidxq1(a) == 0) {
      w.ids1.push_back(a);
      w.size1.push_back(0);
      av.selectedprntidxq1(a) = static_cast<int4>(w.ids1.size()) - 1;
    }
    if (av.selectedprntidxq3(b) == 0) {
      w.ids2.push_back(b);
      w.size2.push_back(0);
      av.selectedprntidxq3(b) = static_cast<int4>(w.ids2.size()) - 1;
    }
    ++w.size1[static_cast<std::size_t>(av.selectedprntidxq1(a))];
    ++w.size2[static_cast<std::size_t>(av.selectedprntidxq3(b))];
  }
}

// Clears the maps list_parents set.
void clear_parent_marks(int4 size) {
  auto& av = annealvariables;
  for (int4 t = 1; t <= size; ++t) {
    av.selectedprntidxq1(av.indivloc1(t, 1)) = 0;
    av.selectedprntidxq3(av.indivloc1(t, 2)) = 0;
  }
}

// The pairwise score of the whole configuration in hand.
real8 configuration_pair_score() {
  auto& v = variables;
  WindowSave keep;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  real8 logl = 0.0;
  calculatecrrtpairlogl(logl);
  return logl;
}

// The pairwise score of the configuration with the cluster reversed: its rows take ids of their
// own above every id in use (the score depends only on which offspring share a parent), and
// are put back from indivloc1 afterwards.
real8 reversed_pair_score(int4 size) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  const int4 n1 = v.crnumfamily(1), n2 = v.crnumfamily(2);
  w.roworder.clear();
  for (int4 t = 1; t <= size; ++t) w.roworder.push_back(t);
  list_parents(size);
  for (int4 t = 1; t <= size; ++t) {
    const int4 i = av.indivloc1(t, 4);
    v.crindivloc(i, 1) = n1 + av.selectedprntidxq3(av.indivloc1(t, 2));
    v.crindivloc(i, 2) = n2 + av.selectedprntidxq1(av.indivloc1(t, 1));
  }
  clear_parent_marks(size);
  const real8 logl = configuration_pair_score();
  for (int4 t = 1; t <= size; ++t) {
    const int4 i = av.indivloc1(t, 4);
    v.crindivloc(i, 1) = av.indivloc1(t, 1);
    v.crindivloc(i, 2) = av.indivloc1(t, 2);
  }
  return logl;
}

// The acceptance test: a loss is kept with the chance exp(loss / T); an unchanged score (or an
// exchange that is not scored) with the chance equalaccept.
bool accepted_at_temperature(bool scored, real8 oldl, real8 newl, real8 temperature,
                             real8 equalaccept) {
  if (!scored || std::fabs(newl - oldl) < 1e-20) return !(ran2() > equalaccept);
  if (newl < oldl) return !(std::log(ran2()) * temperature + oldl > newl);
  return true;
}

// Whether every parent can take the other sex under the mating limits: a father becomes a
// mother, so its number of mates must not exceed the mothers' limit, and the reverse.
bool within_mating_limits(int4 c, int4 slot) {
  const auto& v = variables;
  const auto& av = annealvariables;
  const int4 lim1 = v.maxmatings(1), lim2 = v.maxmatings(2);
  if (lim1 == lim2 || (lim1 >= v.smplsize && lim2 >= v.smplsize)) return true;
  int4 most1 = av.clustersize(5, c), most2 = av.clustersize(6, c);
  if (v.indivclustern.allocated()) {
    // Mates counted from the cluster tables: the number of full-sib families of each parent.
    const auto& blk = v.indivclustern(slot);
    const int4 p1 = av.clustersize(1, c), p2 = av.clustersize(2, c);
    most1 = most2 = 0;
    for (int4 k = 1; k <= p1; ++k) most1 = std::max(most1, blk(k + 1) - blk(k));
    for (int4 k = 1; k <= p2; ++k) most2 = std::max(most2, blk(p1 + k + 1) - blk(p1 + k));
  }
  return most1 <= lim2 && most2 <= lim1;
}

// The order in which the renumbering visits the rows: by ascending id of the sex with more
// parents (ties in row order) when the counts differ, else the row order.
void visiting_order(int4 size, int4 k1, int4 k2) {
  auto& av = annealvariables;
  auto& w = search_work;
  w.roworder.clear();
  if (k1 == k2) {
    for (int4 t = 1; t <= size; ++t) w.roworder.push_back(t);
    return;
  }
  const int4 b = k1 > k2 ? 1 : 2;
  w.sortkeys.clear();
  for (int4 t = 1; t <= size; ++t) w.sortkeys.emplace_back(av.indivloc1(t, b), t);
  std::sort(w.sortkeys.begin(), w.sortkeys.end());
  for (const auto& k : w.sortkeys) w.roworder.push_back(k.second);
}

// Moves each parent's sibship size to its new sex in sibshipsizedist and sets maxsibsize to
// the largest sizes in use.
void move_sibship_sizes(FStatic<int2, 1, 2>& maxsibsize) {
  auto& v = variables;
  const auto& w = search_work;
  auto& dist = v.sibshipsizedist;
  for (std::size_t j = 1; j < w.size1.size(); ++j) {
    --dist(w.size1[j], 1);
    ++dist(w.size1[j], 2);
  }
  for (std::size_t j = 1; j < w.size2.size(); ++j) {
    --dist(w.size2[j], 2);
    ++dist(w.size2[j], 1);
  }
  for (int4 s = 1; s <= 2; ++s) {
    index_t k = dist.ubound(1);
    while (k > 0 && dist(k, s) == 0) --k;
    maxsibsize(s) = static_cast<int2>(k);
  }
}

// The log prior after the reversal (family counts already changed), over the sexes with
// candidates (both with the Ewens prior).
real8 reversed_prior(RunState& rs, int4 k1, int4 k2) {
  const auto& v = variables;
  auto& cp = rs.cp;
  if (k1 == k2 && v.priortype + v.haplodiploid == 0) return cp.oldlogprior;
  if (v.priortype == 1) move_sibship_sizes(cp.numsizeclass);
  real8 prior = 0.0;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) < 1 && v.priortype != 1) continue;
    prior += priorvalue(s, {cp.curnumassign(s), cp.curnumassign(s + 2)}, v.crnumfamily(s),
                        cp.numsizeclass(s), cp.curnumselfer);
  }
  return prior;
}

// Writes the exchanged and renumbered ids of the cluster into crindivloc and into rows 1..size
// of indivloc2, closes the gaps the freed ids leave and updates the family counts; takes the
// lists and maps of list_parents and clears the maps.
void renumber(int4 size, int4 k1, int4 k2) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  // The sex with fewer parents gets new ids after its largest.
  for (int4 x = k1 + 1; x <= k2; ++x) w.ids1.push_back(v.crnumfamily(1) + x - k1);
  for (int4 x = k2 + 1; x <= k1; ++x) w.ids2.push_back(v.crnumfamily(2) + x - k2);
  for (int4 t = 1; t <= size; ++t) {
    const int4 a = av.indivloc1(t, 1), b = av.indivloc1(t, 2), i = av.indivloc1(t, 4);
    const int4 new1 = w.ids1[static_cast<std::size_t>(av.selectedprntidxq3(b))];
    const int4 new2 = w.ids2[static_cast<std::size_t>(av.selectedprntidxq1(a))];
    v.crindivloc(i, 1) = new1;
    v.crindivloc(i, 2) = new2;
  }
  clear_parent_marks(size);
  if (k1 != k2) {
    // The sex with more parents frees its largest ids: every larger id of that sex moves down
    // by the number of freed ids below it.
    const int4 b = k1 > k2 ? 1 : 2, o = 3 - b;
    const int4 kb = std::max(k1, k2), ko = std::min(k1, k2);
    const std::vector<int4>& ids = b == 1 ? w.ids1 : w.ids2;
    w.freed.assign(ids.begin() + ko + 1, ids.begin() + kb + 1);
    const int4 top = v.crnumfamily(b);
    w.shift.assign(static_cast<std::size_t>(top) + 1, 0);
    std::size_t f = 0;
    for (int4 x = 1; x <= top; ++x) {
      while (f < w.freed.size() && w.freed[f] <= x) ++f;
      w.shift[static_cast<std::size_t>(x)] = static_cast<int4>(f);
    }
    const int4 lowest = w.freed.front();
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const int4 x = v.crindivloc(i, b);
      if (x >= lowest) v.crindivloc(i, b) = x - w.shift[static_cast<std::size_t>(x)];
    }
    v.crnumfamily(b) -= kb - ko;
    v.crnumfamily(o) += kb - ko;
  }
  for (int4 t = 1; t <= size; ++t) {
    const int4 i = av.indivloc1(t, 4);
    av.indivloc2(t, 1) = v.crindivloc(i, 1);
    av.indivloc2(t, 2) = v.crindivloc(i, 2);
    av.indivloc2(t, 3) = av.indivloc1(t, 3);
    av.indivloc2(t, 4) = i;
  }
}

}  // namespace

bool reversal(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& cp = rs.cp;
  const int4 c = v.crindivloc(draw_offspring(), 3);
  const int4 size = av.clustersizet(c);
  if (size < 2) return false;
  const int4 k1 = av.clustersize(1, c), k2 = av.clustersize(2, c);
  if (k1 == 1 && k2 == 1) return false;
  // The product in single precision, as the chance of trying is specified.
  const real4 chance = std::sqrt(1.0f / (static_cast<real4>(k1) * static_cast<real4>(k2)));
  if (!(ran2() <= static_cast<real8>(chance))) return false;
  const int4 slot = v.indivclusterindex(c);
  gather_cluster_rows(av.indivloc1, c, slot, size);
  if (fixed_by_data(size)) return false;

  // The score of the exchange where it can differ from the present one.
  const bool full = v.fulllikelihoodmethodq != 0;
  const bool haplo = v.haplodiploid == 1;
  bool scored = false;
  real8 oldl = 0.0, newl = 0.0;
  if (full && ((k1 > 2 && k2 > 2) || haplo)) {
    oldl = v.crfamilylogl(c);
    exchanged_rows(size);
    newl = rows_likelihood(av.indivloc2, size);
    scored = true;
  } else if (!full && haplo) {
    oldl = configuration_pair_score();
    newl = reversed_pair_score(size);
    scored = true;
  }
  if (!accepted_at_temperature(scored, oldl, newl, cp.temperature, rs.coolfactor)) return false;
  if (!within_mating_limits(c, slot)) return false;

  // Accepted: the prior, the ids, the counts, the score and the cluster tables.
  visiting_order(size, k1, k2);
  list_parents(size);
  renumber(size, k1, k2);
  const real8 newprior = reversed_prior(rs, k1, k2);
  av.clustersize(1, c) = k2;
  av.clustersize(2, c) = k1;
  std::swap(av.clustersize(5, c), av.clustersize(6, c));
  av.lastfamilyid(1) = 0;
  av.lastfamilyid(2) = 0;
  v.crloglikelihood += (newprior + newl) - (oldl + cp.oldlogprior);
  cp.oldlogprior = newprior;
  // The cluster's stored likelihood follows the exchange it was scored for, so that the next
  // move touching it and the periodic resummation see the value crloglikelihood includes.
  if (scored && full) v.crfamilylogl(c) = newl;
  reregister_cluster(c, slot, size);
  return true;
}

}  // namespace kinrad
