#pragma once
// A copy of the search's random stream: the state of ran2 (idum3, idum2, idumiy and the
// shuffle table idumiv of `variables`), taken, put back, compared, and drawn from without
// touching the stream itself; and the start of the stream as the search makes it.
#include <algorithm>

#include "core/kinds.hpp"
#include "core/modules/variables.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::testing_support {

struct Ran2State {
  int4 idum3 = 0, idum2 = 0, idumiy = 0;
  decltype(Variables::idumiv) idumiv{};

  // The stream as it stands.
  static Ran2State save() {
    const auto& v = variables;
    Ran2State s;
    s.idum3 = v.idum3;
    s.idum2 = v.idum2;
    s.idumiy = v.idumiy;
    s.idumiv = v.idumiv;
    return s;
  }
  // Puts this state back into the stream.
  void restore() const {
    auto& v = variables;
    v.idum3 = idum3;
    v.idum2 = idum2;
    v.idumiy = idumiy;
    v.idumiv = idumiv;
  }
  // The next draw of this copy, which advances; the stream itself is left as it was.
  real8 draw() {
    const Ran2State real = save();
    restore();
    const real8 u = ran2();
    *this = save();
    real.restore();
    return u;
  }
  // True when the stream stands at this state.
  bool is_current() const { return *this == save(); }
  bool operator==(const Ran2State& o) const {
    return idum3 == o.idum3 && idum2 == o.idum2 && idumiy == o.idumiy &&
           std::equal(idumiv.begin(), idumiv.end(), o.idumiv.begin());
  }
};

// Starts the stream as the search starts a fresh run with seed `seed` (> 0): the shuffle table
// empty, the second generator at its fixed start and idum3 the negated seed.
inline void start_stream(int4 seed) {
  auto& v = variables;
  v.idum3 = -seed;
  v.idum2 = 123456789;
  v.idumiy = 0;
  v.idumiv.fill(0);
}

}  // namespace kinrad::testing_support
