// Allele recoding: the integer labels of the input file become small allele numbers per
// locus, numbered in the order in which the labels first appear.
#include <string>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "core/variables_routines.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

namespace {

// Allele numbers are one byte wide.
constexpr int4 maxalleles = 127;

// The allele number of label at locus l, appending the label when it is new.
int1 allele_number(int4 l, int4 label) {
  int1& num = variables.rawallelenum(l);
  FArray<int4, 1>& ids = variables.rawalleleid(l).a;
  for (int4 k = 1; k <= num; ++k)
    if (ids(k) == label) return static_cast<int1>(k);
  if (num >= maxalleles) {
    set_error_line(1, error_line("The observed # alleles at locus ", l, " > 127!"));
    stoponerror(1, "ConvertGenotype");
  }
  if (num >= ids.size()) {
    FArray<int4, 1> grown(ids.size() + 10);
    for (int4 k = 1; k <= num; ++k) grown(k) = ids(k);
    ids = std::move(grown);
  }
  num = static_cast<int1>(num + 1);
  ids(num) = label;
  return num;
}

}  // namespace

void convertgenotype(const FArray<int4, 2>& values, const FArray<int4, 1>& counts, int4 kind,
                     int4 index) {
  const int4 column = kind == 0 ? index : (kind - 1) * variables.numcandidate(1) + index;
  FArray<int1, 3>& gtype = kind == 0 ? variables.indivgtype : variables.cndgtype;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    const int4 n = counts(l);
    if (variables.dominantmarker(l) == 1 && values(1, l) > 2) {
      static constexpr const char* labels[3] = {"Offspring", "Candidate father",
                                                "Candidate mother"};
      std::string line = labels[kind];
      line += " " + itoc(index) + " at dominant locus " + itoc(l) + " has an illegal genotype " +
              itoc(values(1, l));
      variables.errmsg(1) = line;
      variables.errmsg(2) = "Program stops!";
      stoponerror(1, "ConvertGenotype");
    }
    bool missing = false;
    for (int4 k = 1; k <= n; ++k)
      if (values(k, l) < 1) missing = true;
    if (missing) {
      gtype(1, l, column) = 0;
      gtype(2, l, column) = 0;
      continue;
    }
    gtype(1, l, column) = allele_number(l, values(1, l));
    if (n == 2)
      gtype(2, l, column) =
          values(2, l) == values(1, l) ? gtype(1, l, column) : allele_number(l, values(2, l));
  }
}

}  // namespace kinrad
