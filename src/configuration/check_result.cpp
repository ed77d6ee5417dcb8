// The self-check of the search state: everything the search keeps incrementally is recomputed
// from the configuration and compared; the first disagreement stops the program with a
// diagnostic and a short stop code. Nothing of the configuration is changed.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "configuration/pairwise_score_internal.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

// The diagnostic in the making: written to standard output and kept for the error file.
class Diagnostic {
 public:
  explicit Diagnostic(int8 iterate) : iterate_(iterate) {
    // The dataset line: the text in a 99-character field, shown without trailing blanks.
    header_ = FString<99>("Error in running dataset: " + variables.fname + ".").trimmed();
  }

  template <class... A>
  void line(std::string_view fmt, const A&... items) {
    text_ += fwrite_string(fmt, items...);
    text_ += '\n';
  }
  // The blank record, the dataset line and the test's message with the iteration.
  void head(std::string_view message) { line("(/A/A, I10)", header_, message, iterate_); }
  // The same without the iteration, in the form the test gives.
  template <class... A>
  void head_plain(std::string_view fmt, const A&... items) {
    text_ += '\n';
    line(fmt, header_, items...);
  }

  [[noreturn]] void stop(std::string_view code) {
    std::cout << text_;
    std::cout.flush();
    stop_self_check(code, std::move(text_));
  }

 private:
  int8 iterate_;
  std::string header_;
  std::string text_;
};

int4 column_top(const FArray<int4, 2>& loc, int4 c0, int4 c1) {
  int4 top = 0;
  for (int4 c = c0; c <= c1; ++c)
    for (int4 i = 1; i <= variables.smplsize; ++i) top = std::max(top, loc(i, c));
  return top;
}

template <class T>
bool all_zero(const FArray<T, 1>& a) {
  if (!a.allocated()) return true;
  for (index_t i = a.lbound(1); i <= a.ubound(1); ++i)
    if (a(i) != 0) return false;
  return true;
}

int4 known_parent(int4 i, int4 s) {
  const auto& v = variables;
  return v.indivparent.allocated() ? v.indivparent(i, s) : 0;
}

// "#3": haploid offspring without a diploid full sib must form families of their own in each
// sex: no two such groups share a family, and none shares one with diploid offspring.
bool haploid_groups_ok() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  std::vector<std::pair<int4, int4>> hap, dip;
  for (int4 i = 1; i <= n; ++i) {
    const std::pair<int4, int4> key{v.crindivloc(i, 1), v.crindivloc(i, 2)};
    (v.offploid(i) == 1 ? hap : dip).push_back(key);
  }
  for (auto* g : {&hap, &dip}) {
    std::sort(g->begin(), g->end());
    g->erase(std::unique(g->begin(), g->end()), g->end());
  }
  std::vector<std::pair<int4, int4>> lone;
  for (const auto& h : hap)
    if (!std::binary_search(dip.begin(), dip.end(), h)) lone.push_back(h);
  for (int4 s = 1; s <= 2; ++s) {
    auto id = [s](const std::pair<int4, int4>& p) { return s == 1 ? p.first : p.second; };
    std::vector<int4> a, b;
    for (const auto& h : lone) a.push_back(id(h));
    for (const auto& d : dip) b.push_back(id(d));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (std::adjacent_find(a.begin(), a.end()) != a.end()) return false;
    for (int4 x : a)
      if (std::binary_search(b.begin(), b.end(), x)) return false;
  }
  return true;
}

// #00: the scratch marks every routine must leave clear.
void check_scratch_marks(Diagnostic& d) {
  auto& av = annealvariables;
  {
    int4 k = 0;
    if (!all_zero(av.selectedprntidxq1))
      k = 1;
    else if (!all_zero(av.selectedprntidxq2))
      k = 2;
    else if (!all_zero(av.selectedprntidxq3))
      k = 3;
    if (k != 0) {
      d.head_plain("(A/A, I1, A)", "SelectedPrntIdxQ", k, "(:) <> 0");
      d.stop("#00");
    }
  }
}

// #01: the combined parent column agrees with the assigned and the known parents.
void check_combined_parent_column(Diagnostic& d) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    for (int4 i = 1; i <= n; ++i) {
      const int4 a = v.inferparent(i, s), k = known_parent(i, s), c = v.inferparent2(i, s);
      const bool bad = (a > 0 && c != a) || (k >= 1 && c != k) ||
                       (s == 1 && v.offploid.allocated() && v.offploid(i) == 1 && c != 0);
      if (bad) {
        d.head("Error in InferParent2, iterate");
        d.line("(6I6)", s, i, a, k, c);
        d.stop("#01");
      }
    }
  }
}

