#include "configuration/mid_result4.hpp"

#include <string>

#include "core/record_reader.hpp"
#include "core/modules/variables.hpp"
#include "model/allele_fre_restart.hpp"

namespace kinrad {

// status 2: the file cannot be opened; 1: it was opened but not read whole and accepted.
void readmidresult4(int4& status, int4& round) {
  Variables& v = variables;
  round = 0;
  RecordReader in;
  if (!in.open(std::string(trim(v.midfilename(3).view())))) {
    status = 2;
    return;
  }
  status = 1;
  if (!readlocusfrequencies(in)) return;
  // The frequencies stand even when the round cannot be read.
  int4 r = 0;
  if (in.read_list(r) != IoStatus::ok) return;
  round = r;
  if (r > 0) status = 0;
}

}  // namespace kinrad
