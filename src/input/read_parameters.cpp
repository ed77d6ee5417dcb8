// Items 1 to 21 of the project input file: the run parameters and their derived settings.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/stem_lock.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

namespace {

// Flags and codes are range-tested as unsigned values, so a negative value gets the same
// message as one above the range.
bool unsigned_above(int4 v, uint32_t hi) {
  return static_cast<uint32_t>(v) > hi;
}

void checkflag(int4 v, std::string_view message) {
  if (unsigned_above(v, 1)) stopondataerror(message);
}

[[noreturn]] void output_path_error() {
  variables.errmsg(1) = std::string("Error in project name or path: ") + variables.fname;
  stoponerror(1, "ReadData");
}

// Every output file is the stem followed by a suffix: a stem that names a folder ("", ".",
// "..", "sub/") would give hidden files inside it.
void test_output_stem() {
  const std::string& stem = variables.fname;
  const std::size_t slash = stem.find_last_of('/');
  const std::string_view leaf = slash == std::string::npos
                                    ? std::string_view(stem)
                                    : std::string_view(stem).substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") output_path_error();
}

// The stem is held for the whole analysis; a second analysis of a held stem stops before it
// reads or writes any file of the stem.
void lock_stem() {
  switch (lock_output_stem(variables.fname)) {
    case StemLockResult::locked:
      return;
    case StemLockResult::unusable:
      output_path_error();
    case StemLockResult::busy:
      break;
  }
  // The second line keeps the input file's name, as in the reader's other stops on the path.
  variables.errmsg(1) =
      std::string("Output file name in use by another running analysis: ") + variables.fname;
  variables.errmsg(3) =
      "Please wait until it ends, or choose another output file name, and then re-run the program";
  stoponerror(1, "ReadData");
}

// The output path is tested by creating and deleting the data copy when it does not exist, so
// that an unwritable directory is reported before any analysis; an existing copy is untouched.
void test_output_path() {
  const std::string copy = variables.fname + ".data";
  std::error_code ec;
  if (std::filesystem::exists(copy, ec)) return;
  std::ofstream probe(copy);
  if (probe) {
    probe.close();
    std::filesystem::remove(copy, ec);
    return;
  }
  output_path_error();
}

// Item 10: the maximum numbers of matings per male and per female, 0 meaning unconstrained.
void read_max_matings(InputReader& in) {
  in.setitem(InputReader::prefixline, std::string("10, ") +
                                          "Max numbers of matings per male and female. " +
                                          std::string(InputReader::mustbeinteger));
  FString<17> first;
  FString<20> second;
  in.readitem(first, second);
  std::string line(variables.errmsg(1).trimmed());
  line += " But it reads \"";
  line += first.trimmed();
  line += "  ";
  line += second.trimmed();
  line += "\"\n";
  variables.errmsg(1) = line;
  int4 v[2] = {0, 0};
  if (!token_to_integer("(I9)", first.view(), v[0]) ||
      !token_to_integer("(I9)", second.view(), v[1]))
    stopondataerror(variables.errmsg(1).view());
  for (int s = 0; s < 2; ++s) {
    if (v[s] < 0)
      stopondataerror(
          "Max numbers of matings per male & female should be 0 (Unconstrained) or > 0!");
    variables.maxmatings(s + 1) = v[s] == 0 ? variables.smplsize : v[s];
  }
}

// Item 13: the sibship prior; its two values stand on the same record when it is not 0.
void read_prior(InputReader& in) {
  variables.priortype =
      in.readintnumber(InputReader::prefixline, "13, Indicator for Sibship Prior. ");
  if (unsigned_above(variables.priortype, 4))
    stopondataerror(
        "The indicator for sibship prior should be either 0 (No Prior), 1 (Weak Prior), 2 (Medium "
        "Prior), 3 (Strong Prior), 4 (Optimal Prior for Ne)!");
  variables.ewenmeannumprnt(1) = 1e99;
  variables.ewenmeannumprnt(2) = 1e99;
  if (variables.priortype == 0) return;

  in.file.backspace();
  in.setitem(InputReader::prefixline, variables.priortype == 4
                                          ? "prior Ne & prior male/female ratio!"
                                          : "mean paternal & maternal sibship size!");
  int4 type = 0;
  in.readitem(type, variables.ewenmeannumprnt(1), variables.ewenmeannumprnt(2));
  // Written as "inside the range" tests so that a NaN is refused as well.
  auto inside = [](real8 x, real8 lo, real8 hi) { return x >= lo && x <= hi; };
  if (variables.priortype <= 3) {
    for (int s = 1; s <= 2; ++s)
      if (!inside(variables.ewenmeannumprnt(s), 1e-300, variables.smplsize))
        stopondataerror(std::string("The mean sibship size (paternal or maternal)") +
                        " is either too big or too small!");
  } else {
    if (!inside(variables.ewenmeannumprnt(1), 1.0, 2147483647.0))
      stopondataerror(std::string("The prior effective size (Ne)") +
                      " is either too big or too small!");
    // The lower bound is 1e-8 held in single precision.
    if (!inside(variables.ewenmeannumprnt(2), 9.99999993922529e-9, 2147483647.0))
      stopondataerror(std::string("The prior male to female sex ratio") +
                      " is either too big or too small!");
  }
}

// Text before the "@" of a shorthand token, converted with "(I6)"; false when there is no "@".
bool before_at(InputReader& in, std::string_view token, int4& value) {
  const std::size_t at = token.find('@');
  if (at == std::string_view::npos) return false;
  if (!token_to_integer("(I6)", token.substr(0, at), value)) in.readfailure();
  return true;
}

// Refuses a given frequency that is not a number in [0, 1] as a failed read of its item.
void check_frequencies(InputReader& in, const std::vector<real8>& fre) {
  for (const real8 f : fre)
    if (!(f >= 0.0 && f <= 1.0)) in.readfailure();
}

// Item 14: known population allele frequencies with their counts, labels and frequencies. The
// values are kept as read (a count, or labels and frequencies, written once with "@" stand for
// every locus) and stored per locus only once the file is known to hold the loci.
void read_pop_allele_fre(InputReader& in) {
  variables.popallelefreknownq =
      in.readintnumber(InputReader::prefix, "indicator population allele frequency. ");
  checkflag(variables.popallelefreknownq,
            "The indicator for allele frequency should be either 0 (unknown) or 1 (known)!");
  if (variables.popallelefreknownq != 1) return;

  const int4 nloci = variables.numloci;
  GivenFrequencies& g = in.given;
  g = GivenFrequencies{};
  g.known = true;
  in.setitem(InputReader::prefix, "population allele number per locus");
  FString<20> token;
  in.readitem(token);
  int4 count = 0;
  if (before_at(in, token.view(), count)) {
    g.samecount = count;
    if (count <= 0) stopondataerror("The number of alleles should be > 0!");
  } else {
    in.file.backspace();
    in.readvalues(g.counts, nloci);
    for (const int4 c : g.counts)
      if (c <= 0) stopondataerror("The number of alleles should be > 0!");
  }

  in.setitem(InputReader::prefix, "population alleles & frequencies per locus");
  const int4 n1 = g.count(1);
  in.readvalues(g.labels, n1 - 1, token);
  int4 lastlabel = 0;
  if (before_at(in, token.view(), lastlabel)) {
    if (g.samecount == 0)
      for (const int4 c : g.counts)
        if (c != n1)
          stopondataerror(
              "All loci must have the same number of alleles when their labels and frequencies "
              "are given once with @!");
    g.labels.push_back(lastlabel);
    in.readvalues(g.frequencies, n1);
    check_frequencies(in, g.frequencies);
    g.sameall = true;
  } else {
    in.file.backspace();
    g.labels.clear();
    std::vector<int4> lab;
    std::vector<real8> fre;
    for (int4 l = 1; l <= nloci; ++l) {
      const int4 n = g.count(l);
      in.readvalues(lab, n);
      in.readvalues(fre, n);
      check_frequencies(in, fre);
      g.labels.insert(g.labels.end(), lab.begin(), lab.end());
      g.frequencies.insert(g.frequencies.end(), fre.begin(), fre.end());
    }
  }
  // Given frequencies are not updated.
  if (variables.updateallelefre == 1) variables.updateallelefre = 0;
}

}  // namespace

