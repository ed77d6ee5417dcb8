#pragma once
// Seed budgets of the random-cluster oracle loops. The Release pass of scripts/test.sh runs
// every seed; the sanitized pass sets KINRAD_SEED_BUDGET (for example 20) so that each loop runs
// at most that many seeds and no test runs for minutes under the sanitizers. Coverage counts a
// loop checks at its end (clusters compared, cycles reached) scale with the seeds run, with a
// margin of one half for the spread of a short prefix of seeds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace kinrad::testing_support {

struct SeedBudget {
  std::uint32_t full = 0;  // the loop's own seed count
  std::uint32_t n = 0;     // the seeds this pass runs

  // A count the full loop must exceed, for the seeds this pass runs.
  int share(int at_full) const {
    if (n >= full) return at_full;
    return static_cast<int>(static_cast<std::int64_t>(at_full) * n / full / 2);
  }
};

inline SeedBudget seed_budget(std::uint32_t full) {
  SeedBudget b{full, full};
  if (const char* e = std::getenv("KINRAD_SEED_BUDGET")) {
    const long x = std::strtol(e, nullptr, 10);
    if (x > 0 && static_cast<std::uint32_t>(x) < full) b.n = static_cast<std::uint32_t>(x);
  }
  return b;
}

}  // namespace kinrad::testing_support
