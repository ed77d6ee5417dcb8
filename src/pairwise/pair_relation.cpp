// The pairwise step, run once per analysis before the search: parentage thresholds by
// simulation, the sibship and parentage phases with their files, and from what they measured
// the start temperature of the search and the log priors of sampled parents, which go to the
// step's marker file. The marker is written last, so an interrupted step is run again.
#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// Polymorphic loci as a divisor: data without any still complete the step.
real8 lociforscale() {
  return static_cast<real8>(std::max(variables.numloci23, 1));
}

void pairwiseinference() {
  Variables& v = variables;
  const int4 n = v.smplsize;
  v.numberfsfamily = 0;
  if (v.locus2.allocated() && v.locus2(0) > 0) computegtypefre(0, 0);
  std::vector<real8> single(static_cast<std::size_t>(std::max(n, 1)));
  singleindivlikelihood(0.0, n, 0, single);
  setfamilystruc(n, 2);

  real8 as = 0.0, ws = 0.0, ap = 0.0, wp = 0.0;
  pairwise_sibship(std::span<const real8>(single.data(), static_cast<std::size_t>(n)), as, ws);
  pairwise_parentage(std::span<const real8>(single.data(), static_cast<std::size_t>(n)), ap, wp);

  // A selfing species: how far apart an offspring's likelihoods as selfed and as outbred lie.
  real8 d = 0.0;
  if (v.numsex == v.allowinbreeding && n > 0) {
    std::vector<real8> selfed(static_cast<std::size_t>(n));
    singleindivlikelihood(0.5, n, 0, selfed);
    for (int4 i = 0; i < n; ++i)
      d += std::fabs(selfed[static_cast<std::size_t>(i)] - single[static_cast<std::size_t>(i)]);
    d /= n;
  }
  const real8 t = starttemperature(as, ws, ap, wp, d);
  updatelogprior();
  if (v.threadid == 0) {
    const std::string record = markerrecord(t);
    write_replacing(
        std::string(trim(v.midfilename(5).view())), [&](std::ostream& f) { f << record; },
        WriteFailure{"PairwiseInference"});
  }
}

}  // namespace

real8 starttemperature(real8 as, real8 ws, real8 ap, real8 wp, real8 d) {
  const Variables& v = variables;
  real8 t = 0.0;
  if (ws > 1e-300) {
    t = as / ws;
    if (wp > 1e-300) t = 0.9 * as / ws + 0.1 * ap / wp;
  } else if (wp > 1e-300) {
    t = ap / wp;
  } else {
    t = lociforscale();
  }
  if (t < 1e-300) t = lociforscale();
  // Selfed and outbred offspring look alike when d is small: the temperature follows it down.
  // Without any difference (d = 0) the blend would give a start temperature of 0.
  if (v.numsex == v.allowinbreeding && d > 0.0) t = 2.0 / (1.0 / t + 1.0 / d);
  return t / std::pow(static_cast<real8>(v.smplsize), static_cast<real8>(0.1f));
}

void updatelogprior() {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  const real8 L = lociforscale();
  const int4 n = v.smplsize;
  const int4 nd = v.numdommarkers(1);
  const bool pairwise = v.fulllikelihoodmethodq == 0;
  int4 K = static_cast<int4>(std::lround(static_cast<real8>(std::min(nd, 120)) * nd / L));
  if (pairwise) {
    const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
    K += static_cast<int4>(std::lround(static_cast<real8>(n2 - nd) * 30.0 / L));
  }
  real8 m = 0.0;
  for (int4 k = 1; k <= v.numloci; ++k)
    if (v.obsnumallele(k) > 1) m += v.othererrorrate(k) / v.obsnumallele(k);
  m /= L;
  const real8 M = std::pow(m, 6) * L;

  // The threshold value of a table's row s.
  auto value = [&](const FArray<real8, 2>& table, int4 s) {
    if (!table.allocated()) return 0.0;
    if (!pairwise) return table(s, 5);
    int4 c = 0;
    for (int4 l = 2; l <= 5; ++l)
      if (std::fabs(table(s, l) - table(s, 1)) < 0.001) ++c;
    return table(s, 1) + c;
  };
  for (int4 s = 1; s <= 2; ++s) {
    if (v.numcandidate(s) < 1) continue;
    real8 D = 0.0;
    if (v.smplsizedh(1) > 0) D += v.smplsizedh(1) * value(sv.thresholdh, s);
    if (v.smplsizedh(2) > 0) D += v.smplsizedh(2) * value(sv.threshold, s);
    // An overflow to +Inf makes Q 0, as it should: such data say nothing against sampling.
    const real4 e = std::exp(static_cast<real4>(0.25 * (L - K)));
    real8 Q = D * (1.0 + K * 0.5 * std::log(1.0 + K) / L) / (1.0 + 0.05 * static_cast<real8>(e));
    if (pairwise) Q *= 1.5;
    const real8 a = v.propprntsampled(s);
    const real8 Qp = Q / (1.0 + 4.0 * a / (1.0 + a));
    const real8 P = std::exp(v.logprior(1, s));
    const real8 R = P / std::exp(std::min(Qp / n, 20.0)) / (1.0 + v.numcandidate(s) / a * n * M);
    v.logprior(1, s) = std::log(R);
    v.logprior(2, s) = std::log(1.0 - R);
  }
}

std::string markerrecord(real8 t) {
  const Variables& v = variables;
  std::string text = fwrite_string("(5ES18.8)", t, v.logprior(1, 1), v.logprior(2, 1),
                                   v.logprior(1, 2), v.logprior(2, 2));
  text += '\n';
  return text;
}

bool pairwise_marker_whole() {
  const std::string name(trim(variables.midfilename(5).view()));
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  // The step writes one record with a line end: a first record without one was cut short.
  std::string record;
  if (!std::getline(in, record) || in.eof()) return false;
  if (!record.empty() && record.back() == '\r') record.pop_back();
  std::array<real8, 5> values{};
  RecordReader reader = RecordReader::from_text(record);
  return reader.read_list_strict(std::span<real8>(values)) == IoStatus::ok;
}

void pairrelation() {
  Variables& v = variables;
  Simuvariables& sv = simuvariables;
  v.parallelq = 0;
  v.numberfsfamily = 0;
  const bool twoallele = v.locus2.allocated() && v.locus2(0) > 0;
  if (twoallele) computegtypefre(0, 0);
  setfamilystruc(v.smplsize, 2);

  if (v.allcandidate > 0) {
    allocate_delta_memos();
    sv.threshold.allocate(Dim(2), Dim(10));
    sv.threshold2.allocate(Dim(2), Dim(10));
    sv.thresholdh.allocate(Dim(2), Dim(10));
    if (v.smplsizedh(2) > 0) determinedeltavalue(2);
    if (v.smplsizedh(1) > 0) determinedeltavalue(1);
  }

  v.parallelq = 0;
  pairwiseinference();

  v.parallelq = v.numthreads > 1 ? 1 : 0;
  free_delta_memos();
  sv.clonedyadll.deallocate();
}

}  // namespace kinrad
