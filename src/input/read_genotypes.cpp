// Items 26 to 29 of the project input file: offspring genotypes, the proportions and numbers
// of candidate parents, candidate genotypes, and the rules on identifiers shared between
// individuals.
#include <algorithm>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/sorting.hpp"
#include "core/variables_routines.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

namespace {

constexpr std::string_view sexword[3] = {"", "male", "female"};

// Screen output of the reader goes only to the displaying process.
void show(const std::string& text) {
  if (variables.displayq == 1) fwrite(std::cout, "(A)", text);
}

void tick(int4& counter) {
  if (variables.displayq == 1) writeprogress(counter, 50);
}

// Ends the spinner line of a long block of genotypes.
void close_progress() {
  if (variables.displayq != 1) return;
  fwrite(std::cout, "(A)", variables.igui == 1 ? std::string() : std::string("\r  "));
}

// The values of one genotype line spread over the work line, two slots per locus; a locus
// read with one value fills slot 1 and leaves slot 2 at 0.
void place_values(const FArray<int4, 1>& line, const FArray<int4, 1>& counts,
                  FArray<int4, 2>& work) {
  index_t p = 0;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    work(1, l) = line(++p);
    work(2, l) = counts(l) == 2 ? line(++p) : 0;
  }
}

int4 total_count(const FArray<int4, 1>& counts) {
  int4 n = 0;
  for (const int4 c : counts) n += c;
  return n;
}

[[noreturn]] void stopoffspring(const FString<20>& id, std::string_view what) {
  std::string line = "Offspring ";
  line += id.trimmed();
  line += what;
  stopondataerror(line);
}

// The ploidy of one offspring from its values; a locus that is missing has its values set
// to 0. Haplodiploid species code a haploid locus with -99 as its second value.
int4 offspring_ploidy(const FString<20>& id, const FArray<int4, 1>& counts, bool ploidyfield,
                      int4 ploidread, FArray<int4, 2>& work) {
  const int4 nloci = variables.numloci;
  if (variables.haplodiploid == 1 && !ploidyfield) {
    bool haploid = false;
    bool diploid = false;
    for (int4 l = 1; l <= nloci; ++l) {
      if (work(1, l) <= 0) {
        work(1, l) = 0;
        work(2, l) = 0;
      } else if (counts(l) == 2) {
        if (work(2, l) == -99) {
          work(2, l) = work(1, l);
          haploid = true;
        } else if (work(2, l) < 1) {
          work(2, l) = 0;
        } else {
          diploid = true;
        }
      }
    }
    if (haploid && diploid)
      stopoffspring(id, " has incorrect genotypes: Unable to determine its ploidy!");
    return haploid ? 1 : 2;
  }
  for (int4 l = 1; l <= nloci; ++l) {
    bool missing = false;
    for (int4 k = 1; k <= counts(l); ++k)
      if (work(k, l) <= 0) missing = true;
    if (missing) {
      work(1, l) = 0;
      work(2, l) = 0;
    }
  }
  return ploidyfield ? ploidread : 2;
}

bool all_missing(const FArray<int4, 1>& counts, const FArray<int4, 2>& work) {
  for (int4 l = 1; l <= variables.numloci; ++l) {
    bool present = true;
    for (int4 k = 1; k <= counts(l); ++k)
      if (work(k, l) < 1) present = false;
    if (present) return false;
  }
  return true;
}

// Mating settings that depend on the ploidy of the offspring: haploid offspring have no
// father, so a sample without diploid offspring has no matings to constrain.
void fix_matings() {
  if (variables.smplsizedh(2) == 0) {
    variables.allowinbreeding = 0;
    for (int s = 1; s <= 2; ++s) {
      variables.maxmatings(s) = 1;
      variables.monogamy(s) = 1;
    }
  } else {
    for (int s = 1; s <= 2; ++s) variables.monogamy(s) = variables.maxmatings(s) == 1 ? 1 : 0;
  }
  variables.allmonogamy = variables.monogamy(1) == 1 && variables.monogamy(2) == 1 ? 1 : 0;
  variables.anymonogamy = variables.monogamy(1) == 1 || variables.monogamy(2) == 1 ? 1 : 0;
}

