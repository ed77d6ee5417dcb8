// The result writer: from the best configuration and the archive left by the search to the
// result files, in a fixed order of steps over one set of work copies. The best configuration
// and the archive are first brought into their canonical form (ordered parent families in one
// parent pool, clusters numbered by first offspring, known parents spread over their
// sibships, and, when offspring are also candidates, clusters regrouped across generations);
// then the files are written; last the current configuration is set to the best one for the
// error-rate estimation.
//
// The genotype inference works on the families of the search itself, so with regrouped
// clusters the clusters before the regrouping stand in column 3 of btindivloc during the
// inference, and the grouped ones before and after it.
#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>

#include "configuration/configuration.hpp"
#include "core/modules/results_seams.hpp"
#include "core/modules/variables.hpp"
#include "core/real_integer_power.hpp"
#include "core/screen.hpp"
#include "core/stop_signal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// Tells the test seam the name of each step before it runs.
void step(std::string_view name) {
  // Between two steps nothing is half written: a stop by signal is raised here.
  stop_if_signalled();
  if (results_seams.output) results_seams.output(name);
}

// The largest value of column k of btindivloc.
int4 best_column_top(int4 k) {
  const auto& v = variables;
  int4 top = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) top = std::max(top, v.btindivloc(i, k));
  return top;
}

// An empty archive gets the best configuration as its only record, so that every later step
// finds the best configuration at the head (a restored allele-frequency round frees the
// archive, and the floor can drop every record).
void archive_best_if_empty() {
  auto& v = variables;
  if (v.confighead != nullptr) return;
  KeepValue keep_loc(v.indivlocprt);
  KeepValue keep_par(v.inferparentprt);
  KeepValue keep_logl(v.loglikelihoodprt);
  v.indivlocprt = v.btindivloc.view();
  v.inferparentprt = v.btinferparent.view();
  v.loglikelihoodprt = &v.btloglikelihood;
  newconfig(best_column_top(3));
  v.confighead = v.configtail = v.configptr;
  v.configptr = nullptr;
}

// Work copies, and the clone numbers when clones are inferred.
void allocate_work(OutputContext& ctx) {
  auto& v = variables;
  const int4 n = v.smplsize;
  ctx.offspringlist.allocate(Dim(n));
  ctx.clustcopy1.allocate(Dim(n));
  ctx.clustcopy2.allocate(Dim(n));
  if (v.allowclone == 1) v.cloneconfig.allocate(Dim(n));
}

void point_order() {
  variables.indivorder = variables.number1tgt.view();
}

void save_known_parents(OutputContext& ctx) {
  const auto& v = variables;
  ctx.knownparents = v.indivparent.allocated();
  if (ctx.knownparents) ctx.savedparent = v.indivparent.copy();
}

// The known parentage as read, back into indivparent.
void restore_known_parents(const OutputContext& ctx) {
  auto& v = variables;
  if (!ctx.knownparents) return;
  std::copy(ctx.savedparent.data(), ctx.savedparent.data() + ctx.savedparent.size(),
            v.indivparent.data());
}

void aim_at_best() {
  auto& v = variables;
  v.inferparentprt = v.btinferparent.view();
  v.indivlocprt = v.btindivloc.view();
}

// Known parents spread over their sibships in the best configuration; with offspring that are
// also candidates, every archived record and then the best configuration regrouped.
void merge_known_parents(OutputContext& ctx) {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.unknowngen == 1) {
    regroup_archive(ctx.savedparent, ctx.knownparents);
    for (int4 i = 1; i <= n; ++i) ctx.clustcopy1(i) = v.btindivloc(i, 3);
  }
  aim_at_best();
  restore_known_parents(ctx);
  mergeparentage();
  if (v.unknowngen == 1) recluster();
}

void announce() {
  screen_write("(/A)", "Preparing & outputing results...");
}

void name_parents() {
  auto& v = variables;
  v.bestparentid.allocate(Dim(v.smplsize), Dim(2));
  name_best_parents();
}

void best_cluster_file(OutputContext& ctx) {
  const auto& v = variables;
  ctx.clusterprob.allocate(Dim(std::max(v.btnumfamily(3), best_column_top(3))));
  findfamilyprob(ctx.clusterprob);
  write_best_cluster(ctx.clusterprob);
}

void full_sib_families(OutputContext& ctx) {
  const auto& v = variables;
  if (v.compfsprob != 1) return;
  ctx.probinc.allocate(Dim(v.smplsize));
  ctx.probexc.allocate(Dim(v.smplsize));
  findfsfamilyprob(ctx.probinc, ctx.probexc, v.smplsize, ctx.selfrate);
  write_best_fs_family(ctx.probinc, ctx.probexc);
}

