#pragma once
// Shared pieces of the error-rate tests: the synthetic objectives of the reference generator
// (tests/results/generators/error_rate_reference.py, which transcribes the minimiser and the
// per-locus estimation independently of the C++), a boxed wrapper with the shape of the
// program's objective, and the reader of the generator's tables.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "results/error_rate_internal.hpp"

namespace kinrad::test {

// The objectives, term by term in the generator's order of operations.
inline real8 g_quad2(const PowellPoint& x) {
  const real8 a = x(1) - 0.3;
  const real8 b = x(2) - 0.6;
  return 3.0 * (a * a) + b * b + 0.5 * (a * b);
}
inline real8 g_upper2(const PowellPoint& x) {
  const real8 a = x(1) - 1.4;
  const real8 b = x(2) - 0.2;
  return a * a + b * b + 0.1;
}
inline real8 g_flat(const PowellPoint&) {
  return 0.0;
}
inline real8 g_quad1(const PowellPoint& x) {
  const real8 a = x(1) - 0.04;
  return 7.0 * (a * a) + 2.0;
}
inline real8 g_two(const PowellPoint& x) {
  const real8 a = x(1) - 0.05;
  const real8 b = x(2) - 0.01;
  return 100.0 + 2000.0 * (a * a) + 5000.0 * (b * b) + 300.0 * (a * b);
}
inline real8 g_one(const PowellPoint& x) {
  const real8 a = x(1) - 0.02;
  return 100.0 + 3000.0 * (a * a);
}
inline real8 g_other(const PowellPoint& x) {
  const real8 a = x(1) - 0.03;
  return 50.0 + 8000.0 * (a * a);
}
inline real8 g_corner(const PowellPoint& x) {
  return 100.0 + 40.0 * x(1) + 60.0 * x(2);
}
inline real8 g_snap(const PowellPoint& x) {
  const real8 a = x(1) - 0.05;
  const real8 b = x(2) - 0.01;
  return 100.0 + 10000000.0 * (a * a) + 5000.0 * (b * b);
}
inline real8 g_snap_one(const PowellPoint& x) {
  const real8 a = x(1) - 0.05;
  return 100.0 + 10000000.0 * (a * a);
}

// The shape of the program's objective over a synthetic g: 1e100 outside rangeerrorrate (not
// counted), else min(|g + drift x count - loglerrorrateconst|, 1e100).
struct BoxedObjective {
  std::function<real8(const PowellPoint&)> g;
  real8 drift = 0.0;
  int4 count = 0;
  real8 operator()(const PowellPoint& x) {
    const auto& v = variables;
    for (int4 j = 1; j <= v.numerrorrate; ++j)
      if (x(j) < v.rangeerrorrate(1, j) || x(j) > v.rangeerrorrate(2, j)) return 1e100;
    ++count;
    const real8 s = g(x) + drift * count;
    return std::min(std::fabs(s - v.loglerrorrateconst), 1e100);
  }
};

// The rows of a generator table by name: the fields after the name, as text.
inline std::map<std::string, std::vector<std::string>> read_reference(const std::string& file) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  std::map<std::string, std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string name, field;
    s >> name;
    while (s >> field) rows[name].push_back(field);
  }
  return rows;
}

}  // namespace kinrad::test
