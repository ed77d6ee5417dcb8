#pragma once
// Screen lines are written only by a process that displays (the flag is off in quiet runs and
// in the batch runner's worker processes).
#include <iostream>
#include <string_view>

#include "core/format_write.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {

template <class... Items>
void screen_write(std::string_view format, const Items&... items) {
  if (variables.displayq == 1) fwrite(std::cout, format, items...);
}

}  // namespace kinrad
