// The parentage phase of the pairwise step: for each offspring and parent sex the candidate
// that best explains the offspring as its parent, against the offspring being unrelated to
// every candidate, graded by the simulated DELTA thresholds. Known parents are listed at 100 %
// and checked: one that cannot be the offspring's parent stops the program.
#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "core/replacing_file.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// Log likelihoods above this are credible (impossible -1e300, excluded -1e38).
constexpr real8 credible = -1e37;

std::string parentagefile(int4 s) {
  const Variables& v = variables;
  std::string name = v.fname + (s == 1 ? ".PairwisePaternity" : ".PairwiseMaternity");
  if (v.numthreads > 1) name += itoc(v.threadid);
  return std::string(trim(name));
}

// Allele pair of offspring i (sex 0) or of candidate c of sex s at a locus; (0, 0) untyped.
std::array<int4, 2> allelepair(int4 sex, int4 i, int4 l) {
  const Variables& v = variables;
  int2 g = 0;
  if (sex == 0) {
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    getgtype(g, i, v.obsnumallele(l));
  } else {
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    getgtype(g, (sex == 2 ? v.numcandidate(1) : 0) + i, v.obsnumallele(l));
  }
  return {v.genotypeid(1, g), v.genotypeid(2, g)};
}

// The known parent of sex s of offspring x is the family's only possible parent of that sex;
// a mismatch with the genotypes at an error-free locus stops the program with the loci that
// may be at fault.
[[noreturn]] void knownparentmismatch(int4 x, int4 s) {
  const Variables& v = variables;
  const int4 col = std::min(v.numsex, s);
  std::string loci;
  if (v.locuscodomnoerror.allocated()) {
    for (int4 k = v.locuscodomnoerrorloc(1) + 1; k <= v.locuscodomnoerrorloc(3); ++k) {
      if (!loci.empty()) loci += ',';
      loci += trim_both(v.markerid(v.locuscodomnoerror(k)).view());
    }
  }
  set_error_line(2, loci + "!");
  set_error_line(1, error_line("Offspring ", v.offspringid(x), " & known parent ",
                               v.cndparentid(v.indivparent(x, s), col),
                               " have mismatched genotypes, possibly at loci: ",
                               std::string(trim(v.errmsg(2).view()))));
  set_error_line(2, "To run the program, you have to:");
  set_error_line(3, "  1. Check and correct the known relationship, or");
  set_error_line(4, "  2. Allow for genotyping errors (false alleles) in data");
  set_error_line(5, "Program stops!");
  stoponerror(1, "PairwiseInference");
}

}  // namespace

int4 parentagelevel(real8 delta, std::span<const real8, 10> t) {
  if (delta < t[9]) return 0;
  if (delta >= t[0]) return 1;
  for (int4 l = 9; l >= 1; --l)
    if (t[static_cast<std::size_t>(l - 1)] > delta) return l + 1;
  return 1;
}

ParentageCounts parentagecounts(int4 i, int4 s, int4 c) {
  const Variables& v = variables;
  const int4 col = std::min(v.numsex, s);
  ParentageCounts n;
  for (int4 l = 1; l <= v.numloci; ++l) {
    if (v.obsnumallele(l) <= 1) continue;
    const std::array<int4, 2> a = allelepair(0, i, l);
    const std::array<int4, 2> b = allelepair(col, c, l);
    const bool ta = a[0] > 0;
    const bool tb = b[0] > 0;
    if (ta) ++n.offgtype;
    if (tb) ++n.prntgtype;
    if (!(ta && tb)) continue;
    ++n.pairgtype;
    // A dominant phenotype never excludes a single parent: the other parent can give the band.
    if (v.dominantmarker(l) != 0) continue;
    if (a[0] != b[0] && a[0] != b[1] && a[1] != b[0] && a[1] != b[1]) ++n.excloci;
  }
  return n;
}

