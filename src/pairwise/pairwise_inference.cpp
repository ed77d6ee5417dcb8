// The sibship phase of the pairwise step: every pair of offspring is classified by maximum
// likelihood as unrelated, paternal half sibs, full sibs or maternal half sibs (full sibs
// further tested as clones), known and excluded sibships overriding the decision side by
// side. Related pairs go to three text files, and with 50 or more offspring each offspring's
// first related partners form its pair cluster, which guides the search.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/replacing_file.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// Log likelihoods below this are impossible (-1e300) or excluded (-1e38).
constexpr real8 credible = -1e37;

// A row of a sibship file: the first offspring's part, the second's name, the row's end.
void addrow(ReplacingFile& f, std::string_view prefix, std::string_view second,
            std::string_view suffix) {
  f.put(prefix);
  f.put(second);
  f.put(suffix);
  f.put("\n");
}

std::string filename(const char* suffix) {
  const Variables& v = variables;
  std::string name = v.fname + suffix;
  if (v.numthreads > 1) name += itoc(v.threadid);
  return std::string(trim(name));
}

constexpr WriteFailure sibship_failure{.routine = "PairwiseInference",
                                       .open_prefix = "Invalid file path & name: "};

// Opens the file and writes its header (only the first thread's files have one).
void openfile(std::optional<ReplacingFile>& f, const char* suffix, bool halfsib) {
  const Variables& v = variables;
  f.emplace(filename(suffix), sibship_failure);
  if (v.threadid != 0) return;
  std::string header = "OffspringID1,OffspringID2";
  if (halfsib && v.haplodiploid == 1) header += ",Paternal(P)/Maternal(M)";
  f->write("(A)", header);
}

// Every `step` pairs the progress line shows the pair; the text is built only then.
int4 progressstep() {
  const Variables& v = variables;
  const int8 n3 = v.locus3.allocated() ? v.locus3(0) : 0;
  const int8 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  const real8 l23 = std::max<int4>(v.numloci23, 1);
  const real8 step = std::llround(static_cast<real8>(n3 + 100 * n2) * 100000.0 / l23 / l23) + 1.0;
  return static_cast<int4>(std::clamp(step, 1.0, 2147483647.0));
}

void writepairclusters(const FArray<int4, 1>& partners, int4 capacity) {
  const Variables& v = variables;
  ReplacingFile out(filename(".PairCluster"), WriteFailure{"PairwiseInference"});
  for (int4 i = 1; i <= v.smplsize; ++i) {
    const int4 count = partners(i) > capacity ? 0 : partners(i);
    out.put(itoc(count));
    for (int4 m = 1; m <= count; ++m) {
      out.put(",");
      out.put(itoc(v.paircluster(i).a(m)));
    }
    out.put("\n");
  }
  out.commit();
}

}  // namespace

