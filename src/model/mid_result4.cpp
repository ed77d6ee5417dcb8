// The allele-frequency checkpoint reader: one frequency list per locus, then the round reached.
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "model/model.hpp"

namespace kinrad {

namespace {

// -0.001 in single precision, widened: the checkpoints were checked against this bound, which
// lets a written -0.001 pass.
constexpr real8 lowest_frequency = static_cast<real8>(-0.001f);

}  // namespace

bool restart_frequencies_acceptable(std::span<const real8> p) {
  real8 sum = 0.0;
  for (real8 x : p) {
    // A NaN would pass both comparisons.
    if (!std::isfinite(x) || x < lowest_frequency) return false;
    sum += x;
  }
  return sum <= 1.05;
}

bool read_locus_frequencies(RecordReader& in, bool store) {
  Variables& v = variables;
  std::vector<std::vector<real8>> fre(static_cast<std::size_t>(v.numloci));
  for (int4 l = 1; l <= v.numloci; ++l) {
    std::vector<real8>& p = fre[static_cast<std::size_t>(l - 1)];
    p.assign(static_cast<std::size_t>(v.obsnumallele(l)), 0.0);
    if (in.read_list(p) != IoStatus::ok || !restart_frequencies_acceptable(p)) return false;
  }
  if (!store) return true;
  for (int4 l = 1; l <= v.numloci; ++l)
    for (int4 a = 1; a <= v.obsnumallele(l); ++a)
      v.obsallelefre(l).a(a) =
          fre[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(a - 1)];
  // Tables cached from the input's frequencies no longer describe the ones in use.
  v.checkpointfrequencyq = 1;
  return true;
}

// status 2: the file cannot be opened; 1: it was opened but not read whole and accepted.
void readmidresult4(int4& status, int4& round, bool store) {
  Variables& v = variables;
  round = 0;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(3).view())))) {
    status = 2;
    return;
  }
  status = 1;
  if (!read_locus_frequencies(in, store)) return;
  // The frequencies stand even when the round cannot be read.
  int4 r = 0;
  if (in.read_list(r) != IoStatus::ok) return;
  round = r;
  if (r > 0) status = 0;
}

}  // namespace kinrad
