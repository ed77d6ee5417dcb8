// Sib dyad probabilities. Every pair of offspring gets the weighted share of the archive in
// which it is full sibs, paternal half sibs and maternal half sibs. A pair that is likely enough
// to matter (a share above 0.1), that shares no sampled parent of the best configuration (known
// or assigned, the same candidate for both), has its shares weighed by the pair's own likelihoods
// under the competing relationships: unrelated, full sibs and the half-sib arrangements its known
// parents allow, each scored as a trial family with unsampled parents (the members' known parents
// apart). The factors are the normalised likelihoods; every single-offspring value in them is the
// family likelihood of the offspring alone, prior term included, like the pair families it is
// compared with.
//
// Lines of at least 0.001 go to ".FullSibDyad" and ".HalfSibDyad" and, record for record, to
// the unformatted ".FSDyadUF" and ".HSDyadUF" that the parent-offspring step reads back.
#include <algorithm>
#include <cmath>
#include <span>

#include "core/edit_format.hpp"
#include "core/modules/variables.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/pairwise.hpp"
#include "results/archive_internal.hpp"
#include "results/dyad_internal.hpp"
#include "results/results.hpp"

namespace kinrad {

namespace {

// A known parent of offspring x in role s (0 when none is known).
int4 known(int4 x, int4 s) {
  const auto& v = variables;
  if (!v.indivparent.allocated()) return 0;
  return std::max(v.indivparent(x, s), 0);
}

bool shares_known_parent(int4 i, int4 j) {
  for (int4 s = 1; s <= 2; ++s)
    if (known(i, s) > 0 && known(i, s) == known(j, s)) return true;
  return false;
}

// The sampled parent of role s that offspring x has in the best configuration: the candidate
// assigned to it there or, when none is, its known parent (0 when the parent is unsampled).
int4 best_parent(int4 x, int4 s) {
  const int4 assigned = variables.btinferparent(x, s);
  return assigned > 0 ? assigned : known(x, s);
}

// A pair whose parents of one role are the same candidate, whether each is known or assigned,
// are half (or full) sibs through that candidate in the best configuration.
bool shares_best_parent(int4 i, int4 j) {
  for (int4 s = 1; s <= 2; ++s)
    if (best_parent(i, s) > 0 && best_parent(i, s) == best_parent(j, s)) return true;
  return false;
}

// The half-sib arrangement sharing the parent of role s (2 mother, 1 father) is excluded by the
// same known parent of the other role, two different known parents of the shared role, or a
// monogamous shared role.
bool arrangement_excluded(int4 i, int4 j, int4 shared) {
  const int4 other = 3 - shared;
  if (known(i, other) > 0 && known(i, other) == known(j, other)) return true;
  if (known(i, shared) > 0 && known(j, shared) > 0 && known(i, shared) != known(j, shared))
    return true;
  return variables.monogamy(shared) == 1;
}

// The text of a probability line: "(4A, F6.3)" or, with the line kind, "(6A, F6.3)".
void put_line(std::string& line, int4 i, int4 j, std::string_view kind, real8 p) {
  const auto& v = variables;
  line.assign(v.offspringid(i).trimmed());
  line += ',';
  line += v.offspringid(j).trimmed();
  line += ',';
  if (!kind.empty()) {
    line += kind;
    line += ',';
  }
  put_f(line, p, 6, 3);
  line += '\n';
}

}  // namespace

real8 SingleLogl::get(int4 x) {
  real8& s = value(x);
  if (s > 0.5) {
    const int4 one[1] = {x};
    s = trialgroups(one, {}, 0, -1e300);
  }
  return s;
}

SibFactors sib_dyad_factors(int4 i, int4 j, SingleLogl& single, int4 side) {
  const auto& v = variables;
  SibFactors f;
  const int4 pair[2] = {i, j};
  const int4 first[1] = {i};
  const int4 second[1] = {j};
  // h: unrelated, full sibs, shared mother, shared father; -1 marks a hypothesis not scored.
  std::array<real8, 4> h{};
  std::array<bool, 4> on{true, true, false, false};
  h[0] = single.get(i) + single.get(j);
  h[1] = trialgroups(pair, {}, 0, -1e300);
  if (v.allmonogamy != 1) {
    const bool mother = !arrangement_excluded(i, j, 2);
    const bool father = !arrangement_excluded(i, j, 1);
    f.third = mother ? 1 : (father ? 2 : 0);
    // Half sibs that the archive holds through the father alone are scored as such: the
    // shared mother would weigh them by a relationship the archive never gives them.
    if (side == 1 && father) f.third = 2;
    const bool none_known =
        known(i, 1) == 0 && known(i, 2) == 0 && known(j, 1) == 0 && known(j, 2) == 0;
    const bool both = f.third != 0 && v.haplodiploid == 1 && none_known;
    // trialgroups split 1: two fathers and one mother; split 2: one father and two mothers.
    if (f.third == 1 || both) {
      h[2] = trialgroups(first, second, 1, -1e300);
      on[2] = true;
    }
    if (f.third == 2 || both) {
      h[3] = trialgroups(first, second, 2, -1e300);
      on[3] = true;
    }
  }
  real8 top = -1e300;
  for (int4 k = 0; k < 4; ++k)
    if (on[static_cast<std::size_t>(k)]) top = std::max(top, h[static_cast<std::size_t>(k)]);
  real8 sum = 0.0;
  std::array<real8, 4> e{};
  for (int4 k = 0; k < 4; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    if (!on[kk]) continue;
    e[kk] = std::exp(h[kk] - top);
    sum += e[kk];
    ++f.scored;
  }
  // Every scored hypothesis impossible: each gives exp(0), so they share equally.
  f.unrelated = e[0] / sum;
  f.fullsib = e[1] / sum;
  if (on[2]) f.mother = e[2] / sum;
  if (on[3]) f.father = e[3] / sum;
  return f;
}

void sib_dyad_open(SibDyadFiles& out) {
  const auto& v = variables;
  auto open = [&](std::optional<ReplacingFile>& f, std::string_view suffix) {
    f.emplace(v.fname + std::string(suffix), WriteFailure{result_file(suffix).routine});
  };
  open(out.fs, ".FullSibDyad");
  out.fs->write("(A)", "OffspringID1,OffspringID2,Probability");
  open(out.fsuf, ".FSDyadUF");
  if (v.allmonogamy == 0) {
    open(out.hs, ".HalfSibDyad");
    out.hs->write("(A)", v.haplodiploid == 1
                             ? "OffspringID1,OffspringID2,Paternal/Maternal,Probability"
                             : "OffspringID1,OffspringID2,Probability");
    open(out.hsuf, ".HSDyadUF");
  }
}

void sib_dyad_lines(SibDyadFiles& out, int4 i, int4 j, const FArray<real8, 2>& frac,
                    const SibFactors& f) {
  const auto& v = variables;
  if (!out.fs) return;
  const real8 pfs = frac(j, 1) * f.fullsib;
  if (pfs >= 0.001) {
    put_line(out.line, i, j, {}, pfs);
    out.fs->put(out.line);
    out.fsuf->write_record(i, j, pfs);
  }
  if (v.allmonogamy == 1) return;
  auto half = [&](int4 code, std::string_view kind, real8 p) {
    if (p < 0.001) return;
    put_line(out.line, i, j, kind, p);
    out.hs->put(out.line);
    out.hsuf->write_record(i, j, code, p);
  };
  if (v.haplodiploid != 1) {
    const real8 third = f.third == 1 ? f.mother : (f.third == 2 ? f.father : 1.0);
    half(1, {}, frac(j, 2) * third);
    return;
  }
  // Each half-sib line carries the factor of its own arrangement.
  half(1, "PaternalSib", frac(j, 2) * f.father);
  half(2, "MaternalSib", frac(j, 3) * f.mother);
}

void sib_dyad_commit(SibDyadFiles& out) {
  if (out.fs) out.fs->commit();
  if (out.fsuf) out.fsuf->commit();
  if (out.hs) out.hs->commit();
  if (out.hsuf) out.hsuf->commit();
}

void sib_dyad_probabilities(const FArray<real8, 1>& weight, real8 wsum) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 K = v.haplodiploid + 2;
  SibDyadFiles out;
  if (v.threadid == 0) sib_dyad_open(out);
  screen_write("(A)", "Computing sib dyad probabilities...");

