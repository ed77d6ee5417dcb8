#pragma once
// The reference for the family likelihood engine: a family cluster described in plain terms, a
// builder that runs it through the program's real input, preparation and per-analysis set-up,
// and a brute-force sum of the exact locus likelihood over every genotype of every parent.
//
// The enumerator is deliberately naive. It reads only model inputs from module state (the
// recoded genotypes through getgtype, the current allele frequencies, the observation model
// prbgtop/prbgtophaploid, inbreeding, prntinbcoe, scale2, scaleloc) and never an engine output
// or a per-block table, since those are what it checks.
//
// Use from a later test:
//   oracle::Cluster c = ...;                 // by hand, or oracle::random_cluster(seed, shape)
//   oracle::Built b = oracle::build(c);      // writes and reads the project, frames the family
//   oracle::exact_mode();                    // engine cut-offs that drop nothing measurable
//   double ref = oracle::locus_logl(c, b, locus);
//   double got = <engine's familylocuslogl at locus>;
//   EXPECT_NEAR(got, ref, oracle::tolerance(ref, c, ...));
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/kinds.hpp"

namespace kinrad::oracle {

// One locus. Alleles are written to the input file as labels 1..nallele; the program recodes
// them, so tests never rely on allele numbers, only on the genotypes read back.
struct Locus {
  bool dominant = false;
  int nallele = 2;           // 2 at a dominant locus
  std::vector<double> freq;  // frequencies used to simulate genotypes (may be empty)
  double droprate = 0.0;
  double otherrate = 0.0;
};

// An observed genotype: two allele labels (0 0 missing). A haploid individual has (a, 0). At a
// dominant locus (1, 0) shows the band and (2, 0) does not.
using Genotype = std::array<int, 2>;

// A parent in one role (father = sex 1, mother = sex 2).
struct Parent {
  int candidate = 0;               // 0 unsampled, else the candidate number within its sex
  bool known = false;              // named as the known parent in the input, besides being assigned
  std::vector<Genotype> genotype;  // per locus, for a candidate; missing where untyped
};

// A full-sib family: parents as indices into fathers and mothers (from 1), members as offspring
// numbers (from 1).
struct Family {
  int father = 1;
  int mother = 1;
  std::vector<int> members;
};

struct Cluster {
  int numsex = 2;  // 1 monoecious
  bool allowinbreeding = false;
  bool haplodiploid = false;
  int fsscaleq = 0;
  int likelihoodprecision = 3;
  double inbreeding = 0.0;  // set after the preparation (the input always starts at 0)
  std::vector<Locus> loci;
  std::vector<Parent> fathers;
  std::vector<Parent> mothers;
  // Monoecious species: (father index, mother index) pairs that are one individual.
  std::vector<std::array<int, 2>> same;
  std::vector<Family> families;
  // Offspring genotypes, per offspring per locus; offploid 1 marks a haploid son.
  std::vector<std::vector<Genotype>> offspring;
  std::vector<int> offploid;
  // Extra unrelated offspring appended to the sample (not in any family), for example so that
  // the sample is large enough for family-size scaling (which needs 15 or more offspring).
  std::vector<std::vector<Genotype>> filler;
};

// What the builder leaves besides module state.
struct Built {
  bool ok = false;
  std::string error;  // the error file when the program stopped
};

// Writes the project input file of the cluster into the working directory, runs the reader,
// initialize, dataprocess and initialfsprob(1), sets inbreeding, frames the family with
// setfamilystruc the way trial families are framed (nchild, member lists, parentjdx and the
// inferparent rows of the members) and prepares the family work state for all loci.
Built build(const Cluster& c);

// Frames the cluster's family in the sample already read (its offspring numbers and parents)
// and prepares the work state; build() ends with it. False when the preparation failed.
bool frame(const Cluster& c);

// The project input file text of a cluster.
std::string project_text(const Cluster& c);

// Engine settings under which no relative cut-off drops anything measurable: precision 3,
// full likelihood, prec1 = prec2 = 1e-30 and prec3 = 1e-31. Call after build.
void exact_mode();

// ln L of the cluster at the locus (a locus number of the file), by enumeration over every
// genotype of every parent individual over the locus's full allele set; -1e300 when L = 0.
double locus_logl(const Cluster& c, int locus);

// Exact posterior of one parent individual's genotype at the locus given everything the cluster
// shows there: the parent acting as father `index` (sex 1) or mother `index` (sex 2), its
// genotype fixed in turn, every other parent summed out, times its prior and its own
// observation, normalised. Genotypes in the order (1,1), (1,2), ..., (1,k), (2,2), ..., (k,k), or
// alleles 1..k for a haploid parent. Empty when the locus is impossible.
std::vector<double> parent_marginal(const Cluster& c, int locus, int sex, int index);

// The terms the enumeration multiplies at a locus, for reference computations that weigh
// parents one by one: every parent individual with its genotypes (the order of
// parent_marginal) and their log weights (prior x own observation x haploid sons), and every
// full-sib family with the individuals of its father and mother and its offspring term
// ln P(offspring | father's genotype a, mother's genotype b), less the family's largest value, at
// a x (mother's genotype count) + b (-inf where impossible).
struct LocusTerms {
  struct Person {
    int role[2] = {0, 0};  // father index, mother index (0 when not acting in that role)
    std::vector<Genotype> g;
    std::vector<double> logw;
  };
  struct Fam {
    int father = 0, mother = 0;  // indices into people
    std::vector<double> logtab;
  };
  std::vector<Person> people;
  std::vector<Fam> families;
};
LocusTerms locus_terms(const Cluster& c, int locus);

// ln L of the cluster at the locus with each parent individual's genotypes restricted to
// those flagged in keep[individual][genotype] (individuals and genotypes as in locus_terms);
// -1e300 when nothing is left.
double locus_logl_within(const Cluster& c, int locus, const std::vector<std::vector<bool>>& keep);

// Sum of locus_logl over the loci of at least 2 alleles.
double total_logl(const Cluster& c);

// Number of genotype combinations the enumeration visits at a locus.
double combinations(const Cluster& c, int locus);

// Tolerances on ln L for the later engine issues:
//  exact paths: 1e-10 x max(1, |ln L|);
//  plus 6e-10 per offspring counted with the single-precision ln 2 constant;
//  plus 1e-5 per family and locus through single-precision exponents.
double tolerance(double lnl, int offspring_ln2 = 0, int families_single = 0);

// A seeded random cluster.
enum class Shape {
  one_family,
  star,
  chain,
  tree,
  cycle2x2,
  cycle2x3,
  cycle3x3,
  ladder,
  two_cycles,
  random_graph
};
enum class Species { diploid, inbred, haplodiploid, monoecious, selfing };
enum class Markers {
  snp_free,
  multi_free,
  snp_error,
  multi_error,
  many_error,
  dominant_free,
  dominant_error
};
struct Options {
  Shape shape = Shape::one_family;
  Species species = Species::diploid;
  Markers markers = Markers::multi_free;
  int loci = 2;
  int sampled_parents = 0;     // 0 to 2 candidate parents
  double missing = 0.0;        // rate of untyped offspring loci (0 to 0.3)
  bool mendel_errors = false;  // inject one wrong offspring allele
  bool big_family = false;     // one family of 100 to 150 members
  int fsscaleq = 0;
  // When not empty, the families as (father, mother) pairs (indices from 1), replacing the
  // shape; family sizes are drawn from 1 to max_family.
  std::vector<std::array<int, 2>> pairs;
  int max_family = 6;
  // One-sex species with pairs given: the (father, mother) indices that are one individual,
  // replacing the random choice (a selfing species draws no selfed family then).
  std::vector<std::array<int, 2>> same;
};
Cluster random_cluster(std::uint32_t seed, const Options& o);

}  // namespace kinrad::oracle