// #1: family ids are dense after an accepted move.
void check_dense_ids_after_move(Diagnostic& d, bool accepted) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  const bool pool = variables.numsex == 1;
  if (accepted) {
    for (int4 s = 1; s <= v.numsex; ++s) {
      const int4 top = v.crnumfamily(s);
      std::vector<unsigned char> used(static_cast<std::size_t>(std::max(top, 0)) + 1, 0);
      for (int4 c = s; c <= (pool ? 2 : s); ++c)
        for (int4 i = 1; i <= n; ++i) {
          const int4 id = v.crindivloc(i, c);
          if (id >= 1 && id <= top) used[static_cast<std::size_t>(id)] = 1;
        }
      for (int4 id = 1; id <= top; ++id)
        if (used[static_cast<std::size_t>(id)] == 0) {
          d.head("Config parental index error, iterate");
          d.stop("#1");
        }
    }
  }
}

// #2: a family of a monogamous sex meets one family of the other sex.
void check_monogamous_sexes(Diagnostic& d) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.monogamy(s) != 1) continue;
    const int4 o = 3 - s;
    std::vector<int4> mate(static_cast<std::size_t>(column_top(v.crindivloc, s, s)) + 1, 0);
    for (int4 i = 1; i <= n; ++i) {
      const int4 a = v.crindivloc(i, s), b = v.crindivloc(i, o);
      if (v.numsex == v.allowinbreeding && a == b) continue;
      int4& m = mate[static_cast<std::size_t>(std::max(a, 0))];
      if (m == 0) m = b;
      if (m != b) {
        d.head("MonoGamous indiv has multiple mating, iterate");
        d.stop("#2");
      }
    }
  }
}

// #4: no selfing where the species cannot self.
void check_no_selfing(Diagnostic& d) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  const bool pool = variables.numsex == 1;
  if (pool && v.allowinbreeding == 0)
    for (int4 i = 1; i <= n; ++i)
      if (v.crindivloc(i, 1) == v.crindivloc(i, 2)) {
        d.head("Error in selfer at iterate");
        d.stop("#4");
      }
}

// #5, #6: the sibship-size distribution of the Ewens prior.
void check_sibship_size_distribution(Diagnostic& d, bool accepted) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  const bool pool = variables.numsex == 1;
  if (v.priortype == 1 && accepted) {
    for (int4 s = 1; s <= v.numsex; ++s) {
      const int4 top = column_top(v.crindivloc, s, pool ? 2 : s);
      std::vector<int4> size(static_cast<std::size_t>(top) + 1, 0);
      for (int4 c = s; c <= (pool ? 2 : s); ++c)
        for (int4 i = 1; i <= n; ++i) ++size[static_cast<std::size_t>(v.crindivloc(i, c))];
      const int4 largest = *std::max_element(size.begin(), size.end());
      std::vector<int4> dist(static_cast<std::size_t>(largest) + 1, 0);
      for (int4 id = 1; id <= top; ++id)
        ++dist[static_cast<std::size_t>(size[static_cast<std::size_t>(id)])];
      const auto& stored = v.sibshipsizedist;
      for (int4 k = 1; k <= largest; ++k) {
        const int4 have = k <= stored.ubound(1) ? stored(k, s) : 0;
        if (dist[static_cast<std::size_t>(k)] != have) {
          d.head("Error in sib size distribution at iterate");
          d.line("(4A15)", "Sex", "SibSize", "Count(True)", "Count(Crrt)");
          d.line("(4I15)", s, k, dist[static_cast<std::size_t>(k)], have);
          d.stop("#5");
        }
      }
      // Every offspring is counted once in each column of its sex.
      const int4 expected = (pool ? 2 : 1) * n;
      int8 sum = 0;
      for (index_t k = std::max<index_t>(1, stored.lbound(1)); k <= stored.ubound(1); ++k)
        sum += k * static_cast<int8>(stored(k, s));
      if (sum != expected) {
        d.head("Error in sib size distribution at iterate");
        d.line("(3A15/3I15)", "Sex", "SumSibSize", "SmplSize", s, static_cast<int4>(sum), expected);
        d.line("(A)", "Sibsize distribution (1~)");
        d.line("(20I6)", std::span<const int4>(dist.data() + 1, static_cast<std::size_t>(largest)));
        d.stop("#6");
      }
    }
  }
}

