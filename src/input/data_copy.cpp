#include <cstdlib>

#include "core/farray.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "input/data_copy_internal.hpp"

namespace kinrad::datacopy {

namespace {

// The dropout or other-error rates of all loci, ten loci a line. A group without any rate
// above 1e-300 is written as integer zeros, so that an error-free group reads " 0 0 0 ...";
// its values are rates all the same and compare with the tolerance of reals.
bool rate_groups(const FArray<real8, 1>& rate, TextStatement& t, const CopySink& sink) {
  const int4 nloci = variables.numloci;
  for (int4 first = 1; first <= nloci; first += 10) {
    const int4 last = first + 9 < nloci ? first + 9 : nloci;
    bool any = false;
    for (int4 l = first; l <= last; ++l)
      if (rate(l) > 1e-300) any = true;
    if (any) {
      t.start("(10F10.7)");
      for (int4 l = first; l <= last; ++l) t.add_real(rate(l));
    } else {
      t.start("(10I2)");
      for (int4 l = first; l <= last; ++l) t.add_real_as_integer(0);
    }
    if (!sink.text(t)) return false;
  }
  return true;
}

char byte_of(int4 v) {
  return static_cast<char>(static_cast<int1>(v));
}

// The offspring's alleles at locus l: the first slot at a dominant locus, the sum of both
// slots at a codominant locus of fewer than three alleles, otherwise the first offploid(i)
// allele numbers of each offspring.
void offspring_locus(int4 l, std::string& bytes) {
  const auto& v = variables;
  bytes.clear();
  for (int4 i = 1; i <= v.smplsize; ++i) {
    if (v.dominantmarker(l) == 1) {
      bytes.push_back(byte_of(v.indivgtype(1, l, i)));
    } else if (v.obsnumallele(l) < 3) {
      bytes.push_back(byte_of(v.indivgtype(1, l, i) + v.indivgtype(2, l, i)));
    } else {
      for (int4 a = 1; a <= v.offploid(i); ++a) bytes.push_back(byte_of(v.indivgtype(a, l, i)));
    }
  }
}

// The candidates of sex k at locus l, in their order within the sex (the mothers' columns of
// cndgtype follow the fathers').
void candidate_locus(int4 k, int4 l, std::string& bytes) {
  const auto& v = variables;
  bytes.clear();
  const int4 offset = k == 1 ? 0 : v.numcandidate(1);
  const int4 ploidy = v.ploidy(k);
  for (int4 j = 1; j <= v.numcandidate(k); ++j) {
    const int4 c = offset + j;
    if (v.dominantmarker(l) == 1) {
      bytes.push_back(byte_of(v.cndgtype(1, l, c)));
    } else if (v.obsnumallele(l) > 2) {
      for (int4 a = 1; a <= ploidy; ++a) bytes.push_back(byte_of(v.cndgtype(a, l, c)));
    } else if (ploidy == 2) {
      bytes.push_back(byte_of(v.cndgtype(1, l, c) + v.cndgtype(2, l, c)));
    } else {
      bytes.push_back(byte_of(v.cndgtype(1, l, c)));
    }
  }
}

template <class Ids>
void identifiers(const Ids& id, index_t first, index_t last, std::string& bytes) {
  bytes.clear();
  for (index_t i = first; i <= last; ++i) bytes.append(id(i).view());
}

// Known parents or known sibships of sex k: the count of offspring with a positive value,
// then their numbers, then their values.
bool known_pairs(const FArray<int4, 2>& source, int4 k, TextStatement& t, const CopySink& sink) {
  std::vector<int4> offspring;
  std::vector<int4> value;
  if (source.allocated())
    for (int4 i = 1; i <= variables.smplsize; ++i)
      if (source(i, k) > 0) {
        offspring.push_back(i);
        value.push_back(source(i, k));
      }
  t.start("(I10)");
  t.add(static_cast<int4>(offspring.size()));
  if (!sink.text(t)) return false;
  if (offspring.empty()) return true;
  for (const std::vector<int4>* list : {&offspring, &value}) {
    t.start("", 10);
    for (const int4 x : *list) t.add(x);
    if (!sink.text(t)) return false;
  }
  return true;
}

bool excluded_parents(TextStatement& t, const CopySink& sink) {
  const auto& v = variables;
  if (!v.excludedparent.allocated()) return true;
  for (int4 k = 1; k <= 2; ++k)
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const Excludedlist& e = v.excludedparent(i, k);
      if (e.count == 0) continue;
      // The sign of the count (listed candidates excluded, or the only ones allowed) is not
      // part of the copy, as the offspring number is not.
      const int4 m = std::abs(e.count);
      t.start("");
      t.add(m);
      if (!sink.text(t)) return false;
      t.start("", 20);
      for (int4 j = 1; j <= m; ++j) t.add(e.list(j));
      if (!sink.text(t)) return false;
    }
  return true;
}

bool excluded_sibships(TextStatement& t, const CopySink& sink) {
  const auto& v = variables;
  if (!v.excludedsib.allocated()) return true;
  for (int4 k = 1; k <= 2; ++k) {
    if (v.anyexcludedsibshipq(k) == 0) continue;
    for (int4 i = 1; i <= v.smplsize; ++i) {
      const FArray<int4, 1>& words = v.excludedsib(i, k).a;
      if (!words.allocated()) continue;
      t.start("");
      t.add(i);
      t.add(static_cast<int4>(words.lbound(1)));
      t.add(static_cast<int4>(words.ubound(1)));
      if (!sink.text(t)) return false;
      t.start("", 20);
      for (index_t w = words.lbound(1); w <= words.ubound(1); ++w) t.add(words(w));
      if (!sink.text(t)) return false;
    }
  }
  return true;
}

}  // namespace

