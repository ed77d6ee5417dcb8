// Times the validity test of one proposal: an offspring moved to another family inside a
// single cluster of n offspring (every other offspring a staying row), in a sample with a known
// father, excluded sibships and candidates, so that the proposal passes every test and each
// test walks the rows it is given. The cost grows linearly with the rows of the move.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace {

using namespace kinrad;

void setup(int4 n) {
  reset_all_modules();
  auto& v = variables;
  auto& av = annealvariables;
  const int4 nc = 50;
  const int4 k = std::max(2, n / 10);
  v.smplsize = n;
  v.numsex = 2;
  v.numcandidate(1) = v.numcandidate(2) = nc;
  v.allcandidate = 2 * nc;
  v.maxmatings(1) = v.maxmatings(2) = n;
  v.smplsizedh(2) = n;
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.inferparent2.allocate(Dim(n), Dim(2));
  v.indivparent.allocate(Dim(n), Dim(2));
  v.indivparent.fill(-1);
  v.knownsibship.allocate(Dim(n), Dim(2));
  v.offploid.allocate(Dim(n));
  v.offploid.fill(2);
  v.cndinothersex.allocate(Dim(nc), Dim(2));
  v.cndinoffspring.allocate(Dim(nc), Dim(2));
  v.offspringincnd.allocate(Dim(n), Dim(2));
  av.unassignedcnd.allocate(Dim(nc), Dim(2));
  av.unassignedcnd.fill(1);
  const int4 m = std::max(n, 100) + n;
  av.selectedprntidxq1.allocate(Dim(m));
  av.selectedprntidxq2.allocate(Dim(m));
  av.selectedprntidxq3.allocate(Dim(m));
  v.kdxtgt.allocate(Dim(m));
  v.ldxtgt.allocate(Dim(m));
  v.selectedindivq.allocate(Dim(m));
  for (auto& e : v.selectedindivq) e.p = &v.falsetgt;
  av.knownsibshipq.allocate(Dim(0, 1));
  for (auto& e : av.knownsibshipq) e.p = &v.falsetgt;
  av.indivloc1.allocate(Dim(n), Dim(4));
  av.indivloc2.allocate(Dim(n), Dim(4));
  av.indivloc3.allocate(Dim(n), Dim(4));
  av.indivlocidx.allocate(Dim(n), Dim(3));
  av.numindivlocidx.allocate(Dim(3));
  av.indivparentage.allocate(Dim(n), Dim(2));
  av.inferparentage.allocate(Dim(n), Dim(2), Dim(2));
  av.clustersize.allocate(Dim(6), Dim(n));
  // Father (i mod k) + 1 with mother (i / k mod k) + 1: one cluster.
  for (int4 i = 1; i <= n; ++i) {
    v.crindivloc(i, 1) = (i - 1) % k + 1;
    v.crindivloc(i, 2) = (i - 1) / k % k + 1;
    v.crindivloc(i, 3) = 1;
  }
  v.crnumfamily(1) = k;
  v.crnumfamily(2) = std::min(k, (n - 1) / k + 1);
  v.crnumfamily(3) = 1;
  // Father 1 is candidate 1, known for its first offspring.
  for (int4 i = 1; i <= n; ++i)
    if (v.crindivloc(i, 1) == 1) v.inferparent(i, 1) = v.inferparent2(i, 1) = 1;
  av.unassignedcnd(1, 1) = 0;
  v.indivparent(1, 1) = 1;
  v.numknownprnt(1) = 1;
  v.numknownprnt(3) = 1;
  v.anyknownprntq(1) = 1;
  // Excluded sibships between offspring of different mothers.
  v.excludedsib.allocate(Dim(n), Dim(2));
  v.excludedsibshipq.allocate(Dim(n));
  v.anyexcludedsibshipq(2) = 1;
  for (int4 i = 2; i <= n; i += 97) {
    const int4 j = i - 1;
    if (v.crindivloc(i, 2) == v.crindivloc(j, 2)) continue;
    FArray<int4, 1>& w = v.excludedsib(i, 2).a;
    w.allocate(Dim(0, (i - 1) / 32));
    w((j - 1) / 32) = static_cast<int4>(1u << ((j - 1) % 32));
    v.excludedsibshipq(i) = v.excludedsibshipq(j) = 1;
  }
}

// Offspring n moves to father 2 with its own mother; every other offspring is a staying row.
void build_move(int4 n) {
  auto& v = variables;
  auto& av = annealvariables;
  av.movingtype = 1;
  av.moveindiv = n;
  av.hostfamily(1) = 2 == v.crindivloc(n, 1) ? 3 : 2;
  av.hostfamily(2) = v.crindivloc(n, 2);
  av.hostfamily(3) = 1;
  av.numindivlocidx(1) = av.numindivlocidx(2) = av.numindivlocidx(3) = 0;
  int4 r = 1;
  av.indivloc2(1, 1) = av.hostfamily(1);
  av.indivloc2(1, 2) = av.hostfamily(2);
  av.indivloc2(1, 4) = n;
  av.indivlocidx(++av.numindivlocidx(3), 3) = 1;
  for (int4 o = 1; o < n; ++o) {
    ++r;
    av.indivloc2(r, 1) = v.crindivloc(o, 1);
    av.indivloc2(r, 2) = v.crindivloc(o, 2);
    av.indivloc2(r, 4) = o;
    av.indivlocidx(++av.numindivlocidx(2), 2) = r;
  }
  av.numindiv(1) = 0;
  av.numindiv(2) = r;
  av.numindivparentage(1) = av.numindivparentage(2) = 0;
}

}  // namespace

int main() {
  std::printf("%8s %12s\n", "rows", "us/call");
  for (const int4 n : {1000, 4000, 16000, 32000}) {
    setup(n);
    build_move(n);
    int4 ok = -1;
    checkconfiguration(ok, 0, 1, 0);
    if (ok != 1) {
      std::printf("proposal refused by test %d\n", annealvariables.checkrefusal);
      return 1;
    }
    const int calls = std::max(20, 2000000 / n);
    std::vector<double> us;
    for (int rep = 0; rep < 5; ++rep) {
      const auto t0 = std::chrono::steady_clock::now();
      for (int c = 0; c < calls; ++c) checkconfiguration(ok, 0, 1, 0);
      const auto t1 = std::chrono::steady_clock::now();
      us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / calls);
    }
    std::sort(us.begin(), us.end());
    std::printf("%8d %12.2f\n", n, us[us.size() / 2]);
  }
  return 0;
}