  // Trial families of two offspring with unsampled parents.
  setfamilystruc(n, 2);
  v.inferparentprt = v.inferparent.view();
  SingleLogl single;
  single.value.allocate(Dim(std::max(n, 1)));
  single.value.fill(1.0);
  SibDyadArchive archive;
  sib_dyad_index(archive);
  FArray<real8, 2> frac{Dim(std::max(n, 1)), Dim(K)};
  FArray<real8, 2> sides{Dim(std::max(n, 1)), Dim(2)};
  int4 progress = 0;

  for (int4 i = 1; i <= n; ++i) {
    sib_dyad_fractions(archive, weight, wsum, i, frac, &sides);
    for (int4 j = i + 1; j <= n; ++j) {
      if (v.displayq == 1) writeprogress(progress, 150);
      real8 m = frac(j, 1);
      if (v.allmonogamy != 1)
        for (int4 k = 2; k <= K; ++k) m = std::max(m, frac(j, k));
      if (m < 0.001) continue;
      SibFactors f;
      if (!shares_best_parent(i, j) && m > 0.1 && !shares_known_parent(i, j)) {
        const bool paternal = sides(j, 1) > 0.0, maternal = sides(j, 2) > 0.0;
        const int4 side = paternal && !maternal ? 1 : (maternal && !paternal ? 2 : 0);
        f = sib_dyad_factors(i, j, single, side);
      }
      sib_dyad_lines(out, i, j, frac, f);
    }
  }
  sib_dyad_commit(out);
  if (v.displayq == 1 && progress > 49) screen_write("(A)", v.blkln.view().substr(0, 2));
}

}  // namespace kinrad
