// The file of corrected allele frequencies kept under the output stem: sequential unformatted
// doubles, the windows of five loci to a record, then one record per remaining locus. Nothing
// else is stored, so a file is trusted only when every record has exactly the length the
// current loci give it and the file ends after the last one.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/unformatted_file.hpp"
#include "input/data_process_steps_internal.hpp"

namespace kinrad {

namespace {

index_t window_length(int4 l) {
  return std::max<index_t>(variables.obsnumallele(l), 2);
}

// The loci of each record: first and last locus.
std::vector<std::pair<int4, int4>> recordloci() {
  const int4 nloci = variables.numloci;
  const int4 full = nloci - nloci % 5;
  std::vector<std::pair<int4, int4>> r;
  for (int4 l = 1; l <= full; l += 5) r.emplace_back(l, l + 4);
  for (int4 l = full + 1; l <= nloci; ++l) r.emplace_back(l, l);
  return r;
}

}  // namespace

std::string inb_allele_fre_name() {
  const FString<500> name(variables.fname + ".InbAlleleFr");
  return std::string(name.trimmed());
}

bool read_inb_allele_fre(const std::string& path) {
  UnformattedReader in;
  if (!in.open(path)) return false;
  // Read whole into a scratch copy first: a file that fails part way is never half used.
  std::vector<real8> values;
  for (const auto& [first, last] : recordloci()) {
    index_t len = 0;
    for (int4 l = first; l <= last; ++l) len += window_length(l);
    std::vector<real8> rec(static_cast<std::size_t>(len));
    if (in.read_record(std::span<real8>(rec)) != IoStatus::ok) return false;
    if (in.record_length() != rec.size() * sizeof(real8)) return false;
    values.insert(values.end(), rec.begin(), rec.end());
  }
  if (in.read_record() != IoStatus::end) return false;
  in.close();

  std::size_t at = 0;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const FView<real8, 1>& w = variables.obsallelefre(l).a;
    for (index_t a = 1; a <= window_length(l); ++a) w(a) = values[at++];
  }
  return true;
}

void write_inb_allele_fre(const std::string& path) {
  // The cache's open and write failures both read "Failed writing".
  const WriteFailure failure{.routine = "DataProcess", .open_prefix = "Failed writing "};
  write_replacing_unformatted(
      path,
      [](ReplacingFile& out) {
        std::vector<real8> rec;
        for (const auto& [first, last] : recordloci()) {
          rec.clear();
          for (int4 l = first; l <= last; ++l) {
            const FView<real8, 1>& w = variables.obsallelefre(l).a;
            for (index_t a = 1; a <= window_length(l); ++a) rec.push_back(w(a));
          }
          out.write_record(rec);
        }
      },
      failure);
}

}  // namespace kinrad
