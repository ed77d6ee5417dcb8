// The genotype and allele-frequency inference of the result writer. From the best
// configuration, cluster by cluster and locus by locus, the engine's posterior genotypes of
// every offspring and every parent (sampled or not) are written to the three inferred-genotype
// files, and the parents' expected allele counts, with the typed candidates the configuration
// leaves unassigned, give the re-estimated allele frequencies of ".AlleleFreq".
//
// The offspring are sorted by cluster so that each cluster is a contiguous window of
// indivloc1: its family structure and the engine's work state are built from its own rows only.
// The three genotype files are streamed to temporaries and replace the old files only once
// every locus is written, so a stop in the middle leaves the previous files as they were.
#include <algorithm>
#include <array>
#include <memory>

#include "configuration/configuration.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/keep_value.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/results_seams.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/clones.hpp"
#include "results/inferred_genotype_internal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// Under the pairwise-score method larger clusters are not inferred at all.
constexpr int4 kLargestPairwiseCluster = 10000;

// What the inference keeps from its preparation to its last locus.
struct InferenceState {
  int4 nclusters = 0;
  FArray<int4, 1> clusterend{};    // (0:nclusters) last sorted position of each cluster
  FArray<real8, 1> allelecount{};  // maxobsnumallele: one cluster's expected counts
  FArray<real8, 1> accumulator{};  // maxobsnumallele: the locus's summed counts
};

// The estimate arrays, the updated-frequency table and prntglogl.
void allocate_estimates() {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 ne = v.numestgenotype;
  const int4 np = (3 - v.numsex) * n;
  v.estprntgtype.allocate(Dim(2), Dim(ne), Dim(np), Dim(2));
  v.estprntgtypeprb.allocate(Dim(ne), Dim(np), Dim(2));
  v.estchildgtype.allocate(Dim(2), Dim(ne), Dim(n));
  v.estchildgtypeprb.allocate(Dim(ne), Dim(n));
  if (v.popallelefreknownq == 0)
    v.updatedallelefre.allocate(Dim(std::max(v.maxobsnumallele, 1)), Dim(std::max(v.numloci, 1)));
}

// Parent tables with room for every family of either sex: indivloc2 (4 columns) and indivloc3
// (2 columns), replaced when too small.
void size_parent_tables() {
  auto& v = variables;
  auto& av = annealvariables;
  int4 rows = std::max({v.btnumfamily(1), v.btnumfamily(2), 1});
  for (int4 i = 1; i <= v.smplsize; ++i)
    rows = std::max({rows, v.btindivloc(i, 1), v.btindivloc(i, 2)});
  auto fit = [rows](FArray<int4, 2>& a, int4 cols) {
    if (a.allocated() && a.ubound(1) >= rows && a.ubound(2) >= cols) return;
    if (a.allocated()) a.deallocate();
    a.allocate(Dim(rows), Dim(cols));
  };
  fit(av.indivloc2, 4);
  fit(av.indivloc3, 2);
}

// indivloc2(f, s): the candidate of parent family f (a known parent over an assigned one),
// indivloc3(f, s): family f is used on side s (one parent pool), indivloc2(f, s + 2): the
// offspring whose printed parent name the family's rows carry, its first diploid offspring or
// else its last one.
void fill_parent_tables() {
  const auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const bool known = v.indivparent.allocated();
  for (int4 s = 1; s <= 2; ++s) {
    for (int4 f = 1; f <= v.btnumfamily(s); ++f) av.indivloc2(f, s) = 0;
    for (int4 i = 1; i <= n; ++i) {
      const int4 f = v.btindivloc(i, s);
      if (f < 1 || av.indivloc2(f, s) >= 1) continue;
      if (v.btinferparent(i, s) > 0) av.indivloc2(f, s) = v.btinferparent(i, s);
      if (known && v.indivparent(i, s) > 0) av.indivloc2(f, s) = v.indivparent(i, s);
    }
    if (v.numsex == 1) {
      for (index_t f = 1; f <= av.indivloc3.ubound(1); ++f) av.indivloc3(f, s) = 0;
      for (int4 i = 1; i <= n; ++i)
        if (v.btindivloc(i, s) >= 1) av.indivloc3(v.btindivloc(i, s), s) = 1;
    }
  }
  for (int4 s = 1; s <= 2; ++s) {
    const int4 col = s + 2;
    for (int4 f = 1; f <= v.btnumfamily(s); ++f) av.indivloc2(f, col) = 0;
    // Walking backwards, the last assignment is the first diploid offspring; a family of
    // haploid offspring only keeps its last one.
    for (int4 i = n; i >= 1; --i) {
      const int4 f = v.btindivloc(i, s);
      if (f < 1) continue;
      if (v.offploid(i) == 2 || av.indivloc2(f, col) == 0) av.indivloc2(f, col) = i;
    }
  }
}

