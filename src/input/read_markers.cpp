// Items 22 to 25 of the project input file: marker identifiers, marker types and the two
// typing-error rates of each locus.
#include <algorithm>
#include <string>
#include <string_view>

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

// Item 22: one identifier per locus, or "@" (loci MK1, MK2, ...) or "ABC@" (ABC1, ABC2, ...).
void read_marker_ids(InputReader& in) {
  const int4 nloci = variables.numloci;
  variables.markerid.allocate(nloci);
  in.setitem(InputReader::prefix, "Marker IDs");
  FString<20> token;
  in.readitem(token);
  const std::size_t at = at_position(token);
  if (at == std::string_view::npos) {
    in.file.backspace();
    in.readitem(variables.markerid);
  } else {
    const std::string stem = at == 0 ? std::string("MK") : std::string(token.view().substr(0, at));
    for (int4 l = 1; l <= nloci; ++l) variables.markerid(l) = stem + itoc(l);
  }
  for (auto& id : variables.markerid) id = adjustr(id.view());

  // Duplicates are neighbours in the sorted order.
  FArray<int4, 1> idx(nloci);
  indexch(nloci, variables.markerid.data(), idx.data());
  for (int4 k = 2; k <= nloci; ++k) {
    const int4 later = idx(k);
    const int4 other = idx(k - 1);
    if (variables.markerid(later) == variables.markerid(other)) {
      std::string line = "Marker " + itoc(later) + " has the same ID, ";
      line += trim_both(variables.markerid(later).view());
      line += ", as marker " + itoc(other);
      stopondataerror(line);
    }
  }
}

// Item 23: 1 dominant, 0 codominant; "v@" gives every locus the value v.
void read_marker_types(InputReader& in) {
  const int4 nloci = variables.numloci;
  variables.dominantmarker.allocate(nloci);
  in.setitem(InputReader::prefix, "indicators for marker types per locus");
  FString<20> token;
  in.readitem(token);
  // Read as 4-byte values so that a value such as 256 is refused rather than wrapped.
  FArray<int4, 1> types(nloci);
  const std::size_t at = at_position(token);
  if (at == std::string_view::npos) {
    in.file.backspace();
    in.readitem(types);
  } else {
    int4 v = 0;
    if (!token_to_integer("(I9)", token.view().substr(0, at), v)) in.readfailure();
    types.fill(v);
  }
  for (int4 l = 1; l <= nloci; ++l) {
    if (types(l) != 0 && types(l) != 1)
      stopondataerror("Marker type must be 1 (dominant) or 0 (codominant)!");
    variables.dominantmarker(l) = static_cast<int1>(types(l));
  }
}

// One rate per locus, or "r@" for all loci with r read by "(F12.8)" (so "1@" is 1e-8).
void read_rates(InputReader& in, std::string_view label, FArray<real8, 1>& rates) {
  rates.allocate(variables.numloci);
  in.setitem(InputReader::prefix, label);
  FString<20> token;
  in.readitem(token);
  const std::size_t at = at_position(token);
  if (at == std::string_view::npos) {
    in.file.backspace();
    in.readitem(rates);
  } else {
    real8 r = 0.0;
    if (fread_string("(F12.8)", token.view().substr(0, at), r) != IoStatus::ok) in.readfailure();
    rates.fill(r);
  }
}

}  // namespace

void read_markers(InputReader& in) {
  read_marker_ids(in);
  read_marker_types(in);
  read_rates(in, "Dropout Rate per locus", variables.droprate);
  read_rates(in, "Other Error Rate per locus", variables.othererrorrate);

  const int4 nloci = variables.numloci;
  // Written as an "inside the range" test so that a NaN is refused as well.
  auto inrange = [](real8 r) { return r > -1e-300 && r <= 1.0; };
  for (int4 l = 1; l <= nloci; ++l)
    if (!inrange(variables.droprate(l)) || !inrange(variables.othererrorrate(l)))
      stopondataerror("Marker error rate is out of the range [0, 1]!");

  // 1e-6 held in single precision.
  const real8 tiny = static_cast<real8>(1e-6f);
  const bool haplofull = variables.fulllikelihoodmethodq == 1 && variables.haplodiploid == 1;
  for (int4 l = 1; l <= nloci; ++l) {
    real8& drop = variables.droprate(l);
    real8& other = variables.othererrorrate(l);
    // A dominant locus with dropout but no other errors is given a small other-error rate.
    if (variables.dominantmarker(l) == 1 && drop > tiny && other < tiny)
      other = std::max(0.01 * drop, 1e-5);
    // Full likelihood of a haplodiploid species: a codominant locus with other errors keeps
    // a rate of at least 0.0005.
    if (haplofull && variables.dominantmarker(l) == 0 && other > 1e-300 && other < 0.0005)
      other = 0.0005;
    // A dropout rate of 1 is held just below 1.
    if (drop > 0.999999) drop = 0.999999;
  }

  // Label lists start empty with room for two labels.
  variables.rawallelenum.allocate(nloci);
  variables.rawalleleid.allocate(nloci);
  for (auto& ids : variables.rawalleleid) ids.a.allocate(2);
}

}  // namespace kinrad
