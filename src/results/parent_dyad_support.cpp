// What the parent-offspring step reads besides the likelihood engine: the sib dyad records
// written just before it, read back once and summed per group into the mean sib probability of
// the group, and the moment estimate of relatedness that orders the candidates tried as a
// group's parent.
#include <algorithm>

#include "core/io_status.hpp"
#include "core/keep_value.hpp"
#include "core/modules.hpp"
#include "core/packed_genotypes.hpp"
#include "core/unformatted_file.hpp"
#include "results/dyad_internal.hpp"

namespace kinrad {

void read_dyad_records(const std::string& path, bool halfsib, DyadRecords& d) {
  const int4 n = variables.smplsize;
  d.second.clear();
  d.type.clear();
  d.prob.clear();
  d.start.allocate(Dim(0, n + 1));
  std::vector<int4> first;
  UnformattedReader in;
  if (in.open(path)) {
    int4 i = 0, j = 0, t = 1;
    real8 p = 0.0;
    for (;;) {
      const IoStatus st = halfsib ? in.read_record(i, j, t, p) : in.read_record(i, j, p);
      if (st != IoStatus::ok) break;
      // The sib step writes the records by ascending first offspring; a record out of that
      // order, or naming no offspring of the sample, ends the pass as the end of the file does.
      if (i < 1 || i > n || (!first.empty() && i < first.back())) break;
      first.push_back(i);
      d.second.push_back(j);
      d.type.push_back(t);
      d.prob.push_back(p);
    }
  }
  // Records of first offspring x at start[x]..start[x + 1).
  for (const int4 x : first) ++d.start(x + 1);
  for (int4 x = 1; x <= n + 1; ++x) d.start(x) += d.start(x - 1);
}

DyadScale dyad_scale(const DyadRecords& fs, const DyadRecords* hs, const std::vector<int4>& members,
                     const FArray<int1, 1>& flags, int4 k) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  DyadScale s;
  auto add = [&](const DyadRecords& d, bool typed) {
    for (const int4 x : members) {
      const auto from = static_cast<std::size_t>(d.start(x));
      const auto to = static_cast<std::size_t>(d.start(x + 1));
      for (std::size_t r = from; r < to; ++r) {
        const int4 j = d.second[r];
        if (j < 1 || j > n || flags(j) == 0) continue;
        if (typed && d.type[r] != k) continue;
        s.sum += d.prob[r];
        ++s.count;
      }
    }
  };
  // Records whose first offspring is outside the group count nothing, and those of the group
  // come in file order, so the sums are those of reading each file from its start.
  add(fs, false);
  if (hs != nullptr) add(*hs, v.haplodiploid == 1);
  return s;
}

void fill_candidate_genotypes(int4 k) {
  auto& v = variables;
  KeepValue keep(setgetgtype.locusgtypeptr);
  const int4 nc = v.numcandidate(k);
  if (v.cndgtype.allocated()) v.cndgtype.deallocate();
  v.cndgtype.allocate(Dim(2), Dim(std::max(v.numloci, 1)), Dim(std::max(nc, 1)));
  const int4 offset = (k - 1) * v.numcandidate(1);
  for (int4 l = 1; l <= v.numloci; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na < 2 || v.dominantmarker(l) == 1) continue;
    setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
    for (int4 c = 1; c <= nc; ++c) {
      int2 g = 0;
      getgtype(g, offset + c, na);
      v.cndgtype(1, l, c) = v.genotypeid(1, g);
      v.cndgtype(2, l, c) = v.genotypeid(2, g);
    }
  }
}

namespace {

// Allele-sharing score of an offspring genotype (o1, o2) and a candidate genotype (c1, c2),
// both ordered: 1 the same genotype, 0.75 a homozygote and a heterozygote that share an allele,
// 0.25 two different heterozygotes that share one, 0 otherwise.
real4 share_score(int4 o1, int4 o2, int4 c1, int4 c2) {
  const bool ohom = o1 == o2;
  const bool chom = c1 == c2;
  if (ohom && chom && o1 == c1) return 1.0f;
  if (!ohom && !chom && o1 == c1 && o2 == c2) return 1.0f;
  if (chom && !ohom && (o1 == c1 || o2 == c1)) return 0.75f;
  if (ohom && !chom && (o1 == c1 || o1 == c2)) return 0.75f;
  if (!ohom && !chom && (o1 == c1 || o1 == c2 || o2 == c1 || o2 == c2)) return 0.25f;
  return 0.0f;
}

}  // namespace

void relatednessoffcnd(int4 k, int4 i, FArray<real4, 1>& r) {
  const auto& v = variables;
  KeepValue keep(setgetgtype.locusgtypeptr);
  const int4 nc = v.numcandidate(k);
  const int4 nl = std::max(v.numloci, 0);
  // The offspring's alleles at its usable loci (allocated per call: one call per group).
  std::vector<int4> loci, o1, o2;
  loci.reserve(static_cast<std::size_t>(nl));
  for (int4 l = 1; l <= nl; ++l) {
    const int4 na = v.obsnumallele(l);
    if (na <= 1) continue;
    setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
    int2 g = 0;
    getgtype(g, i, na);
    const int4 a1 = v.genotypeid(1, g), a2 = v.genotypeid(2, g);
    if (a1 < 1 || v.dominantmarker(l) == 1) continue;
    loci.push_back(l);
    o1.push_back(a1);
    o2.push_back(a2);
  }
  for (int4 c = 1; c <= nc; ++c) {
    real4 sum = 0.0f;
    int4 count = 0;
    for (std::size_t t = 0; t < loci.size(); ++t) {
      const int4 l = loci[t];
      const int4 c1 = v.cndgtype(1, l, c);
      if (c1 < 1) continue;
      ++count;
      sum += share_score(o1[t], o2[t], c1, v.cndgtype(2, l, c));
    }
    r(c) = sum / (static_cast<real4>(count) + 1e-10f);
  }
}

}  // namespace kinrad