// #7, #8: known sibships (positive numbers) and the offspring of one known parent (negative
// numbers) stay within one family of the sex.
void check_known_sibships(Diagnostic& d, bool accepted) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 pass = 7; pass <= 8 && accepted; ++pass) {
    for (int4 s = 1; s <= 2; ++s) {
      if (pass == 7 && v.anyknownsibshipq(s) != 1) continue;
      if (pass == 8 && v.numknownprnt(s) <= 0) continue;
      if (!v.knownsibship.allocated() || s > v.knownsibship.ubound(2)) continue;
      std::vector<std::pair<int4, int4>> seen;  // (sibship number, family id)
      for (int4 i = 1; i <= n; ++i) {
        const int4 k = v.knownsibship(i, s);
        if ((pass == 7 && k <= 0) || (pass == 8 && k >= 0)) continue;
        seen.emplace_back(k, v.crindivloc(i, s));
      }
      std::sort(seen.begin(), seen.end());
      for (std::size_t j = 1; j < seen.size(); ++j)
        if (seen[j].first == seen[j - 1].first && seen[j].second != seen[j - 1].second) {
          d.head_plain("(A/A)", "SibShip split error!");
          d.stop(pass == 7 ? "#7" : "#8");
        }
    }
  }
}

// #9: one parent per family, one family per sampled parent.
void check_one_parent_per_family(Diagnostic& d) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    const int4 top = column_top(v.crindivloc, s, s);
    std::vector<int4> parent(static_cast<std::size_t>(top) + 1, -1);
    std::vector<int4> family(static_cast<std::size_t>(v.numcandidate(s)) + 1, 0);
    bool bad = false;
    for (int4 i = 1; i <= n && !bad; ++i) {
      if (s == 1 && v.haplodiploid == 1 && v.offploid(i) == 1) continue;
      const int4 f = v.crindivloc(i, s), p = v.inferparent2(i, s);
      int4& q = parent[static_cast<std::size_t>(f)];
      if (q == -1) q = p;
      if (q != p) bad = true;
      if (p > 0 && p <= v.numcandidate(s)) {
        int4& g = family[static_cast<std::size_t>(p)];
        if (g == 0) g = f;
        if (g != f) bad = true;
      }
    }
    if (bad) {
      d.head("Parentage assigned error at iterate");
      d.stop("#9");
    }
  }
}

// #11: a known parent is never also an assigned one.
void check_known_parents_kept(Diagnostic& d) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    for (int4 i = 1; i <= n; ++i)
      if (v.inferparent(i, s) > 0 && known_parent(i, s) > 0) {
        d.head("Known parent is reassigned at iterate");
        d.line("(2(A, I6))", "Error in assignment Parent", i, " of Sex", s);
        d.stop("#11");
      }
  }
}

// #12: the unassigned-candidate marks.
void check_unassigned_marks(Diagnostic& d) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    std::vector<unsigned char> used(static_cast<std::size_t>(v.numcandidate(s)) + 1, 0);
    for (int4 i = 1; i <= n; ++i) {
      const int4 p = v.inferparent(i, s);
      if (p > 0 && p <= v.numcandidate(s)) used[static_cast<std::size_t>(p)] = 1;
    }
    for (int4 c = 1; c <= v.numcandidate(s); ++c) {
      if (v.knownprntq.allocated() && v.knownprntq(c, s) > 0) continue;
      const bool unassigned = used[static_cast<std::size_t>(c)] == 0;
      if (unassigned != (av.unassignedcnd(c, s) == 1)) {
        d.head("Error in #assigned parents at iterate");
        d.line("(2(A, I6))", "Error in assignment Parent", c, " of Sex", s);
        d.stop("#12");
      }
    }
  }
}

// #13: the caller's assignment counts.
void check_assignment_counts(Diagnostic& d, const FStatic<int4, 1, 4>& numassign) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) <= 0) continue;
    std::vector<unsigned char> used(static_cast<std::size_t>(v.numcandidate(s)) + 1, 0);
    int4 parents = 0, offspring = 0;
    for (int4 i = 1; i <= n; ++i) {
      const int4 p = v.inferparent(i, s);
      if (p <= 0 || p > v.numcandidate(s)) continue;
      ++offspring;
      if (used[static_cast<std::size_t>(p)] == 0) ++parents;
      used[static_cast<std::size_t>(p)] = 1;
    }
    if (parents != numassign(s) || offspring != numassign(2 + s)) {
      d.head("Error in #assigned parents at iterate");
      d.line("(5A20)", "Sex", "#AssignedPrnt(True)", "#AssignedPrnt(Crrt)", "#AssignedOff(True)",
             "#AssignedOff(Crrt)");
      d.line("(3I20)", s, parents, numassign(s), offspring, numassign(2 + s));
      d.stop("#13");
    }
  }
}

