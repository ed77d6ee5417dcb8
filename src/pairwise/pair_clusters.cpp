// Reading the pair clusters back for the search. The file is the program's own, but it may
// have been edited or cut short: every record is checked, and reading stops at the first one
// that does not make sense, keeping the clusters read before it.
#include <string>
#include <vector>

#include "core/modules.hpp"
#include "core/record_reader.hpp"
#include "pairwise/pairwise.hpp"

namespace kinrad {

void setcluster() {
  Variables& v = variables;
  const int4 n = v.smplsize;
  RecordReader in;
  if (!in.open(v.fname + ".PairCluster")) return;

  std::vector<std::vector<int4>> lists(static_cast<std::size_t>(n));
  std::string line;
  std::vector<int4> members;
  for (int4 i = 1; i <= n; ++i) {
    if (in.read_line(line) != IoStatus::ok) break;
    int4 count = -1;
    if (read_list_string(line, count) != IoStatus::ok) break;
    // An offspring has at most n - 1 partners.
    if (count < 0 || count > n - 1) break;
    if (count == 0) continue;
    members.assign(static_cast<std::size_t>(count), 0);
    int4 again = 0;
    if (read_list_string(line, again, members) != IoStatus::ok) break;
    bool good = true;
    for (const int4 m : members) good = good && m >= 1 && m <= n;
    if (!good) break;
    lists[static_cast<std::size_t>(i - 1)] = members;
  }
  in.close();

  index_t total = 0;
  for (const auto& l : lists) total += static_cast<index_t>(l.size());
  v.pairclustertgt.allocate(Dim(total > 0 ? total : 1));
  v.paircluster.allocate(Dim(n));
  index_t used = 0;
  for (int4 i = 1; i <= n; ++i) {
    const auto& l = lists[static_cast<std::size_t>(i - 1)];
    if (l.empty()) continue;
    v.paircluster(i).a = window(v.pairclustertgt, used + 1, static_cast<index_t>(l.size()));
    for (std::size_t m = 0; m < l.size(); ++m)
      v.paircluster(i).a(static_cast<index_t>(m) + 1) = static_cast<int2>(l[m]);
    used += static_cast<index_t>(l.size());
  }
}

}  // namespace kinrad