void pairwise_parentage(std::span<const real8> singlelogl, real8& sumpo, real8& weightpo) {
  Variables& v = variables;
  const Simuvariables& sv = simuvariables;
  const int4 n = v.smplsize;
  auto single = [&](int4 x) { return singlelogl[static_cast<std::size_t>(x - 1)]; };
  const bool display = v.displayq != 0 && v.threadid == 0;

  bool own = false;
  if (v.allcandidate > 0) {
    singleparentlikelihood(0.0);
    own = !(v.pairwiseoptionq != 0 && prbpopair_allocated());
    if (own) {
      if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
      setfamilystruc(n, 2);
      // The vectors of both sexes side by side, fathers' candidates first, as the dyad tables
      // keep them; a sex that is not scored keeps zeros.
      if (prbpopair_allocated() ||
          !v.prbpopairtgt.try_allocate(Dim(v.numcandidate(1) + v.numcandidate(2)), Dim(n)))
        stoponerror(0, "PairwiseInference");
      const std::array<real8, 9> delta{0, 0, 0, 0, 0, 0, 0, 1, 0};
      for (int4 s = 1; s <= v.numsex; ++s) {
        if (v.numcandidate(s) < 1) continue;
        if (display) {
          fwrite(std::cout, "(A)", "");
          fwrite(std::cout, "(A)",
                 std::string("Calculating ") + (s == 1 ? "fa" : "mo") +
                     "ther-offspring dyad likelihood...");
        }
        const int4 keep = v.parallelq;
        v.parallelq = v.numthreads > 1 ? 1 : 0;
        compute_dyad_locus2_logl(display ? 1 : 0, 6 + s, delta, v.ploidy(s));
        v.parallelq = keep;
      }
    }
  }

  const bool known = v.indivparent.allocated();
  auto knownparent = [&](int4 x, int4 s) { return known ? v.indivparent(x, s) : 0; };
  std::vector<int1> flag(
      static_cast<std::size_t>(std::max({v.numcandidate(1), v.numcandidate(2), 1})) + 1, 0);
  std::string out;

  for (int4 s = 1; s <= 2; ++s) {
    const std::string name = parentagefile(s);
    ReplacingFile file(name, WriteFailure{.routine = "PairwiseInference",
                                          .open_prefix = "Invalid file path & name: "});
    if (v.numcandidate(s) < 1) {
      // No candidates of this sex: no file, and none left from an earlier run.
      opendeletefile(name);
      continue;
    }
    out.clear();
    if (v.threadid == 0)
      out = "OffspringID,CandidateID,Confidence,#OffGtype,#PrntGtype,#PairGtype,#ExcLoci\n";
    const int4 nc = v.numcandidate(s);
    const int4 column = v.numsex == 2 ? s : 1;
    const int4 other = 3 - s;
    int4 spinner = 0;

    for (int4 i = 1; i <= n; ++i) {
      if (s == 1 && v.offploid(i) == 1) continue;
      int4 chosen = 0;
      int4 level = 0;
      if (knownparent(i, s) < 1) {
        const bool withother = knownparent(i, other) > 0;
        if (v.inferparent.allocated()) {
          v.inferparent(i, 1) = 0;
          v.inferparent(i, 2) = 0;
        }
        const real8 l0 = withother ? trialfamily(Trial::alone, i, i, i, -1e300, s, 0) : single(i);

        const Excludedlist* ex = nullptr;
        if (v.excludedparent.allocated() && v.excludedparent(i, s).count != 0) {
          ex = &v.excludedparent(i, s);
          const int4 m = std::abs(ex->count);
          const int1 listed = ex->count > 0 ? 1 : 0;
          for (int4 c = 1; c <= nc; ++c) flag[static_cast<std::size_t>(c)] = 1 - listed;
          for (int4 k = 1; k <= m; ++k) {
            const int4 c = ex->list(k);
            if (c >= 1 && c <= nc) flag[static_cast<std::size_t>(c)] = listed;
          }
        }
        const int4 self = v.offspringincnd.allocated() ? v.offspringincnd(i, s) : 0;
        const std::span<real4> po = prbpopair_row(i, column);

        real8 b1 = 0.0, b2 = 0.0, b3 = 0.0;
        int4 best = 0, second = 0;
        for (int4 c = 1; c <= nc; ++c) {
          if (display) writeprogress(spinner, 10000);
          if (ex != nullptr && flag[static_cast<std::size_t>(c)] != 0) continue;
          if (c == self) continue;
          const real8 lpo = withother ? trialfamily(Trial::alone, i, i, i, -1e38, s, c)
                                      : static_cast<real8>(po[static_cast<std::size_t>(c - 1)]);
          const real8 lc = v.candidatelogl(c, s);
          if (lpo > credible) {
            weightpo += 1.0;
            sumpo += std::fabs(lpo - single(i) - lc);
          }
          const real8 d = lpo - (lc + l0);
          if (d > b1) {
            b3 = b2;
            b2 = b1;
            b1 = d;
            second = best;
            best = c;
          } else if (d > b2) {
            b3 = b2;
            b2 = d;
            second = c;
          } else if (d > b3) {
            b3 = d;
          }
        }
        if (ex != nullptr)
          for (int4 c = 1; c <= nc; ++c) flag[static_cast<std::size_t>(c)] = 0;

        // One parent pool: the best and the second best may be the two parents.
        real8 delta = 0.0;
        if (v.numsex == 1) {
          if (s == 2 && knownparent(i, 1) < 1) {
            chosen = second;
            delta = b2 - b3;
          } else {
            chosen = best;
            delta = b1 - b3;
          }
        } else {
          chosen = best;
          delta = b1 - b2;
        }
        if (v.inferparent.allocated()) v.inferparent(i, s) = 0;
        const FArray<real8, 2>& table =
            withother ? sv.threshold2 : (v.offploid(i) == 2 ? sv.threshold : sv.thresholdh);
        std::array<real8, 10> t{};
        if (table.allocated())
          for (int4 l = 1; l <= 10; ++l) t[static_cast<std::size_t>(l - 1)] = table(s, l);
        level = parentagelevel(delta, t);
        if (level == 0) chosen = 0;
      } else {
        const real8 l = trialfamily(Trial::alone, i, i, i, -1e300);
        if (l <= static_cast<real8>(-1e38f)) knownparentmismatch(i, s);
        chosen = knownparent(i, s);
        level = 0;
      }
      if (chosen < 1) continue;
      const ParentageCounts k = parentagecounts(i, s, chosen);
      out += trim(v.offspringid(i).view());
      out += ',';
      out += trim_both(v.cndparentid(chosen, std::min(v.numsex, s)).view());
      out += ',';
      out += itoc(100 - 5 * level);
      out += "%,";
      out += itoc(k.offgtype) + ',' + itoc(k.prntgtype) + ',' + itoc(k.pairgtype) + ',' +
             itoc(k.excloci);
      out += '\n';
      file.put(out);
      out.clear();
    }
    file.put(out);
    file.commit();
    if (display && spinner > 9999) fwrite(std::cout, "(A)", "  ");
  }
  // Both sexes' vectors share one block, released after the second sex (which in one parent
  // pool reads the first sex's vectors).
  if (own) v.prbpopairtgt.deallocate();
}

}  // namespace kinrad
