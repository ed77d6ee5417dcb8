// The soak matrix of the search state's self-check: small simulated samples that together cover
// every species (dioecious, one parent pool with and without selfing, haplodiploid), mating
// system, kind of known or excluded relationship, number of candidates per sex (none, up to
// nine, more than nine), sibship prior and method. For each sample: random configurations, then
// a walk of random proposals written with the proposal builder, judged by checkconfiguration
// and, when admitted, applied by building the proposed configuration explicitly and scoring it
// afresh with the configuration model's own routines; the self-check (recomputing everything,
// the score included) runs after every step and must never stop. An admitted proposal is also
// judged by the independent validator of check_fixture.hpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "configuration/check_fixture.hpp"
#include "configuration/configuration.hpp"
#include "configuration/soak/soak_matrix.hpp"
#include "core/error_stop.hpp"
#include "core/random_numbers.hpp"
#include "pairwise/pairwise.hpp"
#include "support/prepare.hpp"
#include "support/project_file.hpp"
#include "support/ran2_state.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

using testing_support::ProjectFile;
using testing_support::TempWorkDir;

// The samples (DataSet, matrix, simulate) come from soak_matrix.hpp.

// ---------------------------------------------------------------------------------------------
// The search's state of a configuration, from the configuration model's routines.

struct Caller {
  FStatic<int4, 1, 4> numassign{};
  FStatic<int4, 1, 2> nsib{};
  FStatic<int4, 1, 2> newnumfamily{};
  real8 prior = 0.0;
  real8 parentlogl = 0.0;
};

int4 known_parent(int4 i, int4 s) {
  const auto& v = variables;
  return v.indivparent.allocated() ? v.indivparent(i, s) : 0;
}

// Family ids 1, 2, ... by first appearance in offspring order, per column (one pool: over both
// columns at once).
void renumber() {
  auto& v = variables;
  const int4 n = v.smplsize;
  const bool pool = v.numsex == 1;
  std::map<int4, int4> ids[3];
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s) {
      auto& m = ids[pool ? 1 : s];
      const int4 f = v.crindivloc(i, s);
      if (!m.count(f)) m.emplace(f, static_cast<int4>(m.size()) + 1);
      v.crindivloc(i, s) = m[f];
    }
  v.crnumfamily(1) = static_cast<int4>(ids[1].size());
  v.crnumfamily(2) = pool ? v.crnumfamily(1) : static_cast<int4>(ids[2].size());
}

