// Items 22 to 25 of the project input file: marker identifiers, marker types and the two
// typing-error rates of each locus.
#include <algorithm>
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

// Position of the "@" of a shorthand token, npos when it is written out per locus.
std::size_t at_position(const FString<20>& token) {
  return token.view().find('@');
}

// One item of per-locus values as read: the values of every locus, or one value written with
// "@" for all loci.
template <class T>
struct PerLocus {
  bool same = false;
  T value{};
  std::vector<T> values;
  const T& at(int4 l) const { return same ? value : values[static_cast<std::size_t>(l - 1)]; }
};

// Item 22: one identifier per locus, or "@" (loci MK1, MK2, ...) or "ABC@" (ABC1, ABC2, ...).
// Returns the stem of the generated identifiers, or fills `ids` with the identifiers read.
bool read_marker_ids(InputReader& in, std::vector<FString<20>>& ids, std::string& stem) {
  const int4 nloci = variables.numloci;
  in.setitem(InputReader::prefix, "Marker IDs");
  FString<20> token;
  in.readitem(token);
  const std::size_t at = at_position(token);
  if (at != std::string_view::npos) {
    stem = at == 0 ? std::string("MK") : std::string(token.view().substr(0, at));
    return true;
  }
  in.file.backspace();
  in.readvalues(ids, nloci);
  for (auto& id : ids) id = adjustr(id.view());

  // Duplicates are neighbours in the sorted order.
  FArray<int4, 1> idx(nloci);
  indexch(nloci, ids.data(), idx.data());
  for (int4 k = 2; k <= nloci; ++k) {
    const int4 later = idx(k);
    const int4 other = idx(k - 1);
    const FString<20>& id = ids[static_cast<std::size_t>(later - 1)];
    if (id == ids[static_cast<std::size_t>(other - 1)]) {
      std::string line = "Marker " + itoc(later) + " has the same ID, ";
      line += trim_both(id.view());
      line += ", as marker " + itoc(other);
      stopondataerror(line);
    }
  }
  return false;
}

// Item 23: 1 dominant, 0 codominant; "v@" gives every locus the value v. Read as 4-byte values
// so that a value such as 256 is refused rather than wrapped.
void read_marker_types(InputReader& in, PerLocus<int4>& types) {
  in.setitem(InputReader::prefix, "indicators for marker types per locus");
  FString<20> token;
  in.readitem(token);
  const std::size_t at = at_position(token);
  if (at == std::string_view::npos) {
    in.file.backspace();
    in.readvalues(types.values, variables.numloci);
  } else {
    if (!token_to_integer("(I9)", token.view().substr(0, at), types.value)) in.readfailure();
    types.same = true;
  }
  auto bad = [](int4 t) { return t != 0 && t != 1; };
  if ((types.same && bad(types.value)) ||
      std::any_of(types.values.begin(), types.values.end(), bad))
    stopondataerror("Marker type must be 1 (dominant) or 0 (codominant)!");
}

// One rate per locus, or "r@" for all loci with r read by "(F12.8)" (so "1@" is 1e-8).
void read_rates(InputReader& in, std::string_view label, PerLocus<real8>& rates) {
  in.setitem(InputReader::prefix, label);
  FString<20> token;
  in.readitem(token);
  const std::size_t at = at_position(token);
  if (at == std::string_view::npos) {
    in.file.backspace();
    in.readvalues(rates.values, variables.numloci);
  } else {
    if (fread_string("(F12.8)", token.view().substr(0, at), rates.value) != IoStatus::ok)
      in.readfailure();
    rates.same = true;
  }
}

}  // namespace

void read_markers(InputReader& in) {
  std::vector<FString<20>> ids;
  std::string stem;
  const bool generated = read_marker_ids(in, ids, stem);
  PerLocus<int4> types;
  read_marker_types(in, types);
  PerLocus<real8> drop;
  PerLocus<real8> other;
  read_rates(in, "Dropout Rate per locus", drop);
  read_rates(in, "Other Error Rate per locus", other);

  // Written as an "inside the range" test so that a NaN is refused as well.
  auto outside = [](real8 r) { return !(r > -1e-300 && r <= 1.0); };
  auto anyoutside = [&](const PerLocus<real8>& r) {
    return (r.same && outside(r.value)) || std::any_of(r.values.begin(), r.values.end(), outside);
  };
  if (anyoutside(drop) || anyoutside(other))
    stopondataerror("Marker error rate is out of the range [0, 1]!");

  // Every offspring line holds an identifier and at least one value per locus. A number of
  // loci that the rest of the file cannot hold (given with "@" above) makes the first
  // offspring line fail: that read is made before anything is sized by the number of loci.
  const int4 nloci = variables.numloci;
  if (!in.holds(static_cast<long long>(nloci) + 1)) fail_offspring_read(in);

  variables.markerid.allocate(nloci);
  variables.dominantmarker.allocate(nloci);
  variables.droprate.allocate(nloci);
  variables.othererrorrate.allocate(nloci);
  for (int4 l = 1; l <= nloci; ++l) {
    variables.markerid(l) = generated ? adjustr(FString<20>(stem + itoc(l)).view())
                                      : ids[static_cast<std::size_t>(l - 1)];
    variables.dominantmarker(l) = static_cast<int1>(types.at(l));
    variables.droprate(l) = drop.at(l);
    variables.othererrorrate(l) = other.at(l);
  }

  // 1e-6 held in single precision.
  const real8 tiny = static_cast<real8>(1e-6f);
  const bool haplofull = variables.fulllikelihoodmethodq == 1 && variables.haplodiploid == 1;
  for (int4 l = 1; l <= nloci; ++l) {
    real8& dr = variables.droprate(l);
    real8& oe = variables.othererrorrate(l);
    // A dominant locus with dropout but no other errors is given a small other-error rate.
    if (variables.dominantmarker(l) == 1 && dr > tiny && oe < tiny) oe = std::max(0.01 * dr, 1e-5);
    // Full likelihood of a haplodiploid species: a codominant locus with other errors keeps
    // a rate of at least 0.0005.
    if (haplofull && variables.dominantmarker(l) == 0 && oe > 1e-300 && oe < 0.0005) oe = 0.0005;
    // A dropout rate of 1 is held just below 1.
    if (dr > 0.999999) dr = 0.999999;
  }

  // Label lists start empty with room for two labels.
  variables.rawallelenum.allocate(nloci);
  variables.rawalleleid.allocate(nloci);
  for (auto& labels : variables.rawalleleid) labels.a.allocate(2);

  store_given_frequencies(in.given);
}

}  // namespace kinrad