real8 trialfamily(Trial kind, int4 i, int4 j, int4 x, real8 bound, int4 sex, int4 cand,
                  bool useknown) {
  Variables& v = variables;
  // Each offspring's slot: its father (index among the fathers) and its mother.
  struct Slot {
    int4 member, father, mother;
  };
  std::array<Slot, 2> slots{};
  int4 count = 2;
  int4 fathers = 1, mothers = 1;
  switch (kind) {
    case Trial::alone:
      slots[0] = {x, 1, 1};
      count = 1;
      break;
    case Trial::fullsibs:
      slots = {Slot{i, 1, 1}, Slot{j, 1, 1}};
      break;
    case Trial::paternal:
      slots = {Slot{i, 1, 1}, Slot{j, 1, 2}};
      mothers = 2;
      break;
    case Trial::maternal:
      slots = {Slot{i, 1, 1}, Slot{j, 2, 1}};
      fathers = 2;
      break;
  }

  trialframe();
  v.nparent(1) = fathers;
  v.nparent(2) = mothers;
  v.nchild.fill(0);

  // A parent shared by both offspring is the known parent of either; two different known
  // parents in one role rule the family out.
  const bool parents = useknown && v.indivparent.allocated();
  auto known = [&](const Slot& m, int4 s) {
    if (s == 1 && v.offploid(m.member) == 1) return 0;
    // A candidate put in as the parent of this sex takes the place of a known one.
    if (kind == Trial::alone && s == sex) return std::max(cand, 0);
    if (!parents) return 0;
    return std::max(v.indivparent(m.member, s), 0);
  };
  std::array<std::array<int4, 2>, 2> candidate{};  // (slot of the parent, sex)
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 a = 0; a < count; ++a) {
      const int4 p = s == 1 ? slots[a].father : slots[a].mother;
      const int4 k = known(slots[a], s);
      if (k == 0) continue;
      int4& c = candidate[p - 1][s - 1];
      if (c != 0 && c != k) return -1e300;
      c = k;
    }
  }
  // Half sibs have different parents in the role they do not share: two members naming the
  // same candidate there rule the family out (it would score one parent as two).
  if (fathers == 2 && candidate[0][0] != 0 && candidate[0][0] == candidate[1][0]) return -1e300;
  if (mothers == 2 && candidate[0][1] != 0 && candidate[0][1] == candidate[1][1]) return -1e300;
  // One parent pool: a candidate in both roles is one individual, both parents of a selfed
  // family (every father of these trial families has a family with every mother). The engine
  // links the two roles through parentjdx; without selfing such a family is impossible.
  if (v.numsex == 1) {
    for (int4 f = 1; f <= fathers; ++f)
      for (int4 m = 1; m <= mothers; ++m) {
        const int4 c = candidate[f - 1][0];
        if (c == 0 || c != candidate[m - 1][1]) continue;
        if (v.allowinbreeding != 1) return -1e300;
        v.parentjdx(f, 1) = m;
        v.parentjdx(m, 2) = f;
      }
  }
  for (int4 a = 0; a < count; ++a) {
    const Slot& m = slots[a];
    const bool son = v.offploid(m.member) == 1;
    v.inferparent(m.member, 1) = son ? 0 : candidate[m.father - 1][0];
    v.inferparent(m.member, 2) = candidate[m.mother - 1][1];
  }
  if (kind == Trial::fullsibs) {
    const int4 both[2] = {i, j};
    v.nchild(1, 1) = 2;
    setfamilymembers(1, 1, both);
  } else {
    for (int4 a = 0; a < count; ++a) {
      const int4 one[1] = {slots[a].member};
      v.nchild(slots[a].father, slots[a].mother) = 1;
      setfamilymembers(slots[a].father, slots[a].mother, one);
    }
  }

  real8 logl = 0.0;
  familylikelihood(logl, bound, 1, 0, 0);
  for (int4 a = 0; a < count; ++a) {
    v.inferparent(slots[a].member, 1) = 0;
    v.inferparent(slots[a].member, 2) = 0;
  }
  if (v.numsex == 1)
    for (int4 p = 1; p <= 2; ++p) v.parentjdx(p, 1) = v.parentjdx(p, 2) = 0;
  return logl;
}

real8 trialfamilydyad(Trial kind, int4 i, int4 j, int4 x, int4 sex, int4 cand) {
  Variables& v = variables;
  // The engine falls back on the input's known parents of a family's members: they are hidden
  // while the family is scored.
  const std::array<int4, 2> members =
      kind == Trial::alone ? std::array<int4, 2>{x, x} : std::array<int4, 2>{i, j};
  std::array<int4, 4> kept{};
  const bool parents = v.indivparent.allocated();
  if (parents)
    for (int4 m = 0; m < 2; ++m)
      for (int4 s = 1; s <= 2; ++s) {
        kept[static_cast<std::size_t>(2 * m + s - 1)] = v.indivparent(members[m], s);
        v.indivparent(members[m], s) = -1;
      }
  real8 logl = trialfamily(kind, i, j, x, -1e300, sex, cand, false);
  // The driver prepared the family's work state, so its prior term is at hand.
  if (logl > -1e300) logl -= family_prior_term();
  if (parents)
    for (int4 m = 1; m >= 0; --m)
      for (int4 s = 2; s >= 1; --s)
        v.indivparent(members[m], s) = kept[static_cast<std::size_t>(2 * m + s - 1)];
  return logl;
}

void sibstatus(std::array<real8, 4> L, const std::array<int4, 2>& stat, int4 mode, real8 w,
               real8& sumsib, real8& weightsib, int4& sp, int4& sm) {
  int4 k = 1;
  if (L[2] > L[k]) k = 2;
  if (L[3] > L[k]) k = 3;
  if (L[0] >= credible && L[mode] >= credible) {
    sumsib += std::fabs(L[mode] - L[0]);
    weightsib += 0.25 * w;
  } else if (L[0] < credible) {
    real8 gap = 1e300;
    for (int4 x = 1; x <= 3; ++x)
      if (x != k) gap = std::min(gap, std::fabs(L[x] - L[k]));
    if (gap < 1e30) {
      sumsib += gap;
      weightsib += 1.0;
    }
  }
  // A best sib likelihood within 0.0001 of the unrelated one is no evidence.
  if (std::fabs(L[k] - L[0]) < 0.0001) L[0] += 0.0005;
  if (L[0] >= L[1] && L[0] >= L[2] && L[0] >= L[3]) {
    sp = sm = 0;
  } else if (L[2] < L[1] || L[2] < L[3]) {
    // Half sibs: the side by the larger likelihood, or on a tie (within the single-precision
    // 1e-30) by the known sibships.
    const real8 tiny = static_cast<real8>(1e-30f);
    const bool paternal = std::fabs(L[1] - L[3]) > tiny ? L[1] >= L[3] : stat[0] >= stat[1];
    sp = paternal ? 1 : 0;
    sm = paternal ? 0 : 1;
  } else {
    sp = sm = 1;
  }
}

