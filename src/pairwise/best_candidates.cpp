// The short lists of best candidate parents that the search draws parent proposals from, for
// a sex with more than nine candidates: each offspring's five candidates that explain its
// genotypes best as its parent, relative to the candidate being unrelated. The lists are kept
// in a text cache so that an analysis of unchanged data reads them back instead.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/variables_routines.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// First slot of each sex in the lists: fathers 1..5, mothers 6..10.
int4 slotbase(int4 s) {
  return s == 1 ? 1 : 6;
}

bool qualifies(int4 s) {
  return variables.numcandidate(s) > 9;
}

}  // namespace

void appendbestcndrecord(std::string& out, int4 i, int4 s) {
  const Variables& v = variables;
  const int4 k = v.numbestcnd(i, s);
  if (k == 0) {
    out += fwrite_string("(I1)", 0);
    out += '\n';
    return;
  }
  out += fwrite_string("(I1, A1)", k, ",");
  const int4 base = slotbase(s);
  for (int4 m = 1; m <= k; ++m) {
    out += itoc(v.bestcnd(i, base + m - 1));
    out += ',';
    // The fifth slot is always the last, whose cumulative value is the draw's sure end.
    out += m <= 4 ? rtoc(v.prbbestcnd(i, base + m - 1), "(ES18.10)") : rtoc(1.0, "(F4.1)");
    out += ',';
  }
  out += rtoc(v.prbbestcnd1(i, s), "(ES18.10)");
  out += '\n';
}

void getbestcnd(const std::string& file, int4& ok) {
  Variables& v = variables;
  ok = 0;
  RecordReader in;
  if (!in.open(std::string(trim(file)))) return;
  std::string line;
  for (int4 s = 1; s <= 2; ++s) {
    if (!qualifies(s)) continue;
    const int4 base = slotbase(s);
    for (int4 i = 1; i <= v.smplsize; ++i) {
      if (in.read_line(line) != IoStatus::ok) return;
      // Each record is read within its own line, and nothing in it is trusted: a damaged
      // cache is recomputed, never half used.
      int4 k = -1;
      if (read_list_string(line, k) != IoStatus::ok || k < 0 || k > 5) return;
      v.numbestcnd(i, s) = static_cast<int1>(k);
      if (k == 0) continue;
      std::array<int4, 5> cand{};
      std::array<real8, 5> cum{};
      real4 p1 = 0.0f;
      int4 k2 = 0;
      IoStatus st = IoStatus::ok;
      switch (k) {
        case 1:
          st = read_list_string(line, k2, cand[0], cum[0], p1);
          break;
        case 2:
          st = read_list_string(line, k2, cand[0], cum[0], cand[1], cum[1], p1);
          break;
        case 3:
          st = read_list_string(line, k2, cand[0], cum[0], cand[1], cum[1], cand[2], cum[2], p1);
          break;
        case 4:
          st = read_list_string(line, k2, cand[0], cum[0], cand[1], cum[1], cand[2], cum[2],
                                cand[3], cum[3], p1);
          break;
        default:
          st = read_list_string(line, k2, cand[0], cum[0], cand[1], cum[1], cand[2], cum[2],
                                cand[3], cum[3], cand[4], cum[4], p1);
          break;
      }
      if (st != IoStatus::ok) return;
      if (!std::isfinite(p1)) return;
      real8 last = -1.0;
      for (int4 m = 0; m < k; ++m) {
        if (cand[m] < 1 || cand[m] > v.numcandidate(s)) return;
        if (!std::isfinite(cum[m]) || cum[m] < last) return;
        last = cum[m];
        v.bestcnd(i, base + m) = static_cast<int2>(cand[m]);
        v.prbbestcnd(i, base + m) = cum[m];
      }
      v.prbbestcnd1(i, s) = p1;
    }
  }
  ok = 1;
}

void rankbestcnd(int4 i, int4 s, std::span<const real4> score) {
  Variables& v = variables;
  const int4 nc = static_cast<int4>(score.size());
  const int4 base = slotbase(s);
  v.numbestcnd(i, s) = 0;
  real4 best = score[0];
  for (int4 c = 2; c <= nc; ++c) best = std::max(best, score[c - 1]);
  if (best <= impossible_pair) return;

  real8 total = 0.0;
  std::array<real4, 5> w{};
  std::array<int4, 5> who{};
  for (int4 c = 1; c <= nc; ++c) {
    const real4 x = score[c - 1] - best;
    if (x <= impossible_pair) continue;
    const real4 wc = std::exp(x);
    total += wc;
    if (!(wc > w[4])) continue;
    // An equal weight goes after the listed one: the lower candidate ranks first.
    int4 at = 0;
    while (!(w[at] < wc)) ++at;
    for (int4 m = 4; m > at; --m) {
      w[m] = w[m - 1];
      who[m] = who[m - 1];
    }
    w[at] = wc;
    who[at] = c;
  }
  real8 s5 = 0.0;
  for (const real4 x : w) s5 += x;
  if (v.numsex == 1 && w[0] / s5 > 0.5 && w[1] > 0.01f * w[0]) {
    // Both parents come from the one pool: a dominant first candidate shares its weight
    // with a credible second.
    const real4 shared = (w[0] + w[1]) / 2.0f;
    w[0] = shared;
    w[1] = shared;
  }
  real8 cum = 0.0;
  for (int4 k = 1; k <= 5; ++k) {
    if (w[k - 1] / s5 < 1e-8) break;
    cum += w[k - 1];
    v.bestcnd(i, base + k - 1) = static_cast<int2>(who[k - 1]);
    v.prbbestcnd(i, base + k - 1) = cum / s5;
    v.numbestcnd(i, s) = static_cast<int1>(k);
  }
  // Above 1, so that a uniform draw always finds a slot.
  v.prbbestcnd(i, base + v.numbestcnd(i, s) - 1) = 1.00000001;
  v.prbbestcnd1(i, s) = static_cast<real4>(0.5 * s5 / total);
}