// Scores the configuration in crindivloc (columns 1-2) and inferparent as the search keeps it.
Caller score_state() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const bool full = v.fulllikelihoodmethodq != 0;
  renumber();
  // Clusters and their tables as the search keeps them (counted independently by the fixture),
  // then numbered and scored by the model.
  {
    std::vector<int4> a, b;
    for (int4 i = 1; i <= n; ++i) {
      a.push_back(v.crindivloc(i, 1));
      b.push_back(v.crindivloc(i, 2));
    }
    const int4 top1 = v.crnumfamily(1), top2 = v.crnumfamily(2);
    set_configuration(a, b);
    v.crnumfamily(1) = top1;
    v.crnumfamily(2) = top2;
    setinitcluster();
  }
  FStatic<int2, 1, 2> hs{};
  setinitconfiglogl(full ? 1 : 0, hs);
  Caller c;
  for (int4 i = 1; i <= n; ++i)
    for (int4 s = 1; s <= 2; ++s)
      v.inferparent2(i, s) = known_parent(i, s) > 0 ? known_parent(i, s) : v.inferparent(i, s);
  for (int4 s = 1; s <= 2; ++s)
    for (int4 j = 1; j <= v.numcandidate(s); ++j) {
      bool used = v.knownprntq(j, s) > 0;
      for (int4 i = 1; i <= n; ++i) used = used || v.inferparent2(i, s) == j;
      av.unassignedcnd(j, s) = used ? 0 : 1;
    }
  if (v.poassign.allocated()) {
    v.npoassign(0) = 0;
    for (int4 o = 1; o <= n; ++o) {
      bool any = false;
      for (int4 s = 1; s <= 2; ++s) {
        const int4 p = v.inferparent2(o, s);
        v.poassign(s, o) = p > 0 ? v.cndinoffspring(p, s) : 0;
        any = any || v.poassign(s, o) > 0;
      }
      if (any) v.npoassign(++v.npoassign(0)) = o;
    }
  }
  if (v.priortype == 1) {
    v.indivlocprt = v.crindivloc.view();
    FStatic<int4, 1, 2> top{};
    for (int4 i = 1; i <= n; ++i)
      for (int4 s = 1; s <= 2; ++s) top(s) = std::max(top(s), v.crindivloc(i, s));
    if (v.numsex == 1) top(1) = top(2) = std::max(top(1), top(2));
    sibshipsize(top, 1);
  }
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  findassignment(c.numassign);
  c.newnumfamily(1) = v.crnumfamily(1);
  c.newnumfamily(2) = v.crnumfamily(2);
  c.nsib(1) = c.nsib(2) = (3 - v.numsex) * n;
  FStatic<int4, 1, 4> count{};
  configurationprior(count, c.prior, c.nsib, c.newnumfamily);
  real8 total = c.prior;
  if (full) {
    computeparentlogl(c.parentlogl);
    total += c.parentlogl;
    for (int4 j = 1; j <= v.crnumfamily(3); ++j) total += v.crfamilylogl(j);
  } else {
    real8 pair = 0.0;
    calculatecrrtpairlogl(pair);
    total += pair;
  }
  v.crloglikelihood = total;
  return c;
}

// The self-check of the state in hand; "" when it passes, else its stop code.
std::string self_check(int8 step, const Caller& c) {
  try {
    checkresult(step, c.numassign, c.nsib, c.newnumfamily, c.prior, c.parentlogl, 1);
  } catch (const ProgramStop& stop) {
    return stop.name();
  }
  return "";
}

// A haploid offspring (no father) in the role of sex s.
bool haploid_son(int4 i, int4 s) {
  const auto& v = variables;
  return s == 1 && v.haplodiploid == 1 && v.offploid(i) == 1;
}

// The haploid rule the validator leaves out: a haploid offspring has no father, and haploid
// offspring without a diploid full sib form paternal and maternal families of their own.
bool haploid_ok() {
  const auto& v = variables;
  if (v.haplodiploid == 0) return true;
  std::set<std::pair<int4, int4>> dip, lone;
  std::set<int4> dip1, dip2;
  for (int4 i = 1; i <= v.smplsize; ++i)
    if (v.offploid(i) == 2) {
      dip.insert({v.crindivloc(i, 1), v.crindivloc(i, 2)});
      dip1.insert(v.crindivloc(i, 1));
      dip2.insert(v.crindivloc(i, 2));
    }
  for (int4 i = 1; i <= v.smplsize; ++i) {
    if (v.offploid(i) != 1) continue;
    if (v.inferparent(i, 1) != 0) return false;
    const std::pair<int4, int4> key{v.crindivloc(i, 1), v.crindivloc(i, 2)};
    if (!dip.count(key)) lone.insert(key);
  }
  std::set<int4> l1, l2;
  for (const auto& [a, b] : lone) {
    if (!l1.insert(a).second || !l2.insert(b).second) return false;
    if (dip1.count(a) || dip2.count(b)) return false;
  }
  return true;
}