void showoffspringread() {
  show("Reading " + itoc(variables.smplsize) + " offspring genotypes at " +
       itoc(variables.numloci) + " loci...");
}

void setoffspringitem(int4 i) {
  variables.errmsg(1) = "Data or data format error in IDs and genotypes of offspring: " + itoc(i);
}

// How many lines of at least `values` values each the rest of the file can hold, up to `most`.
index_t linesheld(const InputReader& in, long long most, long long values) {
  const long long limit = std::min(most, (1LL << 62) / values) * values;
  return static_cast<index_t>(in.file.values_left(limit) / values);
}

// Item 26: one line per offspring.
void read_offspring(InputReader& in) {
  const int4 n = variables.smplsize;
  const int4 nloci = variables.numloci;
  variables.offspringid.allocate(n);
  variables.offploid.allocate(n);
  // Every line holds an identifier and at least one value per locus: the genotype table is
  // sized by the lines the file can hold, not by the sample size alone.
  const index_t held = linesheld(in, n, static_cast<long long>(nloci) + 1);
  if (held == 0) fail_offspring_read(in);
  variables.indivgtype.allocate(2, nloci, held);
  variables.smplsizedh(1) = 0;
  variables.smplsizedh(2) = 0;

  bool alldominant = true;
  FArray<int4, 1> counts(nloci);
  for (int4 l = 1; l <= nloci; ++l) {
    counts(l) = variables.dominantmarker(l) == 1 ? 1 : 2;
    if (variables.dominantmarker(l) != 1) alldominant = false;
  }
  // Codominant loci tell a haploid from a diploid; with dominant loci only, the line says it.
  const bool ploidyfield = variables.haplodiploid == 1 && alldominant;
  FArray<int4, 1> line(total_count(counts));
  FArray<int4, 2> work(2, nloci);

  showoffspringread();
  int4 progress = 0;
  for (int4 i = 1; i <= n; ++i) {
    setoffspringitem(i);
    if (i > held) in.readfailure();
    FString<20> id;
    int4 ploidread = 2;
    if (ploidyfield) {
      in.readitem(id, ploidread, line);
      if (ploidread != 1 && ploidread != 2) stopoffspring(id, " has incorrect ploidy!");
    } else {
      in.readitem(id, line);
    }
    place_values(line, counts, work);
    const int4 ploid = offspring_ploidy(id, counts, ploidyfield, ploidread, work);
    if (all_missing(counts, work))
      stopoffspring(id, " has no genotype data and should be removed!");
    convertgenotype(work, counts, 0, i);
    variables.offploid(i) = static_cast<int1>(ploid);
    variables.smplsizedh(ploid) += 1;
    variables.offspringid(i) = adjustl(id.view());
    tick(progress);
  }

  if (variables.smplsizedh(1) + variables.smplsizedh(2) != n)
    stopondataerror("Total #offspring not equal to #haploid + #diploid offspring!");
  if (variables.numsex == 1 && variables.smplsizedh(1) > 0)
    stopondataerror("For monoecious, no haploid offspring is allowed!");
  if (n > 9) close_progress();
  fix_matings();

  // Duplicates are neighbours in the sorted order; the order is kept for the look-ups of the
  // relationship items.
  variables.crindivloc.allocate(n, 3);
  int4* order = &variables.crindivloc(1, 2);
  indexch(n, variables.offspringid.data(), order);
  for (int4 k = 2; k <= n; ++k) {
    const int4 later = order[k - 1];
    const int4 other = order[k - 2];
    if (variables.offspringid(later) == variables.offspringid(other)) {
      std::string text = "Offspring " + itoc(later) + " has the same ID, ";
      text += variables.offspringid(later).trimmed();
      text += ", as offspring " + itoc(other);
      stopondataerror(text);
    }
  }

  // A dominant phenotype is held as a pair of equal allele numbers.
  for (int4 i = 1; i <= n; ++i)
    for (int4 l = 1; l <= nloci; ++l)
      if (variables.dominantmarker(l) == 1)
        variables.indivgtype(2, l, i) = variables.indivgtype(1, l, i);
}

}  // namespace

