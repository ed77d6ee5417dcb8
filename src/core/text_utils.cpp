#include "core/text_utils.hpp"

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/modules/variables.hpp"

namespace kinrad {

void locateoffspring(const int4* idx, int4 n, const FString<20>& id, int4& pos) {
  const auto& offspringid = variables.offspringid;
  // Identifiers compare as 20 unsigned bytes, as they were sorted.
  auto compare = [&](int4 k) { return std::memcmp(id.data(), offspringid(idx[k - 1]).data(), 20); };
  int4 jl = 0;
  int4 ju = n + 1;
  while (ju - jl > 1) {
    const int4 jm = (ju + jl) / 2;
    if (compare(jm) < 0) {
      ju = jm;
    } else {
      jl = jm;
    }
  }
  pos = (jl >= 1 && compare(jl) == 0) ? idx[jl - 1] : 0;
}

void cleanstring(char* str, std::size_t len, int4& n) {
  // The result can run ahead of the text still to be read ("a,b" becomes "a, b"), so the
  // characters are read from a copy.
  const std::string source(trim(std::string_view(str, len)));
  std::size_t out = 0;
  for (const char c : source) {
    if (c == ' ') continue;
    if (out == len) break;
    str[out++] = c;
    if (c == ',') {
      if (out == len) break;
      str[out++] = ' ';
    }
  }
  n = static_cast<int4>(out);
}

void opendeletefile(std::string_view name) {
  const std::filesystem::path path{std::string(trim(name))};
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
}

void setthreadtask(int4 n, int4* range) {
  const int4 items = n < 1 ? 0 : n;  // nothing to share: an empty range (1, 0)
  const int4 numthreads = variables.numthreads;
  const int4 t = variables.threadid;
  const int4 q = items / numthreads;
  const int4 r = items % numthreads;
  if (r == 0) {
    range[0] = t * q + 1;
    range[1] = t * q + q;
  } else if (t < r) {
    range[0] = t * (q + 1) + 1;
    range[1] = t * (q + 1) + q + 1;
  } else {
    range[0] = (t - r) * q + r * (q + 1) + 1;
    range[1] = (t - r) * q + r * (q + 1) + q;
  }
}

}  // namespace kinrad
