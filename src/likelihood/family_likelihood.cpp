// The family likelihood: the call the configuration model, the search and the pairwise step make
// for every family they score. Families that Mendel rules out are rejected before any per-locus
// work, families of one or two offspring are answered from stored values, and the locus sum
// stops as soon as the caller's bound can no longer be reached.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <string>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/dyad_tables.hpp"
#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"
#include "core/text_utils.hpp"
#include "likelihood/likelihood.hpp"

namespace kinrad {

namespace {

constexpr real8 kImpossible = -1e300;
// A dyad-table entry at or below this is the single-precision -1e38 of an impossible or
// excluded pair.
constexpr real8 kImpossiblePair = -9.9e37;

// The first two offspring of the family in the order of its full-sib families (sex-1 parents
// ascending, then their mates ascending), and the number of full-sib families with offspring.
struct FirstMembers {
  int4 families = 0;
  int4 i = 0;
  int4 j = 0;
};

FirstMembers first_members() {
  const Variables& v = variables;
  FirstMembers r;
  for (int4 p1 = 1; p1 <= v.nparent(1); ++p1)
    for (int4 p2 = 1; p2 <= v.nparent(2); ++p2) {
      const int4 n = v.nchild(p1, p2);
      if (n <= 0) continue;
      ++r.families;
      const FView<int2, 1> list = familystructure(p1, p2);
      if (r.families == 1) {
        r.i = list(1);
        if (n >= 2) r.j = list(2);
      } else if (r.families == 2) {
        r.j = list(1);  // the second family's first member replaces a second full sib
      }
    }
  return r;
}

// Whether offspring k has a known parent from the input or an assigned candidate.
bool has_parent_information(int4 k) {
  const Variables& v = variables;
  if (v.indivparent.allocated() && (v.indivparent(k, 1) > 0 || v.indivparent(k, 2) > 0))
    return true;
  const FView<int4, 2>& a = v.inferparentprt;
  if (a.associated() && k >= a.lbound(1) && k <= a.ubound(1) && (a(k, 1) != 0 || a(k, 2) != 0))
    return true;
  return false;
}

real8 widen_pair(real4 x) {
  const real8 d = x;
  return d <= kImpossiblePair ? kImpossible : d;
}

[[noreturn]] void nonfinite_stop(real8 logl) {
  std::string text = fwrite_string("*", logl);
  const auto first = text.find_first_not_of(' ');
  text = first == std::string::npos ? std::string{} : text.substr(first);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  variables.errmsg(1) = "Error in likelihood calculation, LogL = " + text;
  stoponerror(1, "FamilyLikelihood");
}

// Runs the Mendelian checks in their order; false when one rules the family out.
bool family_passes_checks(int4 checkflag, int4 skipcheck) {
  const Variables& v = variables;
  int4 ok = 1;
  const bool domfree = v.locusdomnoerror.allocated() && v.locusdomnoerror(0) > 0;
  const bool bothknown = v.anyknownprtq(2) != 0 && v.anyknownprtq(3) != 0;
  if (v.alldommarkers != 0) {
    if (bothknown && domfree) genotypecheckpdom(ok);
    return ok == 1;
  }
  if (v.maxobsnumallele >= 3 && v.numfsibship >= 2) {
    selfingcheck(ok);
    if (ok != 1) return false;
  }
  locussort(ok, skipcheck);
  if (ok != 1) return false;
  if (checkflag == 1 && v.locuscodomnoerrorloc(3) > v.locuscodomnoerrorloc(1)) {
    if (v.genotypecheckq != 0) {
      genotypecheck(ok, std::min(2 * v.maxobsnumallele - 3, v.numchild));
      if (ok != 1) return false;
    }
    if (v.anyknownprtq(1) != 0) {
      genotypecheckp(ok, 0);
      if (ok != 1) return false;
    }
  }
  if (bothknown && domfree) genotypecheckpdom(ok);
  return ok == 1;
}

}  // namespace

real8 family_prior_term() {
  const Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 n = v.numchild;
  if (v.priortype == 1) {
    const bool selfing = v.allowinbreeding == v.numsex && v.parentjdx.allocated();
    real8 sum = v.factorial(n);
    for (int4 i = 1; i <= v.numfsibship; ++i) {
      const real8 x = v.factorial(lv.clusterfamilysize(i));
      sum += x;
      if (selfing) {
        const int4 p1 = lv.clusterfamily(1, i);
        // A selfed family counts twice.
        if (p1 >= 1 && p1 <= v.parentjdx.ubound(1) && v.parentjdx(p1, 1) == lv.clusterfamily(2, i))
          sum += x;
      }
    }
    return -0.0625 * sum;
  }
  Familyloglvar& fl = familyloglvar;
  if (fl.priorshapeb < 0.0) {
    fl.priorshapeb = 0.25;
    fl.priorconstc = gammln(2.25) + gammln(1.5) - gammln(1.25) - gammln(0.25);
  }
  const real8 b = fl.priorshapeb;
  return (fl.priorconstc + gammln(n + b) - gammln(n + 2.0 * b + 2.0)) * n * 0.125;
}

void usepairwiselogl(int4& flag, real8& logl, int4 famsize) {
  Variables& v = variables;
  flag = 0;
  if (famsize != 1 && !(famsize == v.numsex && v.allowinbreeding == 0)) return;
  const FirstMembers fm = first_members();
  const int4 i = fm.i;
  const int4 j = famsize == 2 ? fm.j : 0;
  if (i <= 0 || (famsize == 2 && j <= 0)) return;
  if (v.allcandidate >= 1) {
    if (has_parent_information(i)) return;
    if (famsize == 2 && has_parent_information(j)) return;
  }
  if (famsize == 1) {
    if (v.allowinbreeding == 0) {
      logl = v.indivlogl(i);
    } else {
      const bool self = v.numsex == 1 && v.parentjdx.allocated() && v.parentjdx(1, 1) != 0;
      real8& entry = self ? v.inbindivloglself(i) : v.inbindivlogl(i);
      if (entry > 0.1) {
        // The memo keeps the family value without its prior term: the caller adds that once.
        real8 x = 0.0;
        familylikelihood(x, kImpossible, 1, 0, -1);
        entry = x <= kImpossible ? kImpossible : x - family_prior_term();
      }
      logl = entry;
    }
    flag = 1;
    return;
  }
  if (v.updateallelefre == 1 || v.maxobsnumallele != 2 || !prbfspair_allocated()) return;
  const int4 lo = std::min(i, j);
  const int4 hi = std::max(i, j);
  if (fm.families == 1) {
    logl = v.offploid(lo) + v.offploid(hi) == 3 ? widen_pair(prbmhsibpair(lo, hi))
                                                : widen_pair(prbfspair(lo, hi));
  } else if (v.nparent(1) != 1 && v.nparent(2) != 1) {
    logl = v.indivlogl(lo) + v.indivlogl(hi);
  } else if (v.nparent(2) == 1 && v.nparent(1) != 1 && v.haplodiploid == 1) {
    logl = widen_pair(prbmhsibpair(lo, hi));
  } else {
    logl = prbhspair_allocated() ? widen_pair(prbhspair(hi, lo)) : widen_pair(prbfspair(hi, lo));
  }
  flag = 1;
}

void familylikelihood(real8& logl, real8 bound, int4 checkflag, int4 skipcheck, int4 famsize) {
  Variables& v = variables;
  logl = kImpossible;
  if (std::max(v.nparent(1), v.nparent(2)) > 10000) return;
  if (famsize >= 0) {
    int4 status = 0;
    preparevariable(status, v.numberfsfamily, 0, 0);
    if (status != 0) stoponerror(0, "FamilyLikelihood");
  }
  // Posterior-genotype inference leaves a genotype fixed until the next preparation: a caller
  // that prepares nothing must not inherit it.
  assert(famsize >= 0 || likelihoodvar.infergtypesex == 0);
  if (v.anymonogamy == 0 && v.numfsibship > 10000) return;
  const real8 prior = family_prior_term();
  if (famsize == 1 || famsize == 2) {
    int4 flag = 0;
    real8 x = 0.0;
    usepairwiselogl(flag, x, famsize);
    if (flag == 1) {
      logl = x <= kImpossible ? kImpossible : prior + x;
      return;
    }
  }
  if (!family_passes_checks(checkflag, skipcheck)) return;
  if (v.allowinbreeding == v.numsex) selfinggen_est();

  // Loci of more than two alleles first: they reject impossible families soonest.
  real8 s = prior;
  bool stopped = false;
  const int4 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  for (int4 i = 1; i <= n3; ++i) {
    const int4 l = v.locus3(i);
    const int4 k = v.obsnumallele(l);
    real8 x = 0.0;
    familylocuslogl(l, k, v.genotypenum(k), x);
    s += x;
    if (s < bound) {
      stopped = true;
      break;
    }
  }
  if (!stopped && s > bound && v.locus2.allocated() && v.locus2(0) >= 1) {
    const int4 ranges[2][2] = {{v.snploc(3), v.snploc(4)}, {v.snploc(1), v.snploc(2)}};
    for (const auto& r : ranges) {
      for (int4 p = r[0]; p >= 1 && p <= r[1]; ++p) {
        real8 x = 0.0;
        familylocuslogl(v.locus2(p), 2, v.genotypenum(2), x);
        s += x;
        if (s < bound) {
          stopped = true;
          break;
        }
      }
      if (stopped) break;
    }
  }
  logl = s;
  if (std::isnan(logl) || std::fabs(logl) > std::numeric_limits<real8>::max()) nonfinite_stop(logl);
}

}  // namespace kinrad