// The offspring sorted by cluster (input order within one), into indivloc1 with the offspring
// number in column 4; clusterend(c) the last position of cluster c.
void sort_by_cluster(InferenceState& st) {
  const auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  int4 nc = 0;
  for (int4 i = 1; i <= n; ++i) nc = std::max(nc, v.btindivloc(i, 3));
  st.nclusters = nc;
  st.clusterend.allocate(Dim(0, nc));
  for (int4 i = 1; i <= n; ++i) ++st.clusterend(v.btindivloc(i, 3));
  for (int4 c = 1; c <= nc; ++c) st.clusterend(c) += st.clusterend(c - 1);
  if (!av.indivloc1.allocated() || av.indivloc1.ubound(1) < n || av.indivloc1.ubound(2) < 4) {
    if (av.indivloc1.allocated()) av.indivloc1.deallocate();
    av.indivloc1.allocate(Dim(std::max(n, 1)), Dim(4));
  }
  // A stable placement: each cluster's offspring after those of the clusters before it.
  FArray<int4, 1> next(Dim(0, std::max(nc, 1)));
  for (int4 c = 1; c <= nc; ++c) next(c) = st.clusterend(c - 1);
  for (int4 i = 1; i <= n; ++i) {
    const int4 t = ++next(v.btindivloc(i, 3));
    for (int4 k = 1; k <= 3; ++k) av.indivloc1(t, k) = v.btindivloc(i, k);
    av.indivloc1(t, 4) = i;
  }
}

void clear_estimates() {
  auto& v = variables;
  v.estprntgtype.fill(0);
  v.estprntgtypeprb.fill(0.0f);
  v.estchildgtype.fill(0);
  v.estchildgtypeprb.fill(0.0f);
}

// The posteriors of one cluster at locus l, and its parents' expected allele counts when the
// frequencies are re-estimated.
void infer_cluster(InferenceState& st, int4 c, int4 l) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 first = st.clusterend(c - 1) + 1;
  const int4 m = st.clusterend(c) - st.clusterend(c - 1);
  if (m < 1) return;
  {
    KeepValue keep_order(v.indivorder);
    KeepValue keep_loc(v.indivlocprt);
    v.indivorder = window(v.number1tgt, first, m);
    v.indivlocprt = av.indivloc1.view();
    int4 nmember = 0;
    int4 maxfamsize = 0;
    familybuild(0, m, 1, nmember, maxfamsize, 1, 0, 0, 0);
  }
  v.indivlocprt = v.btindivloc.view();
  int4 status = 0;
  preparevariable(status, v.numberfsfamily, l, 0);
  if (results_seams.inference_prepare) results_seams.inference_prepare(status);
  if (status != 0) stoponerror(0, "Output");
  const int4 k = v.obsnumallele(l);
  const int4 countflag = v.popallelefreknownq == 0 ? 1 : 0;
  genotypeinference(l, countflag, 1,
                    std::span<real8>(st.allelecount.data(), static_cast<std::size_t>(k)), k, 1);
  if (countflag == 1)
    for (int4 a = 1; a <= k; ++a) st.accumulator(a) += st.allelecount(a);
}

// One locus: the posteriors of every cluster, the updated frequencies, the clone groups' shared
// alternatives and the rows of the three files.
void infer_locus(InferenceState& st, int4 l, std::array<std::unique_ptr<ReplacingFile>, 3>& files) {
  auto& v = variables;
  const int4 k = v.obsnumallele(l);
  if (k <= 1) return;
  const bool pairwise = v.fulllikelihoodmethodq == 0;
  if (pairwise) clear_estimates();
  if (v.popallelefreknownq == 0) st.accumulator.fill(0.0);
  v.prntglogl.fill(1.0);
  for (int4 c = 1; c <= st.nclusters; ++c) {
    const int4 m = st.clusterend(c) - st.clusterend(c - 1);
    if (pairwise && m > kLargestPairwiseCluster) continue;
    infer_cluster(st, c, l);
  }
  if (v.popallelefreknownq == 0) {
    recomputeallelefre(l, std::span<real8>(st.accumulator.data(), static_cast<std::size_t>(k)));
    for (int4 a = 1; a <= k; ++a) v.updatedallelefre(a, l) = st.accumulator(a);
  }
  if (v.locuserror(l) != 0 && v.allowclone == 1) inferclonegtype(l);
  for (int4 kind = 0; kind <= 2; ++kind) writeinferredgtype(*files[kind], kind, l);
}

}  // namespace

