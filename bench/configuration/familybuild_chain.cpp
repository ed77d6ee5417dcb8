// Times familybuild on one chain-shaped cluster: father k mates mothers k - 1 and k, so the
// cluster is a path through every parent, visited from its far end, the order in which a
// pass-by-pass growth from the seed's father gains one row per pass. The build must stay
// linear in the rows: at most 50 ms for 20000 rows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace {

using namespace kinrad;

void setup_chain(int4 rows) {
  reset_all_modules();
  auto& v = variables;
  auto& av = annealvariables;
  v.smplsize = rows;
  v.numsex = 2;
  av.indivloc1.allocate(Dim(rows), Dim(4));
  av.indivclusterid.allocate(Dim(rows), Dim(3));
  const int4 m = std::max(rows, 100) + rows;
  av.selectedprntidxq1.allocate(Dim(m));
  av.selectedprntidxq2.allocate(Dim(m));
  av.selectedprntidxq3.allocate(Dim(m));
  v.familymemtgt.allocate(Dim(rows));
  // Row 2k - 1: father k with mother k; row 2k: father k + 1 with mother k.
  for (int4 r = 1; r <= rows; ++r) {
    const int4 k = (r + 1) / 2;
    av.indivloc1(r, 1) = r % 2 == 1 ? k : k + 1;
    av.indivloc1(r, 2) = k;
    av.indivloc1(r, 3) = 1;
    av.indivloc1(r, 4) = r;
  }
  v.number1tgt.allocate(Dim(rows));
  for (int4 j = 1; j <= rows; ++j) v.number1tgt(j) = rows + 1 - j;  // far end first
  v.indivlocprt = av.indivloc1.view();
  v.indivorder = v.number1tgt.view();
}

double time_build(int4 rows, int repeats) {
  std::vector<double> ms;
  for (int k = 0; k < repeats; ++k) {
    int4 nmember = 0;
    int4 maxfamsize = 0;
    const auto t0 = std::chrono::steady_clock::now();
    familybuild(1, rows, 1, nmember, maxfamsize, 0, 1, 0, 0);
    const auto t1 = std::chrono::steady_clock::now();
    if (nmember != rows) {
      std::printf("wrong cluster: %d of %d rows\n", nmember, rows);
      return 1e9;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  double at_20000 = 0.0;
  for (int4 rows : {5000, 10000, 20000, 32000}) {
    setup_chain(rows);
    const double ms = time_build(rows, 30);
    std::printf("familybuild chain %6d rows: median %8.3f ms  (%6.1f ns per row)\n", rows, ms,
                1e6 * ms / rows);
    if (rows == 20000) at_20000 = ms;
  }
  const bool ok = at_20000 <= 50.0;
  std::printf("20000 rows: %.3f ms, limit 50 ms: %s\n", at_20000, ok ? "met" : "EXCEEDED");
  return ok ? 0 : 1;
}
