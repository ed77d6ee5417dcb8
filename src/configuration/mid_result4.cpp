#include "configuration/mid_result4.hpp"

namespace kinrad {

// No checkpoint yet: always absent.
void readmidresult4(int4& status, int4& round) {
  status = 1;
  round = 0;
}

}  // namespace kinrad
