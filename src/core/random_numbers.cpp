#include "core/random_numbers.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

// Two's-complement wrap of a 64-bit value to 32 bits: the result 32-bit arithmetic gives,
// computed without overflow (abs of -2147483648 stays -2147483648).
int4 wrap32(int8 v) {
  return static_cast<int4>(static_cast<std::uint32_t>(v));
}
int4 abs32(int4 v) {
  return wrap32(v < 0 ? -static_cast<int8>(v) : static_cast<int8>(v));
}

// One step of a multiplicative congruential generator by Schrage's method, which keeps every
// product inside 32 bits.
int4 schrage(int4 s, int4 a, int4 m, int4 q, int4 r) {
  const int4 k = s / q;
  s = a * (s - k * q) - k * r;
  if (s < 0) s += m;
  return s;
}

}  // namespace

real8 ran2() {
  constexpr int4 IM1 = 2147483563;
  constexpr int4 IM2 = 2147483399;
  constexpr int4 IA1 = 40014;
  constexpr int4 IA2 = 40692;
  constexpr int4 IQ1 = 53668;
  constexpr int4 IQ2 = 52774;
  constexpr int4 IR1 = 12211;
  constexpr int4 IR2 = 3791;
  constexpr int4 NTAB = 32;
  constexpr int4 IMM1 = IM1 - 1;
  constexpr int4 NDIV = 1 + IMM1 / NTAB;
  constexpr real8 AM = 1.0 / IM1;
  constexpr real8 RNMX = 1.0 - 1.2e-7;  // keeps the result below 1

  auto& v = variables;
  if (v.idum3 <= 0) {
    v.idum3 = std::max(abs32(v.idum3), 1);
    v.idum2 = v.idum3;
    for (int4 j = NTAB + 8; j >= 1; --j) {
      v.idum3 = schrage(v.idum3, IA1, IM1, IQ1, IR1);
      if (j <= NTAB) v.idumiv(j) = v.idum3;
    }
    v.idumiy = v.idumiv(1);
  }
  v.idum3 = schrage(v.idum3, IA1, IM1, IQ1, IR1);
  v.idum2 = schrage(v.idum2, IA2, IM2, IQ2, IR2);
  const int4 j = v.idumiy / NDIV + 1;
  v.idumiy = v.idumiv(j) - v.idum2;
  v.idumiv(j) = v.idum3;
  if (v.idumiy < 1) v.idumiy += IMM1;
  return std::min(AM * v.idumiy, RNMX);
}

real4 ran1() {
  constexpr int4 IA = 16807;
  constexpr int4 IM = 2147483647;
  constexpr int4 IQ = 127773;
  constexpr int4 IR = 2836;

  auto& s = random_stream_state;
  int4& idum = variables.idum;
  if (idum <= 0 || s.iy < 0) {
    // The largest single below 1.0 over IM, so that the result stays below 1.
    s.am = std::bit_cast<real4>(std::uint32_t{0x2FFFFFFF});
    const int4 a = abs32(idum);
    s.iy = (888889999 ^ a) | 1;
    s.ix = static_cast<std::uint32_t>(777755555 ^ a);
    idum = wrap32(static_cast<int8>(a) + 1);
  }
  s.ix ^= s.ix << 13;
  s.ix ^= s.ix >> 17;
  s.ix ^= s.ix << 5;
  s.iy = schrage(s.iy, IA, IM, IQ, IR);
  const auto bits = static_cast<int4>(((s.ix ^ static_cast<std::uint32_t>(s.iy)) & IM) | 1u);
  return s.am * static_cast<real4>(bits);
}

real4 gasdev() {
  auto& s = random_stream_state;
  if (s.gasdev_kept) {
    s.gasdev_kept = false;
    return s.gasdev_deviate;
  }
  real4 p;
  real4 q;
  real4 rsq;
  do {
    p = 2.0f * ran1() - 1.0f;
    q = 2.0f * ran1() - 1.0f;
    rsq = p * p + q * q;
  } while (!(rsq >= 1e-10f && rsq < 1.0f));
  const real4 fac = std::sqrt(-2.0f * std::log(rsq) / rsq);
  s.gasdev_deviate = p * fac;
  s.gasdev_kept = true;
  return q * fac;
}

real4 poidev(real4 xm) {
  constexpr real4 PI = 3.1415927f;
  auto& s = random_stream_state;
  // The cached values also remember their method: two means closer than the tolerance can
  // still fall on both sides of 12, and must not share them.
  const bool rejection = !(xm < 12.0f);
  const bool fresh = std::fabs(xm - s.poidev_oldm) > 1e-6f || s.poidev_rejection != rejection;
  if (!rejection) {
    if (fresh) {
      s.poidev_oldm = xm;
      s.poidev_rejection = false;
      s.poidev_g = std::exp(-xm);
    }
    real4 em = -1.0f;
    real4 t = 1.0f;
    do {
      em += 1.0f;
      t *= ran1();
    } while (t > s.poidev_g);
    return em;
  }
  if (fresh) {
    s.poidev_oldm = xm;
    s.poidev_rejection = true;
    s.poidev_sq = std::sqrt(2.0f * xm);
    s.poidev_alxm = std::log(xm);
    s.poidev_g = static_cast<real4>(static_cast<real8>(xm * s.poidev_alxm) -
                                    gammln(static_cast<real8>(xm) + 1.0));
  }
  for (;;) {
    const real4 y = std::tan(PI * ran1());
    real4 em = s.poidev_sq * y + xm;
    if (em < 0.0f) continue;
    em = std::trunc(em);
    const real4 x =
        static_cast<real4>(static_cast<real8>(em * s.poidev_alxm) -
                           gammln(static_cast<real8>(em) + 1.0) - static_cast<real8>(s.poidev_g));
    // Below this the comparison value is 0 in single precision anyway.
    if (x < -87.0f) continue;
    const real4 t = 0.9f * (1.0f + y * y) * std::exp(x);
    if (ran1() <= t) return em;
  }
}

int4 irbit1() {
  // The primitive polynomial x^18 + x^5 + x^2 + x + 1 modulo 2.
  std::uint32_t& seed = random_stream_state.irbit1_seed;
  const std::uint32_t newbit = ((seed >> 17) ^ (seed >> 4) ^ (seed >> 1) ^ seed) & 1u;
  seed = (seed << 1) | newbit;
  return static_cast<int4>(newbit);
}

real8 gammln(real8 x) {
  static constexpr real8 cof[6] = {76.18009172947146,  -86.50532032941677,    24.01409824083091,
                                   -1.231739572450155, 0.1208650973866179e-2, -0.5395239384953e-5};
  constexpr real8 stp = 2.5066282746310005;
  real8 tmp = x + 5.5;
  tmp = (x + 0.5) * std::log(tmp) - tmp;
  real8 ser = 1.000000000190015;
  for (int4 j = 1; j <= 6; ++j) ser += cof[j - 1] / (x + j);
  return tmp + std::log(stp * ser / x);
}

}  // namespace kinrad
