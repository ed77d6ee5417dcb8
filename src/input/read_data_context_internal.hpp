#pragma once
// Shared state of one reading of the project input file: the open file, the two prefixes of the
// error lines, and the failure paths that every stretch of the reader uses.
#include <string>
#include <string_view>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_reader.hpp"

namespace kinrad {

// Given allele frequencies as read: per-locus counts (or one count written with "@" for every
// locus), and the labels and frequencies of every locus in turn (or of locus 1 only, written
// once with "@" for every locus).
struct GivenFrequencies {
  bool known = false;
  int4 samecount = 0;  // > 0: the count of every locus
  std::vector<int4> counts;
  bool sameall = false;
  std::vector<int4> labels;
  std::vector<real8> frequencies;
  int4 count(int4 l) const {
    return samecount > 0 ? samecount : counts[static_cast<std::size_t>(l - 1)];
  }
};

struct InputReader {
  RecordReader file;
  GivenFrequencies given;
  // Error-line prefixes: items 1 to 13 name their line, later items only their content.
  static constexpr std::string_view prefixline = "Error in reading line ";
  static constexpr std::string_view prefix = "Error in reading ";
  static constexpr std::string_view mustbeinteger = "It must be an integer.";

  // Error line 1 = prefix + label, before an item is read.
  void setitem(std::string_view pfx, std::string_view label);
  // The common failure path of a read: line 3, when the reader put an explanation there, is
  // joined to line 1; then the data error stop.
  [[noreturn]] void readfailure();
  // Stops with the trimmed error line 1 followed by a line feed.
  [[noreturn]] void integerfailure();
  // Reads one integer item: a token of 20 characters from a new record, converted with "(I9)".
  int4 readintnumber(std::string_view pfx, std::string_view label);
  // One list-directed read of an item; null values and "/" count as a failure of the item.
  template <class... A>
  void readitem(A&... items) {
    if (file.read_list_strict(items...) != IoStatus::ok) readfailure();
  }
  // One list-directed read of n values into `values`, then of the tail items. The values are
  // gathered one at a time, so that a count larger than the file can hold runs into the end of
  // the file, and fails as the item's read, instead of being allocated first.
  template <class T, class... A>
  void readvalues(std::vector<T>& values, index_t n, A&... tail) {
    values.clear();
    bool ok = file.begin_list(true);
    T v{};
    for (index_t k = 1; ok && k <= n; ++k) {
      ok = file.list_part(v);
      if (ok) values.push_back(v);
    }
    if constexpr (sizeof...(A) > 0) ok = ok && file.list_part(tail...);
    if (file.end_list() != IoStatus::ok || !ok) readfailure();
  }
  // One list-directed read of the head items, the last of them a count, and then of that many
  // values, as one statement: the values follow the count wherever the reader stands, on the
  // same record or on the next ones.
  template <class T, class... A>
  void readcounted(std::vector<T>& values, int4& count, A&... head) {
    values.clear();
    bool ok = file.begin_list(true) && file.list_part(head..., count);
    T v{};
    for (int4 k = 1; ok && k <= count; ++k) {
      ok = file.list_part(v);
      if (ok) values.push_back(v);
    }
    if (file.end_list() != IoStatus::ok || !ok) readfailure();
  }
  // True when the records from the next one on can supply n values.
  bool holds(long long n) const { return n <= 0 || file.values_left(n) >= n; }
};

// The integer of a token converted with the edit format fmt ("(I9)", "(I6)"); false when it
// cannot be read.
bool token_to_integer(std::string_view fmt, std::string_view token, int4& value);

// Items 1 to 21: the run parameters and the settings derived from them.
void read_parameters(InputReader& in);

// The given allele frequencies into the module arrays, one column per locus.
void store_given_frequencies(const GivenFrequencies& g);

// Items 22 to 25: marker identifiers, marker types, dropout and other-error rates.
void read_markers(InputReader& in);
// The read of the first offspring line when the rest of the file cannot hold it: shows the
// line that opens the offspring genotypes and stops as that read fails.
[[noreturn]] void fail_offspring_read(InputReader& in);

// Items 26 to 29: offspring genotypes, candidate proportions and numbers, candidate genotypes,
// and the identity rules between individuals.
void read_genotypes(InputReader& in);
// Items 30 to 33: known parents and sibships, the monogamy test, excluded parents and sibships.
// Closes the input file.
void read_relationships(InputReader& in);

// Replaces the allele labels of one individual by allele numbers of their locus, extending the
// label lists. values(1:2, l) are the labels read at locus l (only the first counts(l) of them
// are used); kind 0 stores offspring index into indivgtype, kind 1 or 2 the candidate index of
// that sex into cndgtype.
void convertgenotype(const FArray<int4, 2>& values, const FArray<int4, 1>& counts, int4 kind,
                     int4 index);

}  // namespace kinrad