namespace {

// One pass of the sibship phase over all pairs: its settings, the three sibship files, the
// pair clusters and the progress counter.
struct SibshipRun {
  std::span<const real8> singlelogl;
  int4 n = 0;
  // Pair clusters: each offspring's first smplsize/50 related partners.
  bool clusters = false;
  int4 capacity = 0;
  FArray<int4, 1> partners;
  // Full sibs, half sibs, clones: all three open until every pair is classified.
  std::optional<ReplacingFile> files[3];
  bool focal = false;
  bool display = false;
  int4 step = 1;
  int4 counter = 0;
  int4 mode = 0;
  real8 w = 1.0;
  bool tables = false;
  bool anyknown = false;
  bool parents = false;
  std::string prefix;
  // The dyad tables hold a son's pair (two sons as full sibs, a son and a daughter as maternal
  // half sibs) as its trial family's likelihood without the sibship-size prior term, while the
  // decisions without the tables score trial families with it: the term of the family scored
  // there is added back, so that both settings classify such pairs alike. It depends on the
  // family's shape alone (two offspring, no known parent), so one family of each shape is
  // prepared to read it.
  std::array<std::optional<real8>, 2> sonprior{};

  explicit SibshipRun(std::span<const real8> single_) : singlelogl(single_) {
    const Variables& v = variables;
    n = v.smplsize;
    clusters = n >= 50;
    capacity = n / 50;
    focal = v.pairwiseoptionq == 0 || v.allowclone == 1;
    display = v.displayq != 0;
    mode = v.allmonogamy == 1 ? 2 : (v.monogamy(1) == 0 ? 1 : 3);
    w = v.allmonogamy == 1 ? 1.0 : 2.0;
    tables = v.pairwiseoptionq != 0;
    anyknown = v.numknownprnt(1) != 0 || v.numknownprnt(2) != 0;
    parents = v.indivparent.allocated();
  }

  real8 single(int4 x) const { return singlelogl[static_cast<std::size_t>(x - 1)]; }
  bool hasknown(int4 x) const {
    return parents && (variables.indivparent(x, 1) > 0 || variables.indivparent(x, 2) > 0);
  }
  int4 knownparent(int4 x, int4 s) const { return parents ? variables.indivparent(x, s) : 0; }

  real8 son_prior_term(Trial kind, int4 i, int4 j) {
    std::optional<real8>& term = sonprior[kind == Trial::fullsibs ? 0 : 1];
    if (!term) {
      trialfamily(kind, i, j, 0, -1e300, 0, 0, false);
      term = family_prior_term();
    }
    return *term;
  }

  // The pair clusters' windows, the files and the focal dyad tables.
  void start() {
    Variables& v = variables;
    if (clusters) {
      partners.allocate(Dim(n));
      v.pairclustertgt.allocate(Dim(static_cast<index_t>(n) * capacity));
      v.paircluster.allocate(Dim(n));
      for (int4 i = 1; i <= n; ++i)
        v.paircluster(i).a =
            window(v.pairclustertgt, static_cast<index_t>(i - 1) * capacity + 1, capacity);
    }
    openfile(files[2], ".PairwiseCloneDyad", false);
    openfile(files[1], ".PairwiseHalfSibDyad", true);
    openfile(files[0], ".PairwiseFullSibDyad", false);
    if (focal) {
      setindivgtype3();
      allocate_focal_dyad_tables();
    }
    if (display) fwrite(std::cout, "(A)", "Estimating sibship with pairwise approach...");
    step = progressstep();
  }

  // The progress line, shown every step pairs.
  void show_progress(int4 i, int4 j) {
    if (!display) return;
    if ((counter + 1) % step == 0) {
      const std::string text = " Dyad:" + itoc(i) + "-" + itoc(j) + "    ";
      writeprogress(counter, step, text);
    } else if (++counter > 2147483640) {
      counter = 0;
    }
  }