// The tables the search's set-up allocates and the prepared sample does not hold yet.
void allocate_search_tables() {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  ::kinrad::testing_support::allocate_move_tables(n);
  av.indivloc12(1) = av.indivloc1.view();
  av.indivloc12(2) = av.indivloc2.view();
  if (!av.indivparentage.allocated()) av.indivparentage.allocate(Dim(n), Dim(2));
  if (!av.inferparentage.allocated()) av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  if (!v.inferparent2.allocated()) v.inferparent2.allocate(Dim(n), Dim(2));
  if (!av.indivclusterid.allocated()) av.indivclusterid.allocate(Dim(n), Dim(3));
  if (!av.clustersize.allocated()) av.clustersize.allocate(Dim(6), Dim(n));
  if (!av.clustersizet.allocated()) av.clustersizet.allocate(Dim(n));
  if (!av.familyidx2.allocated()) av.familyidx2.allocate(Dim(n), Dim(2));
  if (!av.numpartner1.allocated()) av.numpartner1.allocate(Dim(1), Dim(2));
  if (!av.parentidx1.allocated()) av.parentidx1.allocate(Dim(2));
  if (!av.parentidx2.allocated()) av.parentidx2.allocate(Dim(2));
  if (!v.parentchd.allocated()) v.parentchd.allocate(Dim(2));
  if (!av.numfamilymember1.allocated()) av.numfamilymember1.allocate(Dim(1));
  if (!av.numfamilymember2.allocated()) av.numfamilymember2.allocate(Dim(1));
  if (!av.familymember1.allocated()) av.familymember1.allocate(Dim(1));
  if (!av.sibloc1.allocated()) av.sibloc1.allocate(Dim(0, 1));
  const int4 m = n + 100;
  if (!v.indivcluster.allocated()) v.indivcluster.allocate(Dim(m));
  if (!(v.allmonogamy == 1 && v.numsex == 2)) {
    if (!v.indivcluster1.allocated()) v.indivcluster1.allocate(Dim(m));
    if (!v.indivcluster2.allocated()) v.indivcluster2.allocate(Dim(m));
    if (!v.indivclustern.allocated()) v.indivclustern.allocate(Dim(m));
    if (!v.indivclusterm.allocated()) v.indivclusterm.allocate(Dim(m));
    if (!v.indivclusterf.allocated()) v.indivclusterf.allocate(Dim(m));
    if (v.numsex == 1 && !v.indivclusterj.allocated()) v.indivclusterj.allocate(Dim(m));
  }
  if (!v.indivclusterindex.allocated()) v.indivclusterindex.allocate(Dim(n));
  if (!v.indivclusteridx.allocated()) {
    v.indivclusteridx.allocate(Dim(0, m));
    v.indivclusteridx.fill(-1);
    v.indivclusteridx(0) = 0;
  }
  const int4 big = std::max(std::max(n, 100) + (3 - v.numsex) * n, 100);
  if (!v.kdxtgt.allocated()) v.kdxtgt.allocate(Dim(big));
  if (!v.ldxtgt.allocated()) v.ldxtgt.allocate(Dim(big));
  if (!v.number1tgt.allocated()) {
    v.number1tgt.allocate(Dim(n));
    for (int4 i = 1; i <= n; ++i) v.number1tgt(i) = i;
  }
  av.numindiv(1) = av.numindiv(2) = 0;
  av.numindivparentage(1) = av.numindivparentage(2) = 0;
  av.rate = 1.0;
  testing_support::start_stream(77);
}

