#include <cassert>
#include <cstdint>

#include "configuration/configuration.hpp"
#include "configuration/configuration_internal.hpp"
#include "core/modules/configuration_work.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

namespace {

using u16 = std::uint16_t;

inline u16 encode(int4 value) {
  return static_cast<u16>(value);
}
inline int4 decode(u16 value) {
  return static_cast<int4>(value);
}

// Candidate parents of one sex as the record keeps them: nothing, a dense column over all
// offspring, or (offspring, candidate) rows for the offspring that have one.
void encode_parents(FArray<u16, 2>& out, int4 sex) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const auto& prt = v.inferparentprt;
  if (v.numcandidate(sex) < 1) return;
  int4 k = 0;
  for (int4 i = 1; i <= n; ++i)
    if (prt(i, sex) > 0) ++k;
  if (k == 0) return;
  if (2 * static_cast<int8>(k) >= n) {
    out.allocate(Dim(n), Dim(1));
    for (int4 i = 1; i <= n; ++i) out(i, 1) = encode(prt(i, sex) > 0 ? prt(i, sex) : 0);
  } else {
    out.allocate(Dim(k), Dim(2));
    int4 row = 0;
    for (int4 i = 1; i <= n; ++i) {
      if (prt(i, sex) <= 0) continue;
      ++row;
      out(row, 1) = encode(i);
      out(row, 2) = encode(prt(i, sex));
    }
  }
}

void decode_parents(const FArray<u16, 2>& in, int4 sex) {
  auto& v = variables;
  const int4 n = v.smplsize;
  for (int4 i = 1; i <= n; ++i) v.prnttgt(i, sex) = 0;
  if (!in.allocated()) return;
  if (in.size(2) == 1) {
    for (int4 i = 1; i <= n; ++i) v.prnttgt(i, sex) = decode(in(i, 1));
  } else {
    for (index_t j = 1; j <= in.size(1); ++j) v.prnttgt(decode(in(j, 1)), sex) = decode(in(j, 2));
  }
}

}  // namespace

void newconfig(int4 nclust) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const auto& loc = v.indivlocprt;
  auto* c = new Config{};
  v.configptr = c;
  c->fam1.allocate(Dim(n));
  for (int4 i = 1; i <= n; ++i) c->fam1(i) = encode(loc(i, 1));
  const bool all_columns = v.anymonogamy == 0 || v.numsex == 1;
  const bool both_monogamous = v.monogamy(1) == 1 && v.monogamy(2) == 1;
  if (all_columns || !both_monogamous) {
    c->fam2.allocate(Dim(n));
    for (int4 i = 1; i <= n; ++i) c->fam2(i) = encode(loc(i, 2));
  }
  if (all_columns) {
    c->clust.allocate(Dim(n));
    for (int4 i = 1; i <= n; ++i) c->clust(i) = encode(loc(i, 3));
  }
  encode_parents(c->dad, 1);
  encode_parents(c->mum, 2);
  c->logl = *v.loglikelihoodprt;
  c->nclust = static_cast<int2>(nclust);
  c->signature = charactervalue(nclust);
  check_scratch_marks_clear();
}

void convertconfig(int4 mode, real8& logl) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const Config& c = *v.crrtconfig;
  logl = c.logl;
  for (int4 i = 1; i <= n; ++i) v.offtgt(i, 1) = decode(c.fam1(i));
  const bool both_monogamous = v.monogamy(1) == 1 && v.monogamy(2) == 1;
  if (v.anymonogamy == 0 || v.numsex == 1) {
    for (int4 i = 1; i <= n; ++i) v.offtgt(i, 2) = decode(c.fam2(i));
    if (mode == 1)
      for (int4 i = 1; i <= n; ++i) v.offtgt(i, 3) = decode(c.clust(i));
  } else if (!both_monogamous) {
    for (int4 i = 1; i <= n; ++i) v.offtgt(i, 2) = decode(c.fam2(i));
    if (mode == 1) {
      // The monogamous sex's families are the clusters: a monogamous father has one mate.
      const int4 from = v.monogamy(1) == 1 ? 2 : 1;
      for (int4 i = 1; i <= n; ++i) v.offtgt(i, 3) = v.offtgt(i, from);
    }
  } else if (mode == 1) {
    for (int4 i = 1; i <= n; ++i) {
      v.offtgt(i, 2) = v.offtgt(i, 1);
      v.offtgt(i, 3) = v.offtgt(i, 1);
    }
  }
  for (int4 s = 1; s <= 2; ++s) {
    // The archive's equality test never compares the parents of a sex without candidates.
    if (mode == 2 && v.numcandidate(s) < 1) continue;
    decode_parents(s == 1 ? c.dad : c.mum, s);
  }
  check_scratch_marks_clear();
}

void deallocateconfig() {
  auto& v = variables;
  delete v.deleteconfig;
  v.deleteconfig = nullptr;
  check_scratch_marks_clear();
}

int4 charactervalue(int4 nclust) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int col = (v.allmonogamy == 1 && v.numsex == 2) ? 1 : 3;
  const auto& loc = v.indivlocprt;
  auto& rank = configuration_work.family.label_rank;
  if (static_cast<index_t>(rank.size()) < static_cast<index_t>(nclust) + 1)
    rank.resize(static_cast<std::size_t>(nclust) + 1);
  // Unsigned 32-bit arithmetic wraps by definition; the cast back gives the signed value.
  std::uint32_t sum = 0;
  std::uint32_t next = 0;
  std::uint32_t r = 0;
  for (int4 i = 1; i <= n; ++i) {
    const int4 label = loc(i, col);
    assert(label >= 1 && label <= nclust);
    auto& slot = rank[static_cast<std::size_t>(label)];
    if (slot == 0) slot = static_cast<int4>(++next);
    r = static_cast<std::uint32_t>(slot);
    const std::uint32_t term = static_cast<std::uint32_t>(i) * r;
    sum = (i % 2 == 1) ? sum + term : sum - term;
  }
  sum -= r;
  for (int4 i = 1; i <= n; ++i) rank[static_cast<std::size_t>(loc(i, col))] = 0;
  check_scratch_marks_clear();
  return static_cast<int4>(sum);
}

}  // namespace kinrad
