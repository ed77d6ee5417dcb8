#include "core/variables_routines.hpp"

#include <cmath>
#include <iostream>

#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "core/real_integer_power.hpp"
#include "core/stop_signal.hpp"

namespace kinrad {

void writeprogress(int4& counter, int4 step, std::optional<std::string_view> text) {
  // Every long loop ticks here: the point where SIGINT or SIGTERM stops it.
  stop_if_signalled();
  counter = counter + 1;
  if (counter % step == 0) {
    if (variables.igui == 1) {
      fwrite(std::cout, "(A)", ".");
    } else {
      std::string line = "\r";
      if (text) {
        line += *text;
      } else {
        static constexpr char spinner[4] = {'|', '/', '-', '\\'};
        line += spinner[(counter / step) % 4];
      }
      fwrite(std::cout, trim(variables.lineform.view()), line);
    }
  }
  if (counter > 2147483640) counter = 0;
}

std::string rtoc(real8 x, std::string_view fmt) {
  // The text is written into 28 characters, as the callers' formats are chosen to fit.
  const FString<28> field(fwrite_string(trim(fmt), x));
  return std::string(trim_both(field.view()));
}

std::string itoc(int4 i) {
  if (i >= 1 && i <= variables.smplsize && variables.stroffidx.allocated() &&
      i <= variables.stroffidx.ubound(1))
    return std::string(trim_both(variables.stroffidx(i).view()));
  return std::string(trim_both(fwrite_string("(I12)", i)));
}

bool isnanq(real8 x) {
  return x != x;
}

real8 logx(real8 x) {
  return x <= 1e-300 ? -1e300 : std::log(x);
}

int4 candidate_column(int4 s, int4 j) {
  return (s - 1) * variables.numcandidate(1) + j;
}

void set_precision_thresholds(int4 k) {
  Variables& v = variables;
  v.prec1 = real_integer_power(0.1, 2 * k);
  v.prec2 = v.prec1;
  v.prec3 = 0.1 * v.prec1;
}

}  // namespace kinrad
