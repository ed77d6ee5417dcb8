// Times the numbering of the initial clusters (setinitconfiglogl without scores) on samples of
// full-sib pairs, every pair a cluster of its own: each cluster that is not a lone offspring
// is grown over the rest of the sample, so the time grows with the sample times the clusters.
// Also times one duplicate test of the archive (mode 1, an equal record in the score window)
// and the partition comparison of one group of the whole sample.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace {

using namespace kinrad;

void setup(int4 n) {
  reset_all_modules();
  auto& v = variables;
  auto& av = annealvariables;
  v.smplsize = n;
  v.numsex = 2;
  v.displayq = 0;
  v.chkidx1 = 1;
  v.chkidx2 = 2;
  v.fulllikelihoodmethodq = 1;
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.offtgt.allocate(Dim(n), Dim(3));
  v.prnttgt.allocate(Dim(n), Dim(2));
  av.indivloc1.allocate(Dim(n), Dim(4));
  av.clustersize.allocate(Dim(6), Dim(n));
  av.clustersizet.allocate(Dim(n));
  const int4 m = std::max(n, 100) + n;
  av.selectedprntidxq1.allocate(Dim(m));
  av.selectedprntidxq2.allocate(Dim(m));
  av.selectedprntidxq3.allocate(Dim(m));
  v.kdxtgt.allocate(Dim(m));
  v.ldxtgt.allocate(Dim(m));
  v.number1tgt.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) v.number1tgt(i) = i;
  v.indivorder = v.number1tgt.view();
  // Offspring 2k - 1 and 2k are full sibs of parents (k, k).
  for (int4 i = 1; i <= n; ++i) v.crindivloc(i, 1) = v.crindivloc(i, 2) = (i + 1) / 2;
}

template <class F>
double median_ms(int repeats, F&& f) {
  std::vector<double> ms;
  for (int k = 0; k < repeats; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  for (int4 n : {2000, 5000, 10000, 20000}) {
    setup(n);
    FStatic<int2, 1, 2> hs{};
    const double ms = median_ms(5, [&] { setinitconfiglogl(0, hs); });
    std::printf("initial clusters, %6d offspring in %6d pair clusters: median %9.3f ms\n", n,
                variables.crnumfamily(3), ms);
  }
  {
    const int4 n = 20000;
    setup(n);
    FStatic<int2, 1, 2> hs{};
    setinitconfiglogl(0, hs);
    auto& v = variables;
    v.crloglikelihood = -50000.0;
    v.indivlocprt = v.crindivloc.view();
    v.inferparentprt = v.inferparent.view();
    v.loglikelihoodprt = &v.crloglikelihood;
    archiveconfigadd(1, v.crnumfamily(3));
    const double ms = median_ms(21, [&] { archiveconfigadd(1, v.crnumfamily(3)); });
    std::printf("archive duplicate test, %d offspring, one equal record: median %9.3f ms\n", n, ms);
  }
  {
    const int4 n = 32760;
    setup(n);
    std::mt19937 rng(3);
    FArray<int4, 2> a(Dim(n), Dim(2)), b(Dim(n), Dim(2));
    std::vector<int4> members(static_cast<std::size_t>(n));
    std::iota(members.begin(), members.end(), 1);
    for (int4 i = 1; i <= n; ++i) {
      a(i, 1) = b(i, 1) = static_cast<int4>(rng() % 3000) + 1;
      a(i, 2) = static_cast<int4>(rng() % 3000) + 1;
      b(i, 2) = 3001 - a(i, 2);
    }
    int4 diff = 0;
    const double ms = median_ms(21, [&] { noneqtcluster(a, b, n, members.data(), diff); });
    std::printf(
        "partition comparison of %d offspring, one column relabelled: median %9.3f ms "
        "(diff %d)\n",
        n, ms, diff);
  }
  return 0;
}