// A random start: the offspring spread over a few families of each sex (a monogamous sex keeps
// one mate per parent; one pool: parent pairs, selfed only where the species selfs), haploid
// offspring with fathers of their own, then candidates given to families one at a time where the
// validator allows them. Drawn again until the validator and the haploid rule accept it.
void random_start(std::mt19937& rng) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const auto pick = [&](int4 lo, int4 hi) {
    return std::uniform_int_distribution<int4>(lo, hi)(rng);
  };
  const bool pool = v.numsex == 1;
  for (int attempt = 0;; ++attempt) {
    const int4 k = 2 + pick(0, std::max(2, n / 5));
    std::vector<int4> mate1(static_cast<std::size_t>(k) + 1),
        mate2(static_cast<std::size_t>(k) + 1);
    for (int4 j = 1; j <= k; ++j) {
      mate1[static_cast<std::size_t>(j)] = pick(1, k);
      mate2[static_cast<std::size_t>(j)] = pick(1, k);
    }
    int4 fresh = 10 * n;
    for (int4 i = 1; i <= n; ++i) {
      int4 f = pick(1, k), m = pick(1, k);
      if (pool) {
        if (v.allowinbreeding == 0 && f == m) m = f == k ? 1 : f + 1;
      } else if (v.monogamy(1) == 1 && v.monogamy(2) == 1) {
        m = f;
      } else if (v.monogamy(1) == 1) {
        m = mate1[static_cast<std::size_t>(f)];
      } else if (v.monogamy(2) == 1) {
        f = mate2[static_cast<std::size_t>(m)];
      }
      // An offspring with a known parent joins the family of that parent.
      if (!pool && known_parent(i, 1) > 0) {
        f = 1000 + known_parent(i, 1);
        if (v.monogamy(1) == 1) m = 3000 + known_parent(i, 1);
      } else if (!pool && known_parent(i, 2) > 0) {
        m = 2000 + known_parent(i, 2);
        if (v.monogamy(2) == 1) f = 4000 + known_parent(i, 2);
      }
      v.crindivloc(i, 1) = f;
      v.crindivloc(i, 2) = m;
      v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
    }
    // A haploid offspring joins the full-sib family of a diploid one or forms one of its own.
    if (v.haplodiploid == 1) {
      std::vector<int4> diploid;
      for (int4 i = 1; i <= n; ++i)
        if (v.offploid(i) == 2) diploid.push_back(i);
      for (int4 i = 1; i <= n; ++i) {
        if (v.offploid(i) != 1) continue;
        if (!diploid.empty() && rng() % 5 < 3) {
          const int4 j =
              diploid[static_cast<std::size_t>(pick(0, static_cast<int4>(diploid.size()) - 1))];
          v.crindivloc(i, 1) = v.crindivloc(j, 1);
          v.crindivloc(i, 2) = v.crindivloc(j, 2);
        } else {
          v.crindivloc(i, 1) = ++fresh;
          v.crindivloc(i, 2) = 7000 + i;
        }
      }
    }
    // Known sibships keep one family: members follow the first member.
    for (int4 s = 1; s <= 2; ++s)
      for (int4 i = 1; i <= n; ++i)
        for (int4 j = 1; j < i; ++j)
          if (v.knownsibship.allocated() && v.knownsibship(i, s) != 0 &&
              v.knownsibship(i, s) == v.knownsibship(j, s)) {
            v.crindivloc(i, s) = v.crindivloc(j, s);
            break;
          }
    renumber();
    // Offspring of an excluded sibship get families of their own once plain draws keep failing.
    if (attempt > 20 && v.excludedsibshipq.allocated())
      for (int4 i = 1; i <= n; ++i)
        if (v.excludedsibshipq(i) > 0 &&
            !(v.knownsibship.allocated() &&
              (v.knownsibship(i, 1) != 0 || v.knownsibship(i, 2) != 0))) {
          v.crindivloc(i, 1) = 5000 + i;
          v.crindivloc(i, 2) = pool ? 6000 + i : 5000 + i;
        }
    renumber();
    if (!validate_proposal().empty() || !haploid_ok()) {
      ASSERT_LT(attempt, 2000) << "no valid random start: " << validate_proposal();
      continue;
    }
    break;
  }
  // Known parents first: a family with a member of known parent has that parent assigned.
  for (int4 s = 1; s <= 2; ++s)
    for (int4 i = 1; i <= n; ++i)
      if (known_parent(i, s) > 0)
        for (int4 j = 1; j <= n; ++j)
          if (v.crindivloc(j, s) == v.crindivloc(i, s) && known_parent(j, s) <= 0 &&
              !haploid_son(j, s))
            v.inferparent(j, s) = known_parent(i, s);
  if (!validate_proposal().empty()) {
    for (int4 i = 1; i <= n; ++i) v.inferparent(i, 1) = v.inferparent(i, 2) = 0;
  }
  // Then candidates for some other families, kept where the validator agrees.
  for (int4 s = 1; s <= 2; ++s)
    for (int4 f = 1; f <= v.crnumfamily(s); ++f) {
      if (v.numcandidate(s) == 0 || rng() % 2 == 0) continue;
      const int4 c = pick(1, v.numcandidate(s));
      std::vector<int4> members;
      bool bound = false;
      for (int4 i = 1; i <= n; ++i)
        if (v.crindivloc(i, s) == f) {
          members.push_back(i);
          bound = bound || known_parent(i, s) > 0 || v.inferparent(i, s) > 0 ||
                  (s == 1 && v.haplodiploid == 1 && v.offploid(i) == 1);
        }
      if (bound || members.empty()) continue;
      for (int4 i : members) v.inferparent(i, s) = c;
      if (!validate_proposal().empty() || !haploid_ok())
        for (int4 i : members) v.inferparent(i, s) = 0;
    }
}

