// The change of father of haploid offspring: a haploid offspring has no father, so which of its
// mother's full-sib families holds it is free. The move draws an offspring (its cluster is the
// one changed) and a mother of the cluster, lists the fathers she has families with, takes the
// first of them whose family with her holds haploid offspring as the source and draws another
// listed father as the target; the source family's haploid offspring join the target family.
// The change is made tentatively, scored (the cluster's full likelihood when it has more than
// two parents of each sex; the prior always) and put back exactly when the test at the current
// temperature refuses it.
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

// The source and target of the change: positions of the two fathers in the side-1 picture,
// their families with the drawn mother, and the number of haploid offspring that move.
struct Swap {
  int4 a = 0, fa = 0;
  int4 b = 0, fb = 0;
  int4 h = 0;
  int4 movers = 0;  // rows of indivloc3 in use
};

int4 haploid_members(int4 f) {
  const auto& v = variables;
  const auto& av = annealvariables;
  int4 h = 0;
  for (int4 t = av.sibloc1(f) + 1; t <= av.sibloc1(f) + av.numfamilymember1(f); ++t)
    if (v.offploid(av.familymember1(t)) == 1) ++h;
  return h;
}

// The fathers with a family with the mother at position m, in position order (w.fathers, with
// their families in w.fatherfamily), and the source: the first of them whose family holds
// haploid offspring.
void list_fathers(int4 m, Swap& sw) {
  const auto& av = annealvariables;
  auto& w = search_work;
  const int4 nfam = av.numberfsfamily1;
  w.fathers.clear();
  w.fatherfamily.clear();
  for (int4 k = 1; k <= av.nparent1(1); ++k) {
    for (int4 t = 1; t <= av.numpartner1(k, 1); ++t) {
      const int4 f = av.partner1(av.locpartner1(k) + t);
      if (av.familyidx1(nfam + f) != m) continue;
      w.fathers.push_back(k);
      w.fatherfamily.push_back(f);
      if (sw.a == 0) {
        const int4 h = haploid_members(f);
        if (h > 0) {
          sw.a = k;
          sw.fa = f;
          sw.h = h;
        }
      }
      break;
    }
  }
}

// The offspring of all families of the father at position k.
int4 father_size(int4 k) {
  const auto& av = annealvariables;
  int4 t = 0;
  for (int4 x = 1; x <= av.numpartner1(k, 1); ++x)
    t += av.numfamilymember1(av.partner1(av.locpartner1(k) + x));
  return t;
}

// The sibship sizes of the two fathers change by -h and +h in sibshipsizedist; maxsibsize(1)
// rises to the largest size met.
void change_father_sizes(int4 ta, int4 tb, int4 h, FStatic<int2, 1, 2>& maxsibsize) {
  auto& dist = variables.sibshipsizedist;
  --dist(ta, 1);
  ++dist(ta - h, 1);
  --dist(tb, 1);
  ++dist(tb + h, 1);
  maxsibsize(1) = static_cast<int2>(std::max<int4>({maxsibsize(1), ta, tb + h}));
}

void undo_father_sizes(int4 ta, int4 tb, int4 h) {
  auto& dist = variables.sibshipsizedist;
  --dist(tb + h, 1);
  ++dist(tb, 1);
  --dist(ta - h, 1);
  ++dist(ta, 1);
}

// The log prior with the present family counts, over the sexes with candidates (both with the
// Ewens prior).
real8 present_prior(const RunState& rs) {
  const auto& v = variables;
  const auto& cp = rs.cp;
  real8 prior = 0.0;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) < 1 && v.priortype != 1) continue;
    prior += priorvalue(s, {cp.curnumassign(s), cp.curnumassign(s + 2)}, v.crnumfamily(s),
                        cp.numsizeclass(s), cp.curnumselfer);
  }
  return prior;
}

// The haploid members of the source family take the target family's father id; the moved
// offspring and their old ids go to indivloc3 (columns 1 and 4).
void move_haploids(Swap& sw) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 newid = v.crindivloc(av.familymember1(av.sibloc1(sw.fb) + 1), 1);
  sw.movers = 0;
  for (int4 t = av.sibloc1(sw.fa) + 1; t <= av.sibloc1(sw.fa) + av.numfamilymember1(sw.fa); ++t) {
    const int4 i = av.familymember1(t);
    if (v.offploid(i) != 1) continue;
    ++sw.movers;
    av.indivloc3(sw.movers, 1) = v.crindivloc(i, 1);
    av.indivloc3(sw.movers, 4) = i;
    v.crindivloc(i, 1) = newid;
  }
}