void fail_offspring_read(InputReader& in) {
  showoffspringread();
  setoffspringitem(1);
  // The line cannot be complete: reading on runs into the end of the file or a bad value.
  std::vector<std::string> values;
  in.readvalues(values, static_cast<index_t>(variables.numloci) + 1);
  in.readfailure();
}

namespace {

// Items 27 and 28: proportions and numbers of candidate fathers and mothers.
void read_candidate_numbers(InputReader& in) {
  in.setitem(InputReader::prefix, "Proportions of parents sampled");
  in.readitem(variables.propprntsampled(1), variables.propprntsampled(2));
  in.setitem(InputReader::prefix, "Numbers of candidate parents");
  in.readitem(variables.numcandidate(1), variables.numcandidate(2));
  if (variables.numcandidate(1) < 0 || variables.numcandidate(2) < 0)
    stopondataerror("Number of candidates should be >= 0!");
  for (int s = 1; s <= 2; ++s) {
    const real8 p = variables.propprntsampled(s);
    // Written as an "inside the range" test so that a NaN is refused as well.
    if (variables.numcandidate(s) > 0 && !(p >= 0.001 && p <= 1.0))
      stopondataerror(
          "Probability of a parent included in candidates should be in the range [0.001, 1]!");
  }
  if (variables.numsex == 1 && variables.numcandidate(1) != variables.numcandidate(2))
    stopondataerror("For monoecious, numbers of candidate fathers and mothers should be equal!");
}

// Item 29: the candidate lines of sex s, one per candidate.
void read_candidate_sex(InputReader& in, int4 s) {
  const int4 n = variables.numcandidate(s);
  const int4 nloci = variables.numloci;
  FArray<int4, 1> counts(nloci);
  for (int4 l = 1; l <= nloci; ++l)
    counts(l) = variables.ploidy(s) == 1 || variables.dominantmarker(l) == 1 ? 1 : 2;
  FArray<int4, 1> line(total_count(counts));
  FArray<int4, 2> work(2, nloci);

  show("Reading " + itoc(n) + " candidate " + (s == 1 ? "fa" : "mo") + "ther genotypes at " +
       itoc(nloci) + " loci...");
  show("  " + std::string(sexword[s]) + " candidates 1 - " + itoc(n));
  int4 progress = 0;
  for (int4 j = 1; j <= n; ++j) {
    const FString<30> who(std::string(sexword[s]) + " candidate " + itoc(j));
    in.setitem(InputReader::prefix, std::string("the ID and genotypes of ") + who.str());
    // Beyond the lines the file can hold the read cannot succeed.
    if (static_cast<index_t>(s - 1) * variables.numcandidate(1) + j > variables.cndgtype.size(3))
      in.readfailure();
    FString<20> id;
    in.readitem(id, line);
    place_values(line, counts, work);
    convertgenotype(work, counts, s, j);
    variables.cndparentid(j, s) = id;
    tick(progress);
  }
  if (n > 9) close_progress();

  for (int4 l = 1; l <= nloci; ++l)
    if (counts(l) == 1)
      for (int4 j = 1; j <= n; ++j) {
        const int4 c = candidate_column(s, j);
        variables.cndgtype(2, l, c) = variables.cndgtype(1, l, c);
      }
}

bool same_genotype(const FArray<int1, 3>& a, int4 ca, const FArray<int1, 3>& b, int4 cb) {
  for (int4 l = 1; l <= variables.numloci; ++l)
    for (int4 k = 1; k <= 2; ++k)
      if (a(k, l, ca) != b(k, l, cb)) return false;
  return true;
}

// Candidate identifiers are unique within a sex; an identifier shared with an offspring
// names one individual, which must then carry one genotype.
void check_candidate_ids(int4 s) {
  const int4 n = variables.numcandidate(s);
  const std::string word(sexword[s]);
  FArray<FString<20>, 1> ids(n);
  for (int4 j = 1; j <= n; ++j) ids(j) = variables.cndparentid(j, s);
  FArray<int4, 1> idx(n);
  indexch(n, ids.data(), idx.data());
  for (int4 k = 2; k <= n; ++k)
    if (ids(idx(k)) == ids(idx(k - 1))) {
      std::string text = "Candidate " + word + " " + itoc(idx(k)) + " has the same ID, ";
      text += ids(idx(k)).trimmed();
      text += ", as candidate " + itoc(idx(k - 1));
      stopondataerror(text);
    }

  const int4 n0 = variables.smplsize;
  FArray<FString<20>, 1> both(n0 + n);
  for (int4 i = 1; i <= n0; ++i) both(i) = variables.offspringid(i);
  for (int4 j = 1; j <= n; ++j) both(n0 + j) = ids(j);
  FArray<int4, 1> order(n0 + n);
  indexch(n0 + n, both.data(), order.data());
  for (int4 k = 2; k <= n0 + n; ++k) {
    const int4 a = order(k - 1);
    const int4 b = order(k);
    if (!(both(a) == both(b))) continue;
    const int4 o = std::min(a, b);
    const int4 c = std::max(a, b) - n0;
    const std::string_view id = both(a).trimmed();
    if (variables.haplodiploid == 1 && s == 1) {
      std::string text = "Candidate male " + itoc(c) + " and offspring " + itoc(o) +
                         " has the same individual ID, ";
      text += id;
      text += ", which is impossible!";
      stopondataerror(text);
    }
    if (!same_genotype(variables.indivgtype, o, variables.cndgtype, candidate_column(s, c))) {
      std::string text = "Candidate " + word + " " + itoc(c) + " and offspring " + itoc(o) +
                         " have the same individual ID, ";
      text += id;
      text += ", but have different genotypes!";
      stopondataerror(text);
    }
  }
}

// In a monoecious species candidate father j and candidate mother j are one individual.
void check_monoecious() {
  for (int4 j = 1; j <= variables.numcandidate(1); ++j) {
    const std::string head = "Candidate father " + itoc(j) + " and candidate mother " + itoc(j) +
                             " should have the same ";
    if (!(variables.cndparentid(j, 1) == variables.cndparentid(j, 2)))
      stopondataerror(head + "ID for monoecious!");
    if (!same_genotype(variables.cndgtype, candidate_column(1, j), variables.cndgtype,
                       candidate_column(2, j)))
      stopondataerror(head + "genotype for monoecious!");
  }
}

}  // namespace