void store_given_frequencies(const GivenFrequencies& g) {
  if (!g.known) return;
  const int4 nloci = variables.numloci;
  variables.popnumallele.allocate(nloci);
  int4 maxcount = 0;
  for (int4 l = 1; l <= nloci; ++l) {
    variables.popnumallele(l) = g.count(l);
    maxcount = std::max(maxcount, g.count(l));
  }
  variables.popallele.allocate(maxcount, nloci);
  variables.popallelefre.allocate(maxcount, nloci);
  std::size_t k = 0;
  for (int4 l = 1; l <= nloci; ++l) {
    if (g.sameall) k = 0;
    for (int4 a = 1; a <= g.count(l); ++a, ++k) {
      variables.popallele(a, l) = g.labels[k];
      variables.popallelefre(a, l) = g.frequencies[k];
    }
  }
}

void read_parameters(InputReader& in) {
  const std::string_view pl = InputReader::prefixline;
  const std::string_view p = InputReader::prefix;

  in.setitem(pl, "1, Dataset Name");
  in.readitem(variables.datasetname);

  in.setitem(pl, "2, Output File Name");
  FString<500> outname;
  in.readitem(outname);
  variables.fname = std::string(trim_both(outname.view()));
  if (!variables.outputfilename.blank())
    variables.fname = std::string(trim_both(variables.outputfilename.view()));
  test_output_stem();
  if (variables.threadid == 0) {
    lock_stem();
    test_output_path();
  }

  variables.smplsize = in.readintnumber(pl, "3, Offspring Sample Size. ");
  if (variables.smplsize < 1 || variables.smplsize > 32767)
    stopondataerror("The offspring sample size should be in the range [1, 32767]!");
  variables.stroffidx.allocate(variables.smplsize);
  for (int4 i = 1; i <= variables.smplsize; ++i)
    variables.stroffidx(i) = adjustl(fwrite_string("(I5)", i));

  variables.numloci = in.readintnumber(pl, "4, Number of Loci. ");
  if (variables.numloci < 1) stopondataerror("The number of loci should be > 0!");

  variables.i_seed = in.readintnumber(pl, "5, Random Number Seed. ");
  if (variables.newseed != 0) variables.i_seed = variables.newseed;

  variables.updateallelefre = in.readintnumber(pl, "6, Indicator for Updating Allele Frequency. ");
  checkflag(variables.updateallelefre,
            "The indicator for updating allele frequency should be either 0 or 1!");

  variables.numsex = in.readintnumber(pl, "7, Indicator for Monoecious/Dioecious. ");
  if (variables.numsex != 1 && variables.numsex != 2)
    stopondataerror("The indicator should be 2/1 for Dioecious/Monoecious!");

  variables.allowinbreeding =
      in.readintnumber(pl, "8, Indicator for inbreeding (1) or oubreeding (0). ");
  checkflag(variables.allowinbreeding,
            "The indicator should be 0/1 for absense/presence of inbreeding!");
  variables.inbreeding = 0.0;

  variables.haplodiploid = in.readintnumber(pl, "9, Indicator (2/1) for Diploid/HaploDiploid. ");
  checkflag(variables.haplodiploid,
            "The indicator for species ploidy should be either 0 (diploid) or 1 (haplodiploid)!");
  if (variables.haplodiploid == 1 && variables.numsex == 1)
    stopondataerror("For monoecious species, only diploid model is implemented!");
  variables.ploidy(1) = variables.haplodiploid == 1 ? 1 : 2;
  variables.ploidy(2) = 2;

  read_max_matings(in);

  variables.allowclone = in.readintnumber(pl, "11, Indicator for clone inference. ");
  checkflag(variables.allowclone,
            "The indicator for clone inference should be either 0 for No or 1 for Yes!");
  if (variables.compfsprob == 0) variables.allowclone = 0;

  variables.fsscaleq = in.readintnumber(pl, "12, Indicator for full sibship size scaling. ");
  checkflag(variables.fsscaleq,
            "The indicator for full sibship size scaling should be either 0 for No or 1 for Yes!");
  if (variables.smplsize <= 14) variables.fsscaleq = 0;

  read_prior(in);
  read_pop_allele_fre(in);

  variables.numrun = in.readintnumber(p, "Number of Runs. ");
  if (variables.numrun < 1) stopondataerror("The number of runs should be > 0!");

  variables.lengthrun = in.readintnumber(p, "Length of Runs. ");
  if (unsigned_above(variables.lengthrun, 4))
    stopondataerror(
        "The length of a run should be either 0 (very short), 1 (short), 2 (medium), 3 (long) or 4 "
        "(very long)!");

  variables.monitormethod = in.readintnumber(p, "Indicator of Monitor Method. ");
  checkflag(variables.monitormethod,
            "The indicator MonitorMethod should be either 0 (by Iterate#) or 1 (by Time in "
            "seconds)!");

  variables.monitorinterval = in.readintnumber(p, "Monitor Interval. ");
  if (variables.monitorinterval < 1) stopondataerror("The MonitorInterval should be > 0!");

  const int4 platform = in.readintnumber(p, "Indicator for Other platform/Windows. ");
  checkflag(platform, "The indicator for platform should be either 1 (Windows) or 0 (Others)!");

  const int4 method = in.readintnumber(p, "Indicator for PairScore/Full Likelihood Method. ");
  if (unsigned_above(method, 2))
    stopondataerror(
        "The indicator for analysis method should be 1 (FL: Full Likelihood), 0 (PS: Pairwise "
        "Score), or 2 (PS guided FL)!");
  variables.fulllikelihoodmethodq = method > 0 ? 1 : 0;
  variables.quicksearchq = method != 1 ? 1 : 0;
  // Method 0 with updating still on: allele frequencies are updated in rounds.
  if (method < variables.updateallelefre) variables.updateallelefre = 2;

  variables.likelihoodprecision = in.readintnumber(p, "Likelihood Precision. ");
  if (unsigned_above(variables.likelihoodprecision, 3))
    stopondataerror(
        "The LikelihoodPrecision should be 0/1/2/3 for low/medium/high/very high precision!");
  if (variables.fulllikelihoodmethodq == 0) variables.likelihoodprecision = 1;
}

}  // namespace kinrad