void put_back_haploids(const Swap& sw) {
  auto& v = variables;
  const auto& av = annealvariables;
  for (int4 k = 1; k <= sw.movers; ++k) v.crindivloc(av.indivloc3(k, 4), 1) = av.indivloc3(k, 1);
}

}  // namespace

bool swapdadid(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& cp = rs.cp;
  auto& w = search_work;
  const int4 c = v.crindivloc(draw_offspring(), 3);
  if (av.clustersize(1, c) < 2) return false;
  familybuild0(c, 1);
  av.lastfamilyid(1) = 0;
  const int4 m = static_cast<int4>(static_cast<real8>(av.nparent1(2)) * ran2() + 1.0);
  Swap sw;
  list_fathers(m, sw);
  const auto listed = static_cast<int4>(w.fathers.size());
  if (listed < 2 || sw.a == 0) return false;
  do {
    const int4 j = static_cast<int4>(static_cast<real8>(listed) * ran2() + 1.0);
    sw.b = w.fathers[static_cast<std::size_t>(j - 1)];
    sw.fb = w.fatherfamily[static_cast<std::size_t>(j - 1)];
  } while (sw.b == sw.a);

  // Tentative change: member counts, sibship sizes, prior, ids.
  const int4 ta = father_size(sw.a), tb = father_size(sw.b);
  const int4 fasize = av.numfamilymember1(sw.fa);
  const int2 oldmax1 = cp.numsizeclass(1);
  if (v.priortype == 1) change_father_sizes(ta, tb, sw.h, cp.numsizeclass);
  const real8 newprior = present_prior(rs);
  move_haploids(sw);
  av.numfamilymember1(sw.fa) = fasize - sw.h;
  av.numfamilymember1(sw.fb) += sw.h;
  const int4 slot = v.indivclusterindex(c);
  const int4 size = av.clustersizet(c);
  gather_cluster_rows(av.indivloc2, c, slot, size);

  // Score and decide.
  real8 oldl = 0.0, newl = 0.0;
  const bool scored = av.nparent1(1) > 2 && av.nparent1(2) > 2;
  if (v.fulllikelihoodmethodq != 0) {
    oldl = v.crfamilylogl(c);
    newl = scored ? rows_likelihood(av.indivloc2, size) : oldl;
  }
  const real8 oldtotal = cp.oldlogprior + oldl, newtotal = newprior + newl;
  bool accept = newtotal >= oldtotal - 1e-8;
  if (!accept) {
    const real8 u = ran2();
    accept = u <= 1e-300 || std::log(u) * cp.temperature + oldtotal <= newtotal;
  }
  if (!accept) {
    put_back_haploids(sw);
    av.numfamilymember1(sw.fa) = fasize;
    av.numfamilymember1(sw.fb) -= sw.h;
    if (v.priortype == 1) {
      undo_father_sizes(ta, tb, sw.h);
      cp.numsizeclass(1) = oldmax1;
    }
    return false;
  }

  // The decision takes a small cluster's likelihood as unchanged, but its family likelihood
  // does depend on which of the mother's families holds the haploid offspring: the cluster
  // keeps, and the score gains, the value of what was applied, as a rescoring finds it.
  if (v.fulllikelihoodmethodq != 0 && !scored) newl = rows_likelihood(av.indivloc2, size);
  const real8 appliedtotal = newprior + newl;
  av.lastfamilyid(1) = 0;
  av.lastfamilyid(2) = 0;
  av.clustersize(3, c) = std::max(av.clustersize(3, c), av.numfamilymember1(sw.fb));
  v.crloglikelihood += appliedtotal - oldtotal;
  if (v.fulllikelihoodmethodq != 0) v.crfamilylogl(c) = newl;
  cp.oldlogprior = newprior;
  reregister_cluster(c, slot, size);
  return true;
}

}  // namespace kinrad