  // Log likelihoods of the pair as unrelated (L[0]), paternal half sibs (L[1]), full sibs
  // (L[2]) and maternal half sibs (L[3]); dyad says whether the dyad terms stand for the pair.
  std::array<real8, 4> pair_logl(int4 i, int4 j, const std::array<int4, 2>& stat, bool dyad) {
    const Variables& v = variables;
    const int4 ps = v.offploid(i) + v.offploid(j);
    std::array<real8, 4> L{};
    // Unrelated.
    if (stat[0] > 0 || stat[1] > 0) {
      L[0] = -1e300;
    } else if (dyad) {
      L[0] = single(i) + single(j);
    } else {
      L[0] = 0.0;
      for (const int4 x : {i, j}) {
        L[0] += hasknown(x) ? trialfamily(Trial::alone, i, j, x, -1e300) : single(x);
      }
    }
    // Full sibs.
    if (stat[0] < 0 || stat[1] < 0 || ps == 3) {
      L[2] = -1e300;
    } else if (tables && dyad) {
      // Two haploid sons' entries hold their trial family's likelihood.
      L[2] = prbfspair(i, j);
      if (ps == 2 && L[2] > credible) L[2] += son_prior_term(Trial::fullsibs, i, j);
    } else {
      const real8 bound = mode == 2 ? -1e38 : L[0];
      if (ps == 4 && dyad)
        compute_dyad_logl(1, j, L[2], bound);
      else
        L[2] = trialfamily(Trial::fullsibs, i, j, 0, bound);
    }
    // Paternal half sibs.
    const int4 fi = knownparent(i, 1), fj = knownparent(j, 1);
    if (ps == 4 && v.monogamy(1) == 0 && stat[0] >= 0 && !(fi >= 1 && fj >= 1 && fi != fj)) {
      if (tables && dyad)
        L[1] = prbhspair(i, j);
      else if (dyad)
        compute_dyad_logl(2, j, L[1], -1e38);
      else
        L[1] = trialfamily(Trial::paternal, i, j, 0, -1e38);
    } else {
      L[1] = -1e300;
    }
    L[3] = maternal_logl(i, j, stat, dyad, L);
    return L;
  }

  // The maternal half-sib log likelihood, given the others.
  real8 maternal_logl(int4 i, int4 j, const std::array<int4, 2>& stat, bool dyad,
                      const std::array<real8, 4>& L) {
    const Variables& v = variables;
    const int4 ps = v.offploid(i) + v.offploid(j);
    const int4 mi = knownparent(i, 2), mj = knownparent(j, 2);
    if (ps == 2 || v.monogamy(2) == 1 || stat[1] < 0 || (mi >= 1 && mj >= 1 && mi != mj))
      return -1e300;
    if (v.monogamy(1) == 0 && v.haplodiploid == 0)
      return dyad ? L[1] : trialfamily(Trial::maternal, i, j, 0, std::max(L[0], L[1]));
    if (tables && dyad) {
      // A son and a daughter: the entry holds their trial family's likelihood.
      real8 m = v.haplodiploid == 1 ? prbmhsibpair(i, j) : prbhspair(i, j);
      if (ps == 3 && m > credible) m += son_prior_term(Trial::maternal, i, j);
      return m;
    }
    const real8 bound = mode == 3 ? -1e38 : std::max(L[0], L[1]);
    real8 m = 0.0;
    if (ps == 4 && dyad)
      compute_dyad_logl(v.haplodiploid + 2, j, m, bound);
    else
      m = trialfamily(Trial::maternal, i, j, 0, bound);
    return m;
  }

  // Classifies a pair not decided by known or excluded sibships on both sides: sp, sm are 1
  // for sibs on the paternal, maternal side (2, 2 for clones).
  void classify(int4 i, int4 j, const std::array<int4, 2>& stat, real8& sumsib, real8& weightsib,
                int4& sp, int4& sm) {
    Variables& v = variables;
    const int4 ps = v.offploid(i) + v.offploid(j);
    bool dyad = !anyknown || (!hasknown(i) && !hasknown(j));
    std::array<int4, 4> kept{};
    bool masked = false;
    if (!dyad && tables && v.haplodiploid == 0 && single(i) < -1000.0 && single(j) < -1000.0 &&
        prbfspair(i, j) > -1e30f && prbhspair(i, j) > -1e30f) {
      // The dyad terms stand in for the known parents: they are hidden for this pair.
      dyad = masked = true;
      kept = {v.indivparent(i, 1), v.indivparent(i, 2), v.indivparent(j, 1), v.indivparent(j, 2)};
      v.indivparent(i, 1) = v.indivparent(i, 2) = -1;
      v.indivparent(j, 1) = v.indivparent(j, 2) = -1;
    }
    const std::array<real8, 4> L = pair_logl(i, j, stat, dyad);
    sibstatus(L, stat, mode, w, sumsib, weightsib, sp, sm);
    if (sp == 1 && sm == 1 && v.allowclone == 1 && ps != 3 && clone_dyad_logl(i, j) > L[2])
      sp = sm = 2;
    if (masked) {
      v.indivparent(i, 1) = kept[0];
      v.indivparent(i, 2) = kept[1];
      v.indivparent(j, 1) = kept[2];
      v.indivparent(j, 2) = kept[3];
    }
  }