// A random proposal of the moves the search makes: an individual move (with some full sibs)
// inside the own cluster, to another cluster or to a new one, the proposed families keeping
// their present parents or, now and then, getting a drawn candidate; or a family move of the
// parent of one family (two sexes with candidates). Offspring of a known sibship stay (the
// search moves them as a sibship, which this walk does not model). Returns the kind of move
// for checkconfiguration, -1 when no proposal was made.
int4 random_proposal(std::mt19937& rng) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto pick = [&](int4 lo, int4 hi) {
    return std::uniform_int_distribution<int4>(lo, hi)(rng);
  };
  const bool two = v.numsex == 2;
  const auto in_known_sibship = [&](int4 o) {
    return v.knownsibship.allocated() && (v.knownsibship(o, 1) != 0 || v.knownsibship(o, 2) != 0);
  };
  const int4 o = pick(1, n);
  if (in_known_sibship(o)) return -1;
  if (two && v.allcandidate > 0 && u(rng) < 0.15) {
    const int4 s = pick(1, 2);
    if (s == 1 && v.haplodiploid == 1 && v.offploid(o) == 1) return -1;
    const int4 f = v.crindivloc(o, s);
    for (int4 m = 1; m <= n; ++m)
      if (v.crindivloc(m, s) == f && known_parent(m, s) > 0) return -1;
    const int4 c = pick(0, v.numcandidate(s));
    if (c == v.inferparent(o, s) || (c > 0 && av.unassignedcnd(c, s) == 0)) return -1;
    ::kinrad::testing_support::build_family_move(o, v.crindivloc(o, 1), v.crindivloc(o, 2));
    for (int4 m = 1; m <= n; ++m)
      if (v.crindivloc(m, s) == f && !haploid_son(m, s)) {
        const int4 k = ++av.numindivparentage(s);
        av.indivparentage(k, s) = m;
        av.inferparentage(k, s, 1) = v.inferparent(m, s);
        av.inferparentage(k, s, 2) = c;
      }
    return 0;
  }
  std::vector<int4> sibs;
  for (int4 m = 1; m <= n; ++m)
    if (m != o && !in_known_sibship(m) && v.crindivloc(m, 1) == v.crindivloc(o, 1) &&
        v.crindivloc(m, 2) == v.crindivloc(o, 2) && u(rng) < 0.3)
      sibs.push_back(m);
  const int4 new1 = v.crnumfamily(1) + 1;
  const int4 new2 = two ? v.crnumfamily(2) + 1 : new1 + 1;
  const int4 own = v.crindivloc(o, 3);
  const double r = u(rng);
  int4 d1 = new1, d2 = new2, cluster = 0;
  if (r < 0.8) {
    // Families of the own cluster (r < 0.5) or of another drawn cluster, or new ones.
    cluster = r < 0.5 || v.crnumfamily(3) < 2 ? own : pick(1, v.crnumfamily(3));
    std::vector<int4> ids1{new1}, ids2{new2};
    for (int4 m = 1; m <= n; ++m)
      if (v.crindivloc(m, 3) == cluster) {
        ids1.push_back(v.crindivloc(m, 1));
        ids2.push_back(v.crindivloc(m, 2));
        if (!two) {
          ids1.push_back(v.crindivloc(m, 2));
          ids2.push_back(v.crindivloc(m, 1));
        }
      }
    d1 = ids1[static_cast<std::size_t>(pick(0, static_cast<int4>(ids1.size()) - 1))];
    d2 = ids2[static_cast<std::size_t>(pick(0, static_cast<int4>(ids2.size()) - 1))];
    // A monogamous sex keeps its mate through the move choice (the validity test leaves
    // monogamy of two sexes to it): the destination is an existing full-sib family or a pair
    // of new parents.
    if (two && v.anymonogamy != 0) {
      std::vector<std::pair<int4, int4>> fams{{new1, new2}};
      for (int4 m = 1; m <= n; ++m)
        if (v.crindivloc(m, 3) == cluster)
          fams.emplace_back(v.crindivloc(m, 1), v.crindivloc(m, 2));
      const auto f = fams[static_cast<std::size_t>(pick(0, static_cast<int4>(fams.size()) - 1))];
      d1 = f.first;
      d2 = f.second;
    }
    if (cluster != own && d1 == new1 && d2 == new2) cluster = 0;
  }
  if (cluster == own && d1 == v.crindivloc(o, 1) && d2 == v.crindivloc(o, 2)) return -1;
  const int4 kind = ::kinrad::testing_support::build_individual_move(
      ::kinrad::testing_support::IndividualMove{o, sibs, d1, d2, cluster});
  if (cluster == 0) av.hostfamily(3) = v.crnumfamily(3) + 1;
  // A move to another cluster: the search lists the members of the destination cluster in
  // list 2 as well (the builder writes only the moving and the staying offspring).
  if (kind == 2)
    for (int4 m = 1; m <= n; ++m) {
      if (v.crindivloc(m, 3) != cluster || m == o ||
          std::find(sibs.begin(), sibs.end(), m) != sibs.end())
        continue;
      const int4 row = ++av.numindiv(2);
      av.indivloc2(row, 1) = v.crindivloc(m, 1);
      av.indivloc2(row, 2) = v.crindivloc(m, 2);
      av.indivloc2(row, 3) = 0;
      av.indivloc2(row, 4) = m;
      av.indivlocidx(++av.numindivlocidx(2), 2) = row;
    }
  // Parents of the proposed families: as they are, or now and then a drawn free candidate
  // for a new family (the parent of an existing family changes only by a family move).
  std::map<std::pair<int4, int4>, int4> chosen;
  if (v.allcandidate > 0 && u(rng) < 0.3) {
    const int4 s = pick(1, 2);
    const int4 dest = s == 1 ? d1 : d2;
    const bool fresh = dest == (s == 1 ? new1 : new2);
    if (v.numcandidate(s) > 0 && fresh) {
      const int4 c = pick(1, v.numcandidate(s));
      if (av.unassignedcnd(c, s) == 1 && v.knownprntq(c, s) == 0) chosen[{s, dest}] = c;
    }
  }
  // One pool: a parent id has one parent in either role; the proposed families keep it.
  if (!two)
    for (int4 s = 1; s <= 2; ++s) {
      const int4 dest = s == 1 ? d1 : d2;
      if (chosen.count({s, dest})) continue;
      for (int4 m = 1; m <= n; ++m)
        for (int4 role = 1; role <= 2; ++role)
          if (v.crindivloc(m, role) == dest && v.inferparent2(m, role) > 0)
            chosen[{s, dest}] = v.inferparent2(m, role);
    }
  propose_parents(chosen);
  // A haploid offspring has no father: the parentage proposal lists none for it.
  int4 kept = 0;
  for (int4 k = 1; k <= av.numindivparentage(1); ++k) {
    if (haploid_son(av.indivparentage(k, 1), 1)) continue;
    ++kept;
    av.indivparentage(kept, 1) = av.indivparentage(k, 1);
    av.inferparentage(kept, 1, 1) = av.inferparentage(k, 1, 1);
    av.inferparentage(kept, 1, 2) = av.inferparentage(k, 1, 2);
  }
  av.numindivparentage(1) = kept;
  return kind;
}

