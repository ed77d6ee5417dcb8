// The 95% interval of a sibship-frequency Ne by simulated sampling: each replicate draws a pair
// rate x from a normal around 0.5/Ne with the resampled spread, samples families of Poisson(2)
// sizes (size 0 redrawn) until about 0.5/x offspring are reached, and turns the sample's
// sib-pair frequency back into an Ne. The 25th and 975th of the 1000 sorted values bound the
// interval.
#include <cmath>

#include "core/random_numbers.hpp"
#include "core/sorting.hpp"
#include "results/ne_internal.hpp"

namespace kinrad {

namespace {

constexpr int4 replicates = 1000;

// P(K <= k) of a Poisson variable of mean 2, to 8 decimals, k = 0..11; the last entry ends
// every draw at 12.
constexpr real8 cdf[13] = {0.13533528, 0.40600585, 0.67667642, 0.85712346, 0.94734698,
                           0.98343639, 0.99546619, 0.99890328, 0.99976255, 0.99995350,
                           0.99999169, 0.99999863, 1.01};

// A family size from ran1, sizes of 0 drawn again.
int8 family_size() {
  for (;;) {
    const real8 u = ran1();
    int8 k = 0;
    while (!(cdf[k] > u)) ++k;
    if (k > 0) return k;
  }
}

// Ne of one simulated sample whose pair rate is x.
real8 replicate_value(real4 x) {
  // At or below this rate the sample would need more than 5e7 offspring: infinite.
  if (!(x > 1e-8f)) return ne_infinite;
  const int4 n = ne_nint(0.5f / x);
  int8 t = 0;
  int8 q = 0;
  while (t < n) {
    const int8 k = family_size();
    t += k;
    q += k * (k - 1) / 2;
  }
  if (q <= 0) return ne_infinite;
  const real8 tt = static_cast<real8>(t);
  return 2.0 / ((2.0 / ((tt - 1.0) * tt)) * static_cast<real8>(q));
}

}  // namespace

void geneticsampling(int4 ne, real4 sd, std::array<int4, 2>& ci) {
  if (ne > 2147483600) {
    ci = {1, ne_infinite};
    return;
  }
  const real4 mean = 0.5f / static_cast<real4>(ne);
  FArray<real8, 1> values{Dim(replicates)};
  FArray<int4, 1> order{Dim(replicates)};
  for (int4 r = 1; r <= replicates; ++r) {
    const real4 x = gasdev() * sd + mean;
    values(r) = replicate_value(x);
  }
  indexx(replicates, &values(1), &order(1));
  ci[0] = ne_nint(values(order(25)));
  ci[1] = ne_nint(values(order(975)));
}

}  // namespace kinrad
