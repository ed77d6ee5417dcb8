// The merge of per-process part files. With several processes the writers of some result files
// let each process write its share to "<target><process number>"; one process then joins the
// parts into the target. The genotype files are appended to (process 0 wrote its rows into the
// target itself), the others are made from all parts. The genotype writers join the lines of
// one long record with "@", which becomes a line feed here.
//
// Parts are read as whole lines, whatever their length, and the target is replaced whole
// through the replacing writer; the parts are deleted once the target is in place, so a failed
// merge loses nothing.
#include "program/merge_file.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"

namespace kinrad {

namespace {

constexpr std::array<std::string_view, 9> merge_suffixes{
    ".OffGenotype",       ".DadGenotype",         ".MumGenotype",
    ".AlleleFreq",        ".PairwiseFullSibDyad", ".PairwiseHalfSibDyad",
    ".PairwiseCloneDyad", ".PairwisePaternity",   ".PairwiseMaternity"};

bool is_file(const std::string& name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(name, ec);
}

// The records of one part, each without its trailing blanks and ended by a line feed.
void append_part(const std::string& part, bool genotype, std::string& buffer) {
  RecordReader in;
  if (!in.open(part)) return;
  std::string line;
  while (in.read_line(line) == IoStatus::ok) {
    const auto end = line.find_last_not_of(' ');
    line.resize(end == std::string::npos ? 0 : end + 1);
    if (genotype)
      for (char& ch : line)
        if (ch == '@') ch = '\n';
    buffer += line;
    buffer += '\n';
  }
}

void merge_entry(int4 k) {
  const auto& v = variables;
  const std::string target = v.fname + std::string(merge_suffixes[static_cast<std::size_t>(k)]);
  screen_write("(2A)", "Merging files for ", target);
  const bool genotype = k <= 2;
  std::vector<std::string> parts;
  for (int4 t = genotype ? 1 : 0; t < v.numthreads; ++t) {
    const std::string part = target + itoc(t);
    if (is_file(part)) parts.push_back(part);
  }
  std::string old;
  if (genotype && is_file(target)) {
    // The target's own bytes, as they are.
    std::ifstream in(target, std::ios::binary);
    old.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ReplacingFile out(target, WriteFailure{"MergeFile"});
  out.put(old);
  std::string buffer;
  for (const auto& part : parts) {
    append_part(part, genotype, buffer);
    if (buffer.size() > 8500) {
      out.put(buffer);
      buffer.clear();
    }
  }
  out.put(buffer);
  out.commit();
  for (const auto& part : parts) {
    std::error_code ec;
    std::filesystem::remove(part, ec);
  }
}

}  // namespace

void mergefile(int4 first, int4 last) {
  const auto& v = variables;
  if (v.numthreads <= 1) return;
  if ((last - first + 1) % v.numthreads != v.threadid) return;
  for (int4 k = std::max(first, 0); k <= std::min(last, 8); ++k) merge_entry(k);
}

}  // namespace kinrad
