// Unformatted caches of the dyad tables: one record per table row, so that an analysis
// started again on unchanged data reads the tables instead of computing them.
#include <iostream>
#include <span>
#include <string>

#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/replacing_file.hpp"
#include "core/unformatted_file.hpp"
#include "core/variables_routines.hpp"
#include "pairwise/pairwise.hpp"
#include "pairwise/pairwise_internal.hpp"

namespace kinrad {

namespace {

// The rows of a table in file order: row k (0-based) as a contiguous slice.
struct CacheRows {
  int4 count = 0;
  real4* base = nullptr;
  std::span<real4> row(DyadTable t, int4 k) const {
    Variables& v = variables;
    const int4 n = v.smplsize;
    switch (t) {
      case DyadTable::fs:
      case DyadTable::mhs:
      case DyadTable::selfself: {  // r = 2..n: partners 1..r-1
        const int4 r = k + 2;
        return {base + tri_by_larger(1, r), static_cast<std::size_t>(r - 1)};
      }
      case DyadTable::hs: {  // r = 1..n-1: partners r+1..n
        const int4 r = k + 1;
        return {base + tri_by_smaller(r, r + 1, n), static_cast<std::size_t>(n - r)};
      }
      case DyadTable::selfout:
        return {base + static_cast<index_t>(k) * n, static_cast<std::size_t>(n)};
      case DyadTable::dad:
        return prbpopair_row(k + 1, 1);
      default:
        return prbpopair_row(k + 1, 2);
    }
  }
};

CacheRows cacherows(DyadTable t) {
  Variables& v = variables;
  const int4 n = v.smplsize;
  switch (t) {
    case DyadTable::fs:
      return {n - 1, v.prbfstri.data()};
    case DyadTable::hs:
      return {n - 1, v.prbhstri.data()};
    case DyadTable::mhs:
      return {n - 1, v.prbmhsibtri.data()};
    case DyadTable::selfout:
      return {n, v.prbselfoutpair.data()};
    case DyadTable::selfself:
      return {n - 1, v.prbsstri.data()};
    default:
      return {n, nullptr};
  }
}

}  // namespace

void readwritedyadlogl(int4 mode, DyadTable table, const std::string& file, int4 show, int4& ok,
                       int4 callmode) {
  Variables& v = variables;
  if (mode == 2 && callmode >= 2) {
    if (show != 0) fwrite(std::cout, "(A)", "");
    return;
  }
  const CacheRows rows = cacherows(table);
  int4 progress = 0;
  if (mode == 1) {
    UnformattedReader in;
    bool good = in.open(file);
    for (int4 k = 0; good && k < rows.count; ++k) {
      std::span<real4> r = rows.row(table, k);
      // A record must hold exactly this row: a file of another sample size or table is
      // never half used.
      good = in.read_record(r) == IoStatus::ok && in.record_length() == r.size_bytes();
      if (show != 0) writeprogress(progress, 1000);
    }
    if (good) good = in.read_record() == IoStatus::end;
    in.close();
    if (!good) ok = 0;
  } else {
    ReplacingFile out(file,
                      WriteFailure{.routine = "CalculatePairProb", .open_prefix = "Failed writing "});
    for (int4 k = 0; k < rows.count; ++k) {
      out.write_record(rows.row(table, k));
      if (show != 0) writeprogress(progress, 1000);
    }
    out.commit();
  }
  if (show != 0 && v.showq != 0) fwrite(std::cout, "(A)", "  ");
}

}  // namespace kinrad
