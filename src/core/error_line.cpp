#include "core/error_line.hpp"

#include "core/modules/variables.hpp"

namespace kinrad {

void set_error_line(int4 k, std::string_view text) {
  variables.errmsg(k) = text;
}

}  // namespace kinrad
