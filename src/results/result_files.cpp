// The result files of the analysis, listed once: suffix, writing routine and condition. Every
// writer of the result phase goes through write_result_file, so the table names every file the
// phase can leave and the error stop of a failed write names the routine the table gives.
// (".BestClone" and the pairwise files are written by the pairwise analysis.)
#include <array>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/error_stop.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "results/results.hpp"

namespace kinrad {

namespace {

bool always() {
  return true;
}
bool full_sib_probabilities() {
  return variables.compfsprob == 1;
}
bool both_sexes_have_candidates() {
  return variables.numcandidate(1) > 0 && variables.numcandidate(2) > 0;
}
bool selfing_one_pool() {
  return variables.numsex == variables.allowinbreeding;
}
bool dyads() {
  return variables.compdyadprob != 0;
}
bool half_sib_dyads() {
  return variables.compdyadprob != 0 && variables.allmonogamy == 0;
}
bool dyads_with_fathers() {
  return variables.compdyadprob != 0 && variables.numcandidate(1) > 0;
}
bool dyads_with_mothers() {
  return variables.compdyadprob != 0 && variables.numcandidate(2) > 0;
}
bool inbreeding() {
  return variables.allowinbreeding == 1;
}
bool allele_frequencies() {
  return variables.popallelefreknownq == 0 && variables.allelefreest != 0;
}

constexpr std::array<ResultFile, 21> table{{
    {".BestCluster", "Output", "always", always},
    {".BestFSFamily", "Output", "compfsprob = 1", full_sib_probabilities},
    {".BestConfig", "Output", "always", always},
    {".BestConfig_Ordered", "Output", "always", always},
    {".ConfigArchive", "ArchiveConfigWrite", "always", always},
    {".ParentPair", "ArchiveConfigWrite", "both sexes have candidates", both_sexes_have_candidates},
    {".Distribution", "ArchiveConfigWrite", "always", always},
    {".Selfer", "ArchiveConfigWrite", "numsex = allowinbreeding", selfing_one_pool},
    {".FullSibDyad", "ArchiveConfigWrite", "compdyadprob /= 0", dyads},
    {".HalfSibDyad", "ArchiveConfigWrite", "compdyadprob /= 0 and allmonogamy = 0", half_sib_dyads},
    {".FSDyadUF", "ArchiveConfigWrite", "compdyadprob /= 0", dyads},
    {".HSDyadUF", "ArchiveConfigWrite", "compdyadprob /= 0 and allmonogamy = 0", half_sib_dyads},
    {".Paternity", "ArchiveConfigWrite", "compdyadprob /= 0, fathers among the candidates",
     dyads_with_fathers},
    {".Maternity", "ArchiveConfigWrite", "compdyadprob /= 0, mothers among the candidates",
     dyads_with_mothers},
    {".Inbreeding", "Output", "allowinbreeding = 1", inbreeding},
    {".OffGenotype", "WriteInferredGtype", "always", always},
    {".DadGenotype", "WriteInferredGtype", "always", always},
    {".MumGenotype", "WriteInferredGtype", "always", always},
    {".AlleleFreq", "Output", "popallelefreknownq = 0 and allelefreest /= 0", allele_frequencies},
    {".ErrorRate", "Output", "always", always},
    {".Ne", "SibNe", "always", always},
}};

}  // namespace

std::span<const ResultFile> result_files() {
  return table;
}

const ResultFile& result_file(std::string_view suffix) {
  for (const auto& f : result_files())
    if (f.suffix == suffix) return f;
  variables.errmsg(1) = "No result file " + std::string(suffix);
  stoponerror(1, "Output");
}

ReplacingFile open_result_file(std::string_view suffix) {
  const ResultFile& f = result_file(suffix);
  return ReplacingFile(variables.fname + std::string(suffix), WriteFailure{f.routine});
}

void remove_unwritten_result_files() {
  for (const auto& f : result_files()) {
    if (f.written()) continue;
    const std::filesystem::path file(variables.fname + std::string(f.suffix));
    std::error_code ec;
    // A folder of that name is not a result file.
    if (!std::filesystem::is_directory(file, ec)) std::filesystem::remove(file, ec);
  }
}

void write_result_file(std::string_view suffix, const std::function<void(ReplacingFile&)>& body) {
  ReplacingFile out = open_result_file(suffix);
  body(out);
  out.commit();
}

}  // namespace kinrad