// #14, #15: the caller's family counts, and dense family ids.
void check_family_counts(Diagnostic& d, const FStatic<int4, 1, 2>& newnumfamily) {
  auto& v = variables;
  const int4 n = variables.smplsize;
  const bool pool = variables.numsex == 1;
  for (int4 s = 1; s <= v.numsex; ++s) {
    const int4 last = pool ? 2 : s;
    const int4 top = column_top(v.crindivloc, s, last);
    if (top != newnumfamily(s)) {
      d.head("Error in #NewNumFamily at iterate");
      d.line("(4A20)", "Sex", "NewNumFamily(True)", "NewNumFamily(Crrt)");
      d.line("(3I20)", s, top, newnumfamily(s));
      d.stop("#14");
    }
    std::vector<unsigned char> used(static_cast<std::size_t>(top) + 1, 0);
    for (int4 c = s; c <= last; ++c)
      for (int4 i = 1; i <= n; ++i)
        used[static_cast<std::size_t>(std::max(v.crindivloc(i, c), 0))] = 1;
    for (int4 id = 1; id <= top; ++id)
      if (used[static_cast<std::size_t>(id)] == 0) {
        d.head("Error in familyID at iterate");
        d.stop("#15");
      }
  }
}

// #16, #17: the configuration prior (its sibship tally put back afterwards) and the total score
// recomputed from scratch.
void check_prior_and_score(Diagnostic& d, const FStatic<int4, 1, 2>& nsib,
                           const FStatic<int4, 1, 2>& newnumfamily, real8 prior, real8 parentlogl) {
  auto& v = variables;
  WindowScope loc(v.indivlocprt, v.crindivloc.view());
  WindowScope par(v.inferparentprt, v.inferparent.view());
  FStatic<int4, 1, 4> count{};
  real8 truth = 0.0;
  {
    auto dist = v.sibshipsizedist.copy();
    configurationprior(count, truth, nsib, newnumfamily);
    v.sibshipsizedist = std::move(dist);
  }
  if (std::abs(truth - prior) > 1e-5) {
    loc.restore();
    par.restore();
    d.head("Error in Prior at iterate");
    d.line("(2A15/2ES15.5)", "Prior(True)", "Prior(Crrt)", truth, prior);
    d.stop("#16");
  }

  // #17: the total score recomputed from scratch.
  if (v.checkmode > 1) {
    const bool full = v.fulllikelihoodmethodq != 0;
    const int4 nclust = column_top(v.crindivloc, 3, 3);
    std::vector<real8> logl(static_cast<std::size_t>(std::max(nclust, 1)), 0.0);
    real8 cand = 0.0, total = prior;
    if (full) {
      updatefamilylogl(logl.data(), nclust);
      computeparentlogl(cand);
      total += cand;
      for (int4 c = 1; c <= nclust; ++c) total += logl[static_cast<std::size_t>(c - 1)];
    } else {
      total += pairwise_configuration_score();
    }
    loc.restore();
    par.restore();
    if (std::abs(total - v.crloglikelihood) > 1e-5 * std::abs(total)) {
      d.head("Error in LogL at iterate");
      d.line("(4A25)", "CrLogLikelihood(True)", "CrLogLikelihood(Crrt)");
      d.line("(2ES25.5)", total, v.crloglikelihood);
      if (full) {
        for (int4 c = 1; c <= nclust; ++c) {
          // Per-cluster scores are kept by cluster id.
          const real8 now = logl[static_cast<std::size_t>(c - 1)];
          const real8 kept = v.crfamilylogl(c);
          if (std::abs(now - kept) > 1e-5 * std::abs(now)) d.line("(I4, 2ES15.5)", c, now, kept);
        }
        if (std::abs(parentlogl - cand) > 1e-5 * std::abs(cand))
          d.line("(A,2ES25.5)", "ParentLogL(Old/New):", parentlogl, cand);
      }
      d.stop("#17");
    }
  }
}

}  // namespace

void checkresult(int8 iterate, const FStatic<int4, 1, 4>& numassign,
                 const FStatic<int4, 1, 2>& nsib, const FStatic<int4, 1, 2>& newnumfamily,
                 real8 prior, real8 parentlogl, int4 acceptq) {
  const Variables& v = variables;
  const bool accepted = acceptq == 1;
  Diagnostic d(iterate);
  check_scratch_marks(d);
  check_combined_parent_column(d);
  check_dense_ids_after_move(d, accepted);
  check_monogamous_sexes(d);
  // #3: haploid offspring without a diploid full sib form families of their own.
  if (v.smplsizedh(1) >= 1 && accepted && !haploid_groups_ok()) {
    d.head("Haploid sib config error, iterate");
    d.stop("#3");
  }
  check_no_selfing(d);
  check_sibship_size_distribution(d, accepted);
  check_known_sibships(d, accepted);
  check_one_parent_per_family(d);
  check_known_parents_kept(d);
  check_unassigned_marks(d);
  check_assignment_counts(d, numassign);
  if (!accepted) return;
  check_family_counts(d, newnumfamily);
  check_prior_and_score(d, nsib, newnumfamily, prior, parentlogl);
}

}  // namespace kinrad
