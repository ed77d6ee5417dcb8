// Data preprocessing: known relationships are checked against the exclusions, alleles are
// counted and put in their final order, the starting allele frequencies are set, the genotype
// numbering tables are built, and the sample frequencies are corrected for selfing or for a
// dominating family (the corrected values are kept between analyses of the same data).
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clock.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "input/check_data_internal.hpp"
#include "input/data_process_steps_internal.hpp"
#include "input/input.hpp"

namespace kinrad {

void reversegtype(int4 locus) {
  auto flip = [](int1& x) {
    if (x > 0) x = static_cast<int1>(3 - x);
  };
  for (int4 i = 1; i <= variables.smplsize; ++i) {
    flip(variables.indivgtype(1, locus, i));
    flip(variables.indivgtype(2, locus, i));
  }
  for (int4 c = 1; c <= variables.allcandidate; ++c) {
    flip(variables.cndgtype(1, locus, c));
    flip(variables.cndgtype(2, locus, c));
  }
  FArray<int4, 1>& ids = variables.rawalleleid(locus).a;
  std::swap(ids(1), ids(2));
}

namespace {

[[noreturn]] void dataerror() {
  stoponerror(1, "DataProcess");
}

// p is barred as a parent by the exclusion list e (a negative count lists the allowed ones).
bool excludedparentq(const Excludedlist& e, int4 p) {
  const int4 n = std::abs(e.count);
  bool listed = false;
  for (int4 k = 1; k <= n && !listed; ++k) listed = e.list(k) == p;
  return e.count > 0 ? listed : (e.count < 0 && !listed);
}

void check_known_relationships() {
  for (auto& line : variables.errmsg) line = "";
  if (!variables.indivparent.allocated()) return;
  const bool sibships = variables.knownsibship.allocated();
  const bool exclusions = variables.excludedparent.allocated();
  for (int4 i = 1; i <= variables.smplsize; ++i)
    for (int4 k = 1; k <= 2; ++k) {
      const int4 p = variables.indivparent(i, k);
      if (p < 1) continue;
      std::string_view line;
      if (sibships && variables.knownsibship(i, k) >= 1)
        line = "has been assigned both known sibship and parentage!";
      else if (exclusions && excludedparentq(variables.excludedparent(i, k), p))
        line = k == 1 ? "has a known father listed as excluded!"
                      : "has a known mother listed as excluded!";
      if (line.empty()) continue;
      std::string text = "Data error! Offspring ";
      text += variables.offspringid(i).trimmed();
      text += " ";
      text += line;
      variables.errmsg(1) = text;
      dataerror();
    }
}

// A candidate whose genotype is already counted as an offspring's or as a father's.
bool counted_elsewhere(int4 sex, int4 j) {
  if (variables.cndinoffspring.allocated() && variables.cndinoffspring(j, sex) != 0) return true;
  return sex == 2 && variables.cndinothersex.allocated() && variables.cndinothersex(j, 2) != 0;
}

// Allele counts of locus l: element a for allele a, element 0 the missing alleles.
std::vector<int4> count_alleles(int4 l, int4 k) {
  std::vector<int4> count(static_cast<std::size_t>(k) + 1, 0);
  auto add = [&](int1 a) { ++count[static_cast<std::size_t>(a)]; };
  const bool haploidoffspring = variables.smplsizedh(1) > 0;
  for (int4 i = 1; i <= variables.smplsize; ++i) {
    add(variables.indivgtype(1, l, i));
    if (!(haploidoffspring && variables.offploid(i) == 1)) add(variables.indivgtype(2, l, i));
  }
  for (int4 s = 1; s <= 2; ++s) {
    const int4 ploid = variables.ploidy(s);
    if (variables.dominantmarker(l) == 1 && ploid == 1) continue;
    for (int4 j = 1; j <= variables.numcandidate(s); ++j) {
      if (counted_elsewhere(s, j)) continue;
      const int4 c = candidate_column(s, j);
      for (int4 a = 1; a <= ploid; ++a) add(variables.cndgtype(a, l, c));
    }
  }
  return count;
}

// Position of label among the given labels of locus l; 0 when it is not listed.
int4 given_position(int4 l, int4 label) {
  for (int4 p = 1; p <= variables.popnumallele(l); ++p)
    if (variables.popallele(p, l) == label) return p;
  return 0;
}

std::string allele_locus_line(int4 label, int4 l, std::string_view tail) {
  return fwrite_string("(A, I6, A, I4, A)", "Allele", label, " at locus", l, tail);
}

[[noreturn]] void absentfrompopulation(int4 label, int4 l) {
  variables.errmsg(1) =
      allele_locus_line(label, l, " is found in the sample but absent from the population!");
  variables.errmsg(2) = "Program stops!";
  dataerror();
}

// Every allele of the sample must be listed among the given labels of its locus; a listed
// frequency of 0 is raised to 0.001.
void check_given_frequencies(int4 l, int4 k) {
  const FArray<int4, 1>& ids = variables.rawalleleid(l).a;
  for (int4 a = 1; a <= k; ++a) {
    const int4 label = ids(a);
    const int4 p = given_position(l, label);
    if (p > 0) {
      if (variables.popallelefre(p, l) <= 1e-300) {
        if (variables.displayq == 1) {
          fwrite(std::cout, "(A)",
                 allele_locus_line(label, l,
                                   " is found in the sample but has a known freqency of 0!"));
          fwrite(std::cout, "(A)", "Its frequency is now reset to 0.001");
        }
        variables.popallelefre(p, l) = 0.001;
        sleeping(2);
      }
    } else if (!(variables.dominantmarker(l) == 1 && k == 1)) {
      absentfrompopulation(label, l);
    }
  }
}

// Puts the allele pairs of the offspring, and of the candidates of a diploid sex, in ascending
// order.
void order_pairs(int4 l) {
  auto order = [](int1& a, int1& b) {
    if (a > b) std::swap(a, b);
  };
  for (int4 i = 1; i <= variables.smplsize; ++i)
    order(variables.indivgtype(1, l, i), variables.indivgtype(2, l, i));
  for (int4 s = 1; s <= 2; ++s) {
    if (variables.ploidy(s) != 2) continue;
    for (int4 j = 1; j <= variables.numcandidate(s); ++j) {
      const int4 c = candidate_column(s, j);
      order(variables.cndgtype(1, l, c), variables.cndgtype(2, l, c));
    }
  }
}

// Starting frequencies f(1..) of a codominant locus with k >= 1 alleles.
void codominant_frequencies(int4 l, int4 k, const std::vector<int4>& count, std::vector<real8>& f) {
  const FArray<int4, 1>& ids = variables.rawalleleid(l).a;
  FArray<int4, 1>& raw = variables.rawallele(l).a;
  if (variables.popallelefreknownq == 1) {
    real8 sum = 0.0;
    for (int4 a = 1; a <= k; ++a) sum += variables.popallelefre(given_position(l, ids(a)), l);
    for (int4 a = 1; a <= k; ++a) f[a] = variables.popallelefre(given_position(l, ids(a)), l) / sum;
  } else {
    int4 total = 0;
    for (int4 a = 1; a <= k; ++a) total += count[static_cast<std::size_t>(a)];
    // No typed individual: nothing to estimate from, so every allele is equally likely.
    for (int4 a = 1; a <= k; ++a)
      f[a] = total > 0 ? static_cast<real8>(count[static_cast<std::size_t>(a)]) / total : 1.0 / k;
  }
  for (int4 a = 1; a <= k; ++a) raw(a) = ids(a);
  order_pairs(l);
}

// Starting frequencies of a dominant locus with k = 1 or 2 phenotypes seen: f(1) for the band,
// f(2) for its absence.
void dominant_frequencies(int4 l, int4 k, const std::vector<int4>& count, std::vector<real8>& f) {
  FArray<int4, 1>& raw = variables.rawallele(l).a;
  if (variables.popallelefreknownq == 1) {
    // Taken by label; the recessive label 2 may be left out of the list.
    real8 q = 0.0;
    if (const int4 p2 = given_position(l, 2); p2 > 0) {
      q = variables.popallelefre(p2, l);
    } else if (const int4 p1 = given_position(l, 1); p1 > 0) {
      q = 1.0 - variables.popallelefre(p1, l);
    } else {
      absentfrompopulation(variables.rawalleleid(l).a(1), l);
    }
    f[1] = 1.0 - q;
    f[2] = q;
    raw(1) = 1;
    raw(2) = 2;
    return;
  }
  if (k == 1) {
    const int4 label = variables.rawalleleid(l).a(1);
    f[static_cast<std::size_t>(label)] = 1.0;
    f[static_cast<std::size_t>(3 - label)] = 0.0;
    raw(1) = label;
    return;
  }
  const real8 d = variables.droprate(l);
  const int4 c2 = count[2];
  const int4 total = count[1] + count[2];
  // The frequency of the null allele under dropout d, from the share of recessive phenotypes;
  // even odds when the locus has no counted individual.
  real8 q = 0.5;
  if (total > 0) q = (d - std::sqrt(4 * c2 * (1.0 - d) / total + d * d)) / (2.0 * d - 2.0);
  const int4 nfathers = variables.numcandidate(1);
  if (variables.ploidy(1) == 1 && nfathers > 0) {
    // Haploid fathers show their allele directly; their share is blended in with a weight
    // that falls as the diploid sample grows.
    int4 h = 0;
    for (int4 j = 1; j <= nfathers; ++j)
      if (variables.cndgtype(1, l, j) == 2) ++h;
    const real8 w = static_cast<real8>(total) / (total + 4.0 * nfathers);
    q = q * w + (static_cast<real8>(h) / nfathers) * (1.0 - w);
  }
  f[1] = 1.0 - q;
  f[2] = q;
  raw(1) = 1;
  raw(2) = 2;
}

// Allele counts, allele order and starting frequencies of locus l; f(1..) receives the
// frequencies (room for at least two alleles).
void prepare_locus(int4 l, std::vector<real8>& f) {
  const int4 k = variables.rawallelenum(l);
  variables.obsnumallele(l) = k;
  variables.maxobsnumallele = std::max(variables.maxobsnumallele, k);
  std::vector<int4> count = count_alleles(l, k);
  const bool dominant = variables.dominantmarker(l) == 1;
  if (!dominant && k == 2 && count[1] < count[2]) {
    reversegtype(l);
    std::swap(count[1], count[2]);
  }
  f.assign(static_cast<std::size_t>(std::max(k, 2)) + 1, 0.0);
  variables.rawallele(l).a.allocate(Dim(-1, dominant ? 2 : k));
  variables.rawallele(l).a(-1) = -1;
  if (k == 0) {
    // A locus at which nobody is typed: even frequencies keep every later step finite.
    f[1] = f[2] = 0.5;
    return;
  }
  if (variables.popallelefreknownq == 1) check_given_frequencies(l, k);
  if (dominant)
    dominant_frequencies(l, k, count, f);
  else
    codominant_frequencies(l, k, count, f);
}

void screen(std::string_view text) {
  if (variables.displayq == 1) fwrite(std::cout, "(A)", text);
}

}  // namespace

void dataprocess() {
  const int4 nloci = variables.numloci;
  for (int4 l = 1; l <= nloci; ++l) {
    const FArray<int4, 1>& ids = variables.rawalleleid(l).a;
    if (variables.dominantmarker(l) == 1 && variables.rawallelenum(l) == 2 && ids(1) == 2)
      reversegtype(l);
  }

  check_known_relationships();

  if (variables.obsnumallele.size() != nloci) variables.obsnumallele.allocate(nloci);
  variables.rawallele.allocate(nloci);
  variables.maxobsnumallele = 0;
  std::vector<std::vector<real8>> freq(static_cast<std::size_t>(nloci) + 1);
  for (int4 l = 1; l <= nloci; ++l) prepare_locus(l, freq[static_cast<std::size_t>(l)]);

  if (variables.maxobsnumallele < 2) {
    variables.errmsg(1) = "Program stops because no variation in geneotypes!";
    variables.errmsg(2) = "All loci have less than 2 observed alleles!";
    dataerror();
  }

  store_frequencies(freq);
  build_genotype_tables();

  // A cache written from other data belongs to those data: it is removed before anything could
  // read it, and written again below when the correction runs.
  const std::string cache = inb_allele_fre_name();
  std::error_code ec;
  const bool cachefound = std::filesystem::exists(cache, ec);
  const bool cacheusable = cachefound && data_change_status() == 0;
  if (cachefound && !cacheusable) opendeletefile(cache);

  if (variables.popallelefreknownq == 1) return;
  int4 candidates = variables.numcandidate(1);
  if (variables.numsex == 2) candidates += variables.numcandidate(2);
  if (candidates > 2 * variables.smplsize) return;

  if (cacheusable) {
    screen("Reading updated allele frequency...");
    if (read_inb_allele_fre(cache)) return;
  }

  if (variables.numsex == variables.allowinbreeding) {
    selfing_iteration();
  } else if (variables.ewenmeannumprnt(1) > 3.0 && variables.ewenmeannumprnt(2) > 3.0 &&
             !dominating_family()) {
    return;
  } else {
    family_correction();
  }

  if (variables.displayq != 1) return;
  screen("Writing updated allele frequency...");
  if (nloci > 999) screen("  Locus = 1 - " + itoc(nloci));
  write_inb_allele_fre(cache);
  if (nloci > 999) screen("  Done for locus 1 - " + itoc(nloci));
}

}  // namespace kinrad