// The proposed configuration written into the state: families of every row, parents of every
// change-list entry.
void apply_proposal() {
  auto& v = variables;
  const auto& av = annealvariables;
  for (const auto& row : proposal_rows()) {
    v.crindivloc(row[0], 1) = row[1];
    v.crindivloc(row[0], 2) = row[2];
  }
  for (int4 s = 1; s <= 2; ++s)
    for (int4 k = 1; k <= av.numindivparentage(s); ++k)
      v.inferparent(av.indivparentage(k, s), s) = av.inferparentage(k, s, 2);
}

struct Tally {
  int configurations = 0, proposals = 0, admitted = 0;
  std::map<int4, int> refused_by;
};

class SoakMatrix : public ::testing::TestWithParam<DataSet> {
 protected:
  TempWorkDir dir_{"soak_matrix"};
  void TearDown() override { reset_all_modules(); }
};

constexpr int kStarts = 3;
constexpr int kProposals = 40;

TEST_P(SoakMatrix, EveryStepPassesTheSelfCheck) {
  const DataSet& d = GetParam();
  Truth truth;
  const ProjectFile p = simulate(d, truth);
  ASSERT_TRUE(testing_support::prepare(p)) << p.text();
  auto& v = variables;
  auto& av = annealvariables;
  v.displayq = 0;
  v.checkmode = 2;
  if (v.fulllikelihoodmethodq == 0) calculatepairprob(1);
  allocate_search_tables();
  std::mt19937 rng(d.seed * 7919u);
  Tally tally;
  int8 step = 0;
  for (int start = 0; start < kStarts; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    random_start(rng);
    if (::testing::Test::HasFatalFailure()) return;
    Caller c = score_state();
    ++tally.configurations;
    ASSERT_EQ(self_check(++step, c), "") << "random configuration";
    // One parent pool scored in full: its clusters close cycles quickly and cost most.
    const int proposals =
        v.numsex == 1 && v.fulllikelihoodmethodq != 0 ? kProposals / 4 : kProposals;
    for (int k = 0; k < proposals; ++k) {
      SCOPED_TRACE("proposal " + std::to_string(k));
      const int4 kind = random_proposal(rng);
      if (kind < 0) continue;
      ++tally.proposals;
      if (av.movingtype <= 1) familybuild0(v.crindivloc(av.moveindiv, 3), 1);
      int4 ok = -1;
      checkconfiguration(ok, 0, kind, 0);
      if (av.equalconfig == 1) {
        const int4 cl = av.hostfamily(3);
        std::swap(av.clustersize(1, cl), av.clustersize(2, cl));
        std::swap(av.clustersize(5, cl), av.clustersize(6, cl));
      }
      if (ok != 1) {
        ++tally.refused_by[av.checkrefusal];
      } else {
        ++tally.admitted;
        const std::string fault = validate_proposal();
        EXPECT_EQ(fault, "") << "an admitted proposal breaks a constraint";
        apply_proposal();
        EXPECT_TRUE(haploid_ok()) << "an admitted proposal breaks the haploid rule";
      }
      av.numindiv(1) = av.numindiv(2) = 0;
      av.numindivparentage(1) = av.numindivparentage(2) = 0;
      c = score_state();
      ASSERT_EQ(self_check(++step, c), "") << "after proposal (admitted " << ok << ")";
    }
  }
  std::string refusals;
  for (const auto& [t, count] : tally.refused_by)
    refusals += " " + std::to_string(t) + ":" + std::to_string(count);
  std::printf("%s: %d configurations, %d proposals, %d admitted; refused by test%s\n", d.name,
              tally.configurations, tally.proposals, tally.admitted, refusals.c_str());
  EXPECT_GT(tally.admitted, 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, SoakMatrix, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<DataSet>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace kinrad::test