bool walk_data_copy(const CopySink& sink) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 nloci = v.numloci;
  TextStatement t;
  BinaryRecord b;

  t.start("(4I10, 4I3)");
  for (const int4 x : {n, nloci, v.maxmatings(1), v.maxmatings(2), v.numsex, v.allowinbreeding,
                       v.haplodiploid, v.popallelefreknownq})
    t.add(x);
  if (!sink.text(t)) return false;

  if (v.popallelefreknownq == 1)
    for (int4 l = 1; l <= nloci; ++l) {
      t.start("(10I10)");
      for (int4 a = 1; a <= v.popnumallele(l); ++a) t.add(v.popallele(a, l));
      if (!sink.text(t)) return false;
      t.start("(10F10.7)");
      for (int4 a = 1; a <= v.popnumallele(l); ++a) t.add_real(v.popallelefre(a, l));
      if (!sink.text(t)) return false;
    }

  t.start("(20I2)");
  for (int4 l = 1; l <= nloci; ++l) t.add(v.dominantmarker(l));
  if (!sink.text(t)) return false;
  if (!rate_groups(v.droprate, t, sink)) return false;
  if (!rate_groups(v.othererrorrate, t, sink)) return false;

  b.identifiers = false;
  for (int4 l = 1; l <= nloci; ++l) {
    offspring_locus(l, b.bytes);
    if (!sink.record(b)) return false;
  }
  b.identifiers = true;
  identifiers(v.offspringid, 1, n, b.bytes);
  if (!sink.record(b)) return false;

  t.start("(2F10.7, 2I10)");
  t.add_real(v.propprntsampled(1));
  t.add_real(v.propprntsampled(2));
  t.add(v.numcandidate(1));
  t.add(v.numcandidate(2));
  if (!sink.text(t)) return false;

  for (int4 k = 1; k <= 2; ++k) {
    if (v.numcandidate(k) < 1) continue;
    b.identifiers = false;
    for (int4 l = 1; l <= nloci; ++l) {
      candidate_locus(k, l, b.bytes);
      if (!sink.record(b)) return false;
    }
    b.identifiers = true;
    b.bytes.clear();
    for (int4 j = 1; j <= v.numcandidate(k); ++j) b.bytes.append(v.cndparentid(j, k).view());
    if (!sink.record(b)) return false;
  }

  for (const FArray<int4, 2>* source : {&v.indivparent, &v.knownsibship})
    for (int4 k = 1; k <= 2; ++k)
      if (!known_pairs(*source, k, t, sink)) return false;
  if (!excluded_parents(t, sink)) return false;
  return excluded_sibships(t, sink);
}

std::string statement_text(const TextStatement& t) {
  std::string out;
  if (!t.format.empty()) {
    FormatWriter w(t.format, out);
    for (const TextValue& x : t.values) {
      if (x.real && !x.integer_text)
        w.put_real(x.r);
      else
        w.put_integer(x.i, 4);
    }
    if (w.finish()) out.push_back('\n');
    return out;
  }
  const std::size_t count = t.values.size();
  for (std::size_t k = 0; k < count; ++k) {
    out += std::to_string(t.values[k].i);
    if (t.perline == 0) {
      if (k + 1 < count) out.push_back(',');
    } else {
      out.push_back(',');
      if ((k + 1) % static_cast<std::size_t>(t.perline) == 0 && k + 1 < count) out.push_back('\n');
    }
  }
  out.push_back('\n');
  return out;
}

}  // namespace kinrad::datacopy
