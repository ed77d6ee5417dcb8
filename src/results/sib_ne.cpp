// Effective size from the frequencies of sib pairs in the archived configurations, once under
// random and once under non-random mating. The point estimates come from the best
// configuration; each interval pools the archive: configurations fall into classes by their
// pair counts, 1000 replicates draw a class by weight and Poisson pair counts around it, the
// spread of 0.5/Ne over the replicates feeds the simulated sampling of the interval. The draw
// order (class, then the two Poisson counts, per replicate; then the sampling of method 1 and
// of method 2) is part of the result: ran1 and gasdev continue their streams unseeded.
#include <cmath>
#include <string>

#include "configuration/configuration.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/sorting.hpp"
#include "results/ne_internal.hpp"
#include "results/results.hpp"

namespace kinrad {

namespace {

constexpr int4 replicates = 1000;

// The distinct pair counts met in the archive, in order of first appearance, with their
// summed weights.
struct PairClasses {
  int4 m = 0;
  FArray<SibPairCounts, 1> counts{};
  FArray<real8, 1> weight{};
};

// One estimate as the file shows it.
struct NeEstimate {
  std::string title;
  real8 alpha = 0.0;
  int4 ne = ne_infinite;
  std::array<int4, 2> ci{0, ne_infinite};
  real8 sum = 0.0;     // over the replicates: 0.5/Ne
  real8 square = 0.0;  // and its square
};

// The title of a method: the analysis's title and the mating assumption, within 100 characters.
std::string method_title(const char* mating) {
  const std::string head = variables.fulllikelihoodmethodq == 1
                               ? "Estimates by Kinrad full likelihood method"
                               : "Estimates by Kinrad pair-likelihood score method";
  std::string t = head + " : Assuming " + mating;
  if (t.size() > 100) t.resize(100);
  return t;
}

// Records of the archive.
int4 archive_length() {
  int4 k = 0;
  for (const Config* c = variables.confighead; c != nullptr; c = c->next) ++k;
  return k;
}

// Adds weight w to the class of `counts`, opening a new class when none matches.
void add_to_class(PairClasses& classes, const SibPairCounts& counts, real8 w) {
  for (int4 k = 1; k <= classes.m; ++k) {
    if (classes.counts(k) == counts) {
      classes.weight(k) += w;
      return;
    }
  }
  ++classes.m;
  classes.counts(classes.m) = counts;
  classes.weight(classes.m) = w;
}

// Walks the archive: the classes with their weights, and the point estimates of the best
// configuration.
void walk_archive(PairClasses& classes, NeEstimate& random, NeEstimate& nonrandom) {
  auto& v = variables;
  const std::array<bool, 2> x = {v.numcandidate(1) > 0 && v.numcndinoffspring(1) > 0,
                                 v.numcandidate(2) > 0 && v.numcndinoffspring(2) > 0};
  // A diploid species with both sexes monogamous: the maternal families repeat the paternal.
  const bool sex1_only = v.allmonogamy == 1 && v.haplodiploid == 0 && v.numsex == 2;
  const std::array<bool, 2> counted = {true, !sex1_only};
  SibPairWork work;
  sibpair_prepare(work);
  const int4 length = archive_length();
  classes.counts.allocate(Dim(length));
  classes.weight.allocate(Dim(length));
  real8 logl0 = 0.0;
  bool first = true;
  for (v.configptr = v.confighead; v.configptr != nullptr; v.configptr = v.configptr->next) {
    v.crrtconfig = v.configptr;
    real8 logl = 0.0;
    // Mode 1 rebuilds every column, the maternal one under double monogamy included.
    convertconfig(1, logl);
    const SibPairCounts counts = sibpair_count(work, counted, x);
    if (first) {
      logl0 = logl;
      random.ne = nevalue({counts.s1, counts.s2}, random.alpha, counts.e);
      nonrandom.ne = nevalue({counts.s1, counts.s2}, nonrandom.alpha, counts.e);
      first = false;
    }
    add_to_class(classes, counts, std::exp(logl - logl0));
  }
}

// The cumulative class weights in single precision, the last one above 1.
void cumulative_weights(const PairClasses& classes, FArray<real4, 1>& cum) {
  const int4 m = classes.m;
  real8 total = 0.0;
  for (int4 k = 1; k <= m; ++k) total += classes.weight(k);
  const real8 inv = 1.0 / total;
  FArray<real8, 1> c{Dim(m)};
  c(1) = classes.weight(1) * inv;
  for (int4 k = 2; k <= m - 1; ++k) c(k) = c(k - 1) + classes.weight(k) * inv;
  c(m) = 1.0001;
  cum.allocate(Dim(m));
  for (int4 k = 1; k <= m; ++k) cum(k) = static_cast<real4>(c(k));
}

// Adds the replicate's 0.5/Ne to the sums of one method.
void add_replicate(NeEstimate& est, const std::array<int4, 2>& q, int4 e) {
  const real4 r = 0.5f / static_cast<real4>(nevalue(q, est.alpha, e));
  est.sum += static_cast<real8>(r);
  est.square += static_cast<real8>(r * r);
}

// The replicates: a class by weight, Poisson pair counts around its counts, both methods.
void resample(const PairClasses& classes, NeEstimate& random, NeEstimate& nonrandom) {
  FArray<real4, 1> cum;
  cumulative_weights(classes, cum);
  for (int4 r = 1; r <= replicates; ++r) {
    int4 k = 1;
    if (classes.m > 1) {
      int4 j = 0;
      locate(&cum(1), classes.m, ran1(), j);
      k = j + 1;
    }
    const SibPairCounts& c = classes.counts(k);
    const int4 q1 = ne_nint(poidev(static_cast<real4>(c.s1)));
    const int4 q2 = ne_nint(poidev(static_cast<real4>(c.s2)));
    add_replicate(random, {q1, q2}, c.e);
    add_replicate(nonrandom, {q1, q2}, c.e);
  }
}

// The spread of 0.5/Ne over the replicates, in single precision.
real4 replicate_sd(const NeEstimate& est) {
  const real8 f = 0.001f;
  const real8 mean = est.sum * f;
  const real8 msq = est.square * f;
  return std::sqrt(static_cast<real4>(std::fabs(msq - mean * mean)));
}

// The interval of one method.
void interval(NeEstimate& est) {
  geneticsampling(est.ne, replicate_sd(est), est.ci);
  if (est.ci[1] < 0) est.ci[1] = ne_infinite;
}

// The ".Ne" file: both methods, then the heterozygote-excess block.
void write_ne_file(const NeEstimate& random, const NeEstimate& nonrandom) {
  const std::string dashes(100, '-');
  ReplacingFile out(variables.fname + ".Ne", WriteFailure{"sibne"});
  for (const NeEstimate* est : {&random, &nonrandom}) {
    out.write("(A/A/A)", dashes, est->title, dashes);
    out.write("(A, F14.2)", "Alpha   =", est->alpha);
    out.write("(A, I14)", "Ne      =", est->ne);
    out.write("(A, I14)", "CI95(L) =", est->ci[0]);
    out.write("(A, I14)", "CI95(U) =", est->ci[1]);
  }
  out.write("(/A/A/A)", dashes, "Estimates by heterozygote excess method", dashes);
  int4 ne = 0;
  std::array<int4, 2> ci{};
  heterozygoteexcess(ne, ci);
  out.write("(A, I14)", "Ne(Het) =", ne);
  out.write("(A, I14)", "CI95(L) =", ci[0]);
  out.write("(A, I14)", "CI95(U) =", ci[1]);
  out.commit();
}

}  // namespace

void sibne() {
  auto& v = variables;
  // Without an archived configuration there is nothing to estimate from.
  if (v.confighead == nullptr) return;
  screen_write("(A)", "Estimating Ne by sibship frequencies...");
  NeEstimate random{method_title("random mating")};
  NeEstimate nonrandom{method_title("nonrandom mating")};
  if (v.smplsizedh(2) > 0) {
    FArray<int4, 2> counts;
    alfaestimate(nonrandom.alpha, counts);
  }
  PairClasses classes;
  walk_archive(classes, random, nonrandom);
  resample(classes, random, nonrandom);
  interval(random);
  interval(nonrandom);
  write_ne_file(random, nonrandom);
}

}  // namespace kinrad
