#pragma once
// The pieces of the two dyad steps that their tests reach one by one: the sib-pair fractions
// of the archive, the pair's likelihood factors, the lines of one pair, the records of the
// unformatted sib dyad files read back, the relatedness of an offspring to the candidates and
// the result lists of the parent-offspring step.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/config_record.hpp"
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/replacing_file.hpp"

namespace kinrad {

// ---- Sib dyads ---------------------------------------------------------------------------------

// The archive indexed for the pair walk: per record and family column, each offspring's link to
// the next offspring after it with the same family id. An entry (j, column) is coded
// 2 (j - 1) + column, 0 ending a chain; in one parent pool the two columns share one id space,
// so a chain runs through both columns in entry order. Only 16-bit links per offspring, column
// and record: nothing grows with n squared.
struct SibDyadArchive {
  int4 records = 0;
  bool pool = false;     // one parent pool
  bool mothers = false;  // the records hold a maternal column
  std::vector<const Config*> record{};
  FArray<std::uint16_t, 3> next{};    // (2, n, records)
  std::vector<std::uint16_t> last{};  // scratch: the latest entry per id while linking
  FArray<std::int64_t, 1> seen{};     // (n) stamp of the record visit that met j
  std::int64_t stamp = 0;
};

// Links every record of the archive (best first).
void sib_dyad_index(SibDyadArchive& a);

// The column of the fraction table that the pair (i, j) of record r counts in: 1 full sibs,
// 2 paternal (or, diploid, any) half sibs, haplodiploid + 2 maternal half sibs, 0 none.
int4 sib_dyad_column(const Config& r, int4 i, int4 j);

// A(j, k) for j = i + 1..n: the summed weights of the records in which (i, j) count in column
// k, added in record order, divided by wsum (0 everywhere when wsum is not positive). With
// `sides` (n, 2) and two sexes, sides(j, 1) and sides(j, 2) receive the same shares of the
// records in which (i, j) are paternal and maternal half sibs (for a diploid species column 2
// holds both).
void sib_dyad_fractions(SibDyadArchive& a, const FArray<real8, 1>& weight, real8 wsum, int4 i,
                        FArray<real8, 2>& frac, FArray<real8, 2>* sides = nullptr);

// Likelihood factors of a pair: unrelated, full sibs, shared mother, shared father; a
// hypothesis not scored keeps 1. `third` names the arrangement scored first (0 none, 1 shared
// mother, 2 shared father): the one half-sib line of a diploid species carries its factor.
struct SibFactors {
  real8 unrelated = 1.0;
  real8 fullsib = 1.0;
  real8 mother = 1.0;
  real8 father = 1.0;
  int4 third = 0;
  int4 scored = 0;  // hypotheses scored (0 when the factors were not computed)
};

// The single-offspring family likelihood of every offspring, each computed once when first
// needed (1.0: not yet computed).
struct SingleLogl {
  FArray<real8, 1> value{};
  real8 get(int4 x);
};

// The factors of the pair (i, j) (trial families with unsampled parents apart from the
// members' known parents). `side` is the one side the archive holds the pair's half-sib
// relationship on (1 through the father, 2 through the mother, 0 both or neither): that
// side's arrangement is scored when it is allowed.
SibFactors sib_dyad_factors(int4 i, int4 j, SingleLogl& single, int4 side = 0);

// The four sib dyad files of process 0, with a reused line buffer.
struct SibDyadFiles {
  std::optional<ReplacingFile> fs, fsuf, hs, hsuf;
  std::string line{};
};

// Opens the files and writes their first lines (half-sib files only when not both sexes are
// monogamous).
void sib_dyad_open(SibDyadFiles& out);
// The lines and records of pair (i, j) from its fractions frac(j, 1..K) and factors, each only
// when its probability is at least 0.001.
void sib_dyad_lines(SibDyadFiles& out, int4 i, int4 j, const FArray<real8, 2>& frac,
                    const SibFactors& f);
void sib_dyad_commit(SibDyadFiles& out);

// ---- Parent-offspring dyads --------------------------------------------------------------------

// The records of ".FSDyadUF" and ".HSDyadUF" as read back, indexed by first offspring.
// Reading stops at the end, at a record that cannot be read, and at a record whose first
// offspring is out of the ascending order the sib step writes.
struct DyadRecords {
  std::vector<int4> second{};
  std::vector<int4> type{};
  std::vector<real8> prob{};
  FArray<int4, 1> start{};  // (0:n+1) records of first offspring x at start(x)..start(x+1)-1
};
void read_dyad_records(const std::string& path, bool halfsib, DyadRecords& d);

// The scale D/N of a group: flags(x) != 0 marks the offspring of the group, members lists them
// in ascending order; full-sib records first, then half-sib records (only those of type k in a
// haplodiploid species; none when halfsib is null). N = 0 gives no scale.
struct DyadScale {
  real8 sum = 0.0;
  int4 count = 0;
};
DyadScale dyad_scale(const DyadRecords& fs, const DyadRecords* hs, const std::vector<int4>& members,
                     const FArray<int1, 1>& flags, int4 k);

// Moment estimate of the relatedness of offspring i to each candidate of sex k, into r(1..C),
// from the candidate genotypes in cndgtype.
void relatednessoffcnd(int4 k, int4 i, FArray<real4, 1>& r);

// The candidate genotypes of sex k as allele pairs into cndgtype (2, numloci, C).
void fill_candidate_genotypes(int4 k);

// Likelihood evaluations of the parent-offspring step, per sex.
struct ParentDyadCounts {
  std::array<int8, 2> groups{};
  std::array<int8, 2> evaluations{};
};
ParentDyadCounts parent_offspring_dyad_counted();

}  // namespace kinrad
