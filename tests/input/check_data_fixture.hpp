#pragma once
// Prepared data for the data-copy tests, set directly in the module (as the input reader and
// data preparation leave it), and a reader of hand-written hex files.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::checktest {

inline void set_stem(const std::string& stem) {
  variables.fname = stem;
  for (int k = 1; k <= 5; ++k)
    variables.midfilename(k) = stem + ".MidResult" + std::to_string(k + 1);
}

// n offspring at L codominant two-allele loci, all missing, error-free; no candidates and no
// known or excluded relationships. Stem "myout", no screen output.
inline void minimal_fixture(int4 n, int4 nloci) {
  reset_all_modules();
  auto& v = variables;
  set_stem("myout");
  v.displayq = 0;
  v.smplsize = n;
  v.numloci = nloci;
  v.maxmatings(1) = n;
  v.maxmatings(2) = n;
  v.numsex = 2;
  v.ploidy(1) = 2;
  v.ploidy(2) = 2;
  v.dominantmarker.allocate(nloci);
  v.droprate.allocate(nloci);
  v.othererrorrate.allocate(nloci);
  v.obsnumallele.allocate(nloci);
  for (int4 l = 1; l <= nloci; ++l) v.obsnumallele(l) = 2;
  v.offploid.allocate(n);
  v.offspringid.allocate(n);
  for (int4 i = 1; i <= n; ++i) {
    v.offploid(i) = 2;
    v.offspringid(i) = "O" + std::to_string(i);
  }
  v.indivgtype.allocate(2, nloci, n);
  v.propprntsampled(1) = 0.5;
  v.propprntsampled(2) = 0.5;
  v.cndparentid.allocate(Dim(0, 0), 2);
  v.indivparent.allocate(n, 2);
  for (int4 i = 1; i <= n; ++i) v.indivparent(i, 1) = v.indivparent(i, 2) = -1;
  v.knownsibship.allocate(n, 2);
}

// Four offspring O1-O4, candidate fathers F1, F2 and mother M1 at three loci: locus 1
// dominant, locus 2 codominant with three alleles, locus 3 codominant with two. Given
// population frequencies; O2's father is known (F1); O3 and O4 are known maternal sibs; F2 is
// excluded as O3's father; O4 must not share a paternal sibship with O1 or O2.
inline void small_fixture() {
  minimal_fixture(4, 3);
  auto& v = variables;
  v.maxmatings(1) = 4;
  v.maxmatings(2) = 4;
  v.popallelefreknownq = 1;
  v.popnumallele.allocate(3);
  v.popallele.allocate(3, 3);
  v.popallelefre.allocate(3, 3);
  const int4 labels[3][3] = {{1, 2, 0}, {101, 105, 110}, {7, 9, 0}};
  const real8 fre[3][3] = {{0.3, 0.7, 0}, {0.25, 0.5, 0.25}, {0.6, 0.4, 0}};
  for (int4 l = 1; l <= 3; ++l) {
    v.popnumallele(l) = l == 2 ? 3 : 2;
    for (int4 a = 1; a <= v.popnumallele(l); ++a) {
      v.popallele(a, l) = labels[l - 1][a - 1];
      v.popallelefre(a, l) = fre[l - 1][a - 1];
    }
  }
  v.dominantmarker(1) = 1;
  v.droprate(1) = 0.05;
  v.droprate(2) = 0.01;
  v.obsnumallele(2) = 3;

  // (locus 1, locus 2, locus 3) allele pairs of O1 to O4; slot 2 of a dominant locus repeats
  // slot 1.
  const int1 off[4][3][2] = {{{1, 1}, {1, 3}, {1, 2}},
                             {{2, 2}, {2, 2}, {1, 1}},
                             {{0, 0}, {0, 0}, {2, 2}},
                             {{1, 1}, {2, 3}, {0, 0}}};
  for (int4 i = 1; i <= 4; ++i)
    for (int4 l = 1; l <= 3; ++l)
      for (int4 a = 1; a <= 2; ++a) v.indivgtype(a, l, i) = off[i - 1][l - 1][a - 1];

  v.propprntsampled(1) = 0.5;
  v.propprntsampled(2) = 0.25;
  v.numcandidate(1) = 2;
  v.numcandidate(2) = 1;
  v.allcandidate = 3;
  v.cndparentid.allocate(Dim(0, 2), 2);
  v.cndparentid(0, 1) = "0";
  v.cndparentid(0, 2) = "0";
  v.cndparentid(1, 1) = "F1";
  v.cndparentid(2, 1) = "F2";
  v.cndparentid(1, 2) = "M1";
  // F1, F2, M1.
  const int1 cnd[3][3][2] = {
      {{1, 1}, {1, 2}, {1, 2}}, {{2, 2}, {3, 3}, {2, 2}}, {{1, 1}, {0, 0}, {1, 1}}};
  v.cndgtype.allocate(2, 3, 3);
  for (int4 c = 1; c <= 3; ++c)
    for (int4 l = 1; l <= 3; ++l)
      for (int4 a = 1; a <= 2; ++a) v.cndgtype(a, l, c) = cnd[c - 1][l - 1][a - 1];

  v.indivparent(2, 1) = 1;
  v.knownsibship(3, 2) = 1;
  v.knownsibship(4, 2) = 1;

  v.excludedparent.allocate(4, 2);
  v.excludedparent(3, 1).count = 1;
  v.excludedparent(3, 1).list.allocate(1);
  v.excludedparent(3, 1).list(1) = 2;
  v.anyexcludedparentq(1) = 1;

  v.anyexcludedsibshipq(1) = 1;
  v.excludedsibshipq.allocate(4);
  v.excludedsibshipq(1) = v.excludedsibshipq(2) = v.excludedsibshipq(4) = 1;
  v.excludedsib.allocate(4, 2);
  v.excludedsib(4, 1).a.allocate(Dim(0, 0));
  v.excludedsib(4, 1).a(0) = 3;  // offspring 1 and 2
}

// Bytes from a text of hex pairs and quoted texts; "#" starts a comment to the line end.
inline std::string parse_hex(const std::string& text) {
  std::string bytes;
  for (std::size_t k = 0; k < text.size();) {
    const char c = text[k];
    if (c == '#') {
      while (k < text.size() && text[k] != '\n') ++k;
    } else if (c == '"') {
      const std::size_t end = text.find('"', k + 1);
      bytes += text.substr(k + 1, end - k - 1);
      k = end + 1;
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      bytes.push_back(static_cast<char>(std::stoi(text.substr(k, 2), nullptr, 16)));
      k += 2;
    } else {
      ++k;
    }
  }
  return bytes;
}

inline std::string data_file(const std::string& name) {
  return testing_support::read_text(std::string(KINRAD_TEST_DATA_DIR) + "/" + name);
}

}  // namespace kinrad::checktest