void set_inference_prepare_seam(std::function<void(int4& status)> seam) {
  results_seams.inference_prepare = std::move(seam);
}

void infer_genotypes_and_frequencies() {
  auto& v = variables;
  v.inferparentprt = v.btinferparent.view();
  InferenceState st;
  allocate_estimates();
  const int4 width = std::max(v.maxobsnumallele, 1);
  st.allelecount.allocate(Dim(width));
  st.accumulator.allocate(Dim(width));
  size_parent_tables();
  fill_parent_tables();
  sort_by_cluster(st);
  if (v.allelefreest != 0) {
    screen_write("(A)", "Inferring genotypes and allele frequencies...");
    screen_write("(A)", "  Locus: 1 - " + itoc(v.numloci));
  }
  v.parallelq = 0;
  std::array<std::unique_ptr<ReplacingFile>, 3> files;
  for (int4 kind = 0; kind <= 2; ++kind) {
    const std::string_view suffix = inferred_genotype_suffix(kind);
    files[kind] = std::make_unique<ReplacingFile>(v.fname + std::string(suffix),
                                                  WriteFailure{result_file(suffix).routine});
    writeinferredgtype(*files[kind], kind, 0);
  }
  int4 counter = 0;
  v.prntglogl.allocate(Dim(2), Dim(2), Dim(3));
  if (v.allelefreest != 0) {
    for (int4 l = 1; l <= v.numloci; ++l) {
      if (v.displayq == 1) writeprogress(counter, 50);
      infer_locus(st, l, files);
    }
  }
  for (auto& f : files) f->commit();
  if (v.displayq == 1 && counter > 49) screen_write("(A)", "\r  Done for all loci.");
  v.indivlocprt = v.btindivloc.view();
}

namespace {

// The lines of ".AlleleFreq": per locus its alleles in ascending order of label with their
// initial and updated frequencies; a locus of one allele shows its initial frequency twice.
void allele_frequency_lines(ReplacingFile& out) {
  const auto& v = variables;
  out.write("(A)", "MarkerID,AlleleID,InitialFreq,UpdatedFreq");
  std::vector<real8> keys;
  std::vector<int4> order;
  for (int4 l = 1; l <= v.numloci; ++l) {
    const std::string marker(trim_both(v.markerid(l).view()));
    const int4 k = v.obsnumallele(l);
    const auto& label = v.rawallele(l).a;
    if (k >= 2) {
      keys.assign(static_cast<std::size_t>(k), 0.0);
      order.assign(static_cast<std::size_t>(k), 0);
      for (int4 a = 1; a <= k; ++a) keys[static_cast<std::size_t>(a - 1)] = label(a);
      indexx(k, keys.data(), order.data());
      for (int4 j = 0; j < k; ++j) {
        const int4 a = order[static_cast<std::size_t>(j)];
        out.write("(A)", marker + "," + itoc(label(a)) + "," +
                             rtoc(v.obsallelefre0(a, l), "(F9.4)") + "," +
                             rtoc(v.updatedallelefre(a, l), "(F9.4)"));
      }
    } else if (k == 1) {
      if (v.dominantmarker(l) == 1 && label(1) == 2) {
        out.write("(A)", marker + ",1,0.0000,0.0000");
        out.write("(A)", marker + ",2,1.0000,1.0000");
        continue;
      }
      const real8 f = v.obsallelefre0(1, l);
      const std::string t = rtoc(f, "(F9.4)");
      out.write("(5A)", marker + "," + itoc(label(1)), ",", t, ",", t);
      if (v.dominantmarker(l) == 1) {
        const std::string u = rtoc(1.0 - f, "(F9.4)");
        out.write("(5A)", marker + ",2", ",", u, ",", u);
      }
    }
  }
}

}  // namespace

void write_allele_frequencies() {
  write_result_file(".AlleleFreq", allele_frequency_lines);
}

}  // namespace kinrad
