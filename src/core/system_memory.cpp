#include "core/system_memory.hpp"

#include <unistd.h>

#include <limits>

namespace kinrad {

int8 physical_memory_bytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pagesize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pagesize <= 0) return std::numeric_limits<int8>::max();
  const int8 p = pages;
  const int8 s = pagesize;
  if (p > std::numeric_limits<int8>::max() / s) return std::numeric_limits<int8>::max();
  return p * s;
}

}  // namespace kinrad