void read_genotypes(InputReader& in) {
  read_offspring(in);
  read_candidate_numbers(in);

  // Each candidate line holds an identifier and at least one value per locus: the tables are
  // sized by the lines the file can hold, so that declared numbers beyond them (or a sum of the
  // two beyond 32 bits) run into the end of the file as the reads of those lines.
  const long long declared =
      static_cast<long long>(variables.numcandidate(1)) + variables.numcandidate(2);
  const index_t held = linesheld(in, declared, static_cast<long long>(variables.numloci) + 1);
  const index_t maxcount =
      std::min<index_t>(std::max(variables.numcandidate(1), variables.numcandidate(2)), held);
  variables.cndparentid.allocate(Dim(0, maxcount), 2);
  variables.cndparentid(0, 1) = "0";
  variables.cndparentid(0, 2) = "0";
  variables.cndgtype.allocate(2, variables.numloci, held);
  for (int4 s = 1; s <= 2; ++s)
    if (variables.numcandidate(s) > 0) read_candidate_sex(in, s);
  // All lines were read, so the sum fits.
  variables.allcandidate = variables.numcandidate(1) + variables.numcandidate(2);

  for (int4 s = 1; s <= 2; ++s)
    if (variables.numcandidate(s) > 0) check_candidate_ids(s);
  if (variables.numsex == 1) check_monoecious();
}

}  // namespace kinrad