void clone_index(OutputContext& ctx) {
  if (variables.allowclone == 1) number_clone_groups(ctx.cloneindex);
}

void inbreeding_file(const OutputContext& ctx) {
  const auto& v = variables;
  if (v.allowinbreeding == 1 && v.threadid == 0) write_inbreeding(ctx.selfrate);
}

// The inference sees the clusters of the search: the grouped column is kept aside.
void inference_clusters(OutputContext& ctx) {
  auto& v = variables;
  v.inferparentprt = v.btinferparent.view();
  if (v.unknowngen != 1) return;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    ctx.clustcopy2(i) = v.btindivloc(i, 3);
    v.btindivloc(i, 3) = ctx.clustcopy1(i);
  }
}

// Inferred genotypes need a finer likelihood than the search: at least 0.01.
void genotype_inference() {
  auto& v = variables;
  if (v.prec1 < 0.01) {
    v.prec1 = 0.01;
    v.prec3 = 0.001;
  }
  infer_genotypes_and_frequencies();
}

// The thresholds of the analysis again, and the grouped clusters back.
void reset_precision(const OutputContext& ctx) {
  auto& v = variables;
  if (v.likelihoodprecision < 1) {
    v.prec1 = 0.05;
    v.prec3 = 0.005;
  } else {
    v.prec1 = real_integer_power(0.1, 2 * v.likelihoodprecision);
    v.prec3 = 0.1 * v.prec1;
  }
  if (v.unknowngen == 1)
    for (int4 i = 1; i <= v.smplsize; ++i) v.btindivloc(i, 3) = ctx.clustcopy2(i);
  v.indivlocprt = v.btindivloc.view();
}

void allele_frequency_file() {
  const auto& v = variables;
  if (v.popallelefreknownq == 0 && v.allelefreest != 0) write_allele_frequencies();
}

// The best configuration becomes the current one (its clusters are renumbered by the
// error-rate step itself).
void copy_best_to_current() {
  auto& v = variables;
  const int4 n = v.smplsize;
  if (v.locus2logl.allocated()) v.locus2logl.deallocate();
  if (!v.crindivloc.allocated()) v.crindivloc.allocate(Dim(n), Dim(3));
  if (!v.inferparent.allocated()) v.inferparent.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = v.btindivloc(i, 1);
    v.crindivloc(i, 2) = v.btindivloc(i, 2);
    v.inferparent(i, 1) = v.btinferparent(i, 1);
    v.inferparent(i, 2) = v.btinferparent(i, 2);
  }
  for (int4 k = 1; k <= 3; ++k) v.crnumfamily(k) = v.btnumfamily(k);
}

}  // namespace

void set_output_seam(std::function<void(std::string_view)> seam) {
  results_seams.output = std::move(seam);
}

void output() {
  auto& v = variables;
  // No run left a best configuration: nothing to write.
  if (v.btnumfamily(3) == 0 && v.confighead == nullptr) return;
  OutputContext ctx;
  // Result files of an earlier analysis of the stem that this one does not write would stand
  // beside this one's as if they were its own; the others are replaced as each is written.
  if (v.threadid == 0) remove_unwritten_result_files();
  step("allocate_work");
  allocate_work(ctx);
  archive_best_if_empty();
  step("point_order");
  point_order();
  step("normalise_one_pool");
  if (v.numsex == 1) normalise_one_pool();
  step("renumber_clusters");
  renumber_best_clusters();
  step("save_known_parents");
  save_known_parents(ctx);
  step("merge_known_parents");
  merge_known_parents(ctx);
  step("announce");
  announce();
  step("name_parents");
  name_parents();
  step("best_cluster");
  best_cluster_file(ctx);
  step("full_sib_families");
  full_sib_families(ctx);
  step("clone_index");
  clone_index(ctx);
  step("best_config");
  write_best_config(ctx.cloneindex);
  step("restore_known_parents");
  restore_known_parents(ctx);
  step("archive_files");
  archiveconfigwrite();
  step("inbreeding");
  inbreeding_file(ctx);
  step("inference_clusters");
  inference_clusters(ctx);
  step("genotype_inference");
  genotype_inference();
  step("reset_precision");
  reset_precision(ctx);
  step("allele_frequencies");
  allele_frequency_file();
  step("copy_best_to_current");
  copy_best_to_current();
  step("error_rates");
  errorrateestimate();
  step("free_work");
}

}  // namespace kinrad