  // The pair's row in its file and, when written, in both members' pair clusters.
  void record(int4 i, int4 j, int4 sp, int4 sm) {
    Variables& v = variables;
    const std::string_view second = trim(v.offspringid(j).view());
    bool written = true;
    if (sp == 1 && sm == 1) {
      addrow(*files[0], prefix, second, "");
    } else if (sp == 2 && sm == 2) {
      addrow(*files[2], prefix, second, "");
    } else if ((sp == 1 || sm == 1) && v.allmonogamy != 1) {
      addrow(*files[1], prefix, second, v.haplodiploid == 1 ? (sp == 1 ? ",P" : ",M") : "");
    } else {
      written = false;
    }
    if (written && clusters) {
      if (++partners(i) <= capacity) v.paircluster(i).a(partners(i)) = static_cast<int2>(j);
      if (++partners(j) <= capacity) v.paircluster(j).a(partners(j)) = static_cast<int2>(i);
    }
  }

  // Every pair (i, j), i < j, classified and recorded.
  void classify_all(real8& sumsib, real8& weightsib) {
    Variables& v = variables;
    for (int4 i = 1; i < n; ++i) {
      const std::array<int4, 2> ks{v.knownsibship.allocated() ? v.knownsibship(i, 1) : 0,
                                   v.knownsibship.allocated() ? v.knownsibship(i, 2) : 0};
      for (int4 j = i + 1; j <= n; ++j) {
        show_progress(i, j);
        simuvariables.setsimoffgtype = 0;
        if (j == i + 1) {
          prefix.assign(trim(v.offspringid(i).view()));
          prefix += ',';
          if (v.pairwiseoptionq == 0) setdyadlogl(i);
          if (v.allowclone == 1) refresh_clone_cache(i);
        }
        std::array<int4, 2> stat{0, 0};
        sibknownexc(i, j, stat, ks);
        int4 sp = 0, sm = 0;
        if (stat[0] == 0 || stat[1] == 0) classify(i, j, stat, sumsib, weightsib, sp, sm);
        // Known sibships decide their side whatever the likelihoods say.
        if (std::abs(stat[0]) == 1) sp = (stat[0] + 1) / 2;
        if (std::abs(stat[1]) == 1) sm = (stat[1] + 1) / 2;
        record(i, j, sp, sm);
      }
    }
  }

  // Commits the files (dropping those the settings do not keep), frees the focal tables and
  // writes the pair clusters.
  void finish() {
    Variables& v = variables;
    Simuvariables& sv = simuvariables;
    files[2]->commit();
    files[1]->commit();
    files[0]->commit();
    if (display && counter > 100000 / std::max<int4>(v.numloci, 1))
      fwrite(std::cout, "(A)", std::string(29, ' '));
    if (v.allmonogamy == 1) opendeletefile(files[1]->path());
    if (v.allowclone != 1) opendeletefile(files[2]->path());
    if (focal) {
      sv.indivgtype3.deallocate();
      sv.dyadlogl.deallocate();
      sv.dyadloglloc.deallocate();
      sv.dyadlogl2.deallocate();
      sv.dyadlogl0.deallocate();
      sv.dyadgtype.deallocate();
      sv.dyadgtypeploidy.deallocate();
      sv.simoffgtype.deallocate();
      sv.clonedyadll.deallocate();
      sv.clonegtype.deallocate();
      sv.focalmemo.deallocate();
      sv.focalmemoloc.deallocate();
      sv.focalmemoq.deallocate();
    }
    if (clusters) {
      if (v.threadid == 0) writepairclusters(partners, capacity);
      // The search gets the clusters only by reading the file back.
      v.paircluster.deallocate();
      v.pairclustertgt.deallocate();
    }
  }
};

}  // namespace

void pairwise_sibship(std::span<const real8> singlelogl, real8& sumsib, real8& weightsib) {
  SibshipRun run(singlelogl);
  run.start();
  run.classify_all(sumsib, weightsib);
  run.finish();
}

}  // namespace kinrad