void setgetbestcnd() {
  Variables& v = variables;
  if (std::max(v.numcandidate(1), v.numcandidate(2)) <= 9) return;
  const int4 n = v.smplsize;
  // Slots 1..10 whatever sex qualifies, as the search expects; only the slots of a sex with
  // more than nine candidates are ever filled or read.
  v.bestcnd.allocate(Dim(n), Dim(10));
  v.prbbestcnd.allocate(Dim(n), Dim(10));
  v.numbestcnd.allocate(Dim(n), Dim(2));
  v.prbbestcnd1.allocate(Dim(n), Dim(2));

  const std::string file = v.fname + ".BestPrntCND";
  if (std::filesystem::exists(file)) {
    int4 ok = 0;
    getbestcnd(file, ok);
    if (ok == 1) return;
    // What a damaged cache left behind is not mixed into the new lists.
    v.bestcnd.fill(0);
    v.prbbestcnd.fill(0.0);
    v.numbestcnd.fill(0);
    v.prbbestcnd1.fill(0.0f);
  }

  singleparentlikelihood(0.0);

  const bool own = !(v.pairwiseoptionq != 0 && prbpopair_allocated());
  if (own) {
    if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
    if (v.inferparent.allocated()) {
      v.inferparent.fill(0);
      v.inferparentprt = v.inferparent.view();
    }
    // The vectors of both sexes side by side, fathers' candidates first, as the dyad tables
    // keep them.
    if (prbpopair_allocated() ||
        !v.prbpopairtgt.try_allocate(Dim(v.numcandidate(1) + v.numcandidate(2)), Dim(n)))
      stoponerror(0, "SetGetBestCnd");
  }

  const bool display = v.displayq != 0 && v.threadid == 0;
  std::string out;
  std::vector<real4> score(
      static_cast<std::size_t>(std::max(v.numcandidate(1), v.numcandidate(2))));
  for (int4 s = 1; s <= 2; ++s) {
    if (!qualifies(s)) continue;
    const int4 nc = v.numcandidate(s);
    if (own) {
      const int4 offset = s == 1 ? 0 : v.numcandidate(1);
      for (int4 i = 1; i <= n; ++i)
        for (int4 c = 1; c <= nc; ++c) v.prbpopairtgt(offset + c, i) = 0.0f;
      if (display)
        fwrite(std::cout, "(A)",
               std::string("Calculating ") + (s == 1 ? "fa" : "mo") +
                   "ther-offspring dyad likelihood...");
      v.parallelq = v.numthreads > 1 ? 1 : 0;
      const std::array<real8, 9> delta{0, 0, 0, 0, 0, 0, 0, 1, 0};
      compute_dyad_locus2_logl(display ? 1 : 0, 6 + s, delta, v.ploidy(s));
    }
    // One parent pool: the parent-offspring values are those of the first sex.
    const int4 col = std::min(v.numsex, s);
    const bool excluded = v.excludedparent.allocated();
    for (int4 i = 1; i <= n; ++i) {
      v.numbestcnd(i, s) = 0;
      if (v.indivparent.allocated() && v.indivparent(i, s) > 0) continue;
      if (s == 1 && v.offploid(i) == 1) continue;
      const std::span<real4> po = prbpopair_row(i, col);
      for (int4 c = 1; c <= nc; ++c)
        score[c - 1] = static_cast<real4>(static_cast<real8>(po[c - 1]) - v.candidatelogl(c, s));
      if (excluded) {
        const Excludedlist& ex = v.excludedparent(i, s);
        if (ex.count > 0) {
          for (int4 m = 1; m <= ex.count; ++m) score[ex.list(m) - 1] = impossible_pair;
        } else if (ex.count < 0) {
          // The list holds the candidates still allowed, in ascending order.
          int4 m = 1;
          for (int4 c = 1; c <= nc; ++c) {
            while (m <= -ex.count && ex.list(m) < c) ++m;
            if (m > -ex.count || ex.list(m) != c) score[c - 1] = impossible_pair;
          }
        }
      }
      rankbestcnd(i, s, std::span<const real4>(score.data(), static_cast<std::size_t>(nc)));
    }
    if (v.threadid == 0)
      for (int4 i = 1; i <= n; ++i) appendbestcndrecord(out, i, s);
  }

  if (v.threadid == 0)
    write_replacing(
        file, [&](std::ostream& f) { f << out; }, WriteFailure{"SetGetBestCnd"});
  if (own) v.prbpopairtgt.deallocate();
}

}  // namespace kinrad
