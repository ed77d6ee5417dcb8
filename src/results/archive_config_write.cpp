// The archive of good configurations into its result files. One walk from the head of the
// archive (best first) decodes every configuration, spreads the known parents over its
// sibships, gives it its weight w(k) = exp(L(k) - best log likelihood), adds it to the
// summaries (parent pairs, family-size distribution, selfers) and writes it in full to
// ".ConfigArchive". After the walk the summary files are written and, with option DYD, the
// dyad steps take the weights on.
//
// In ".ConfigArchive" every block names its parents afresh: a sampled parent (assigned, or
// known and spread over its sibship) by its candidate identifier, an unsampled one by the
// prefix of its sex and a running number in the order of its family's first offspring. In one
// parent pool both columns share one id space and one running number, so a parent first met
// as a mother keeps the name it got there wherever it occurs again.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "core/edit_format.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/keep_value.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/variables_routines.hpp"
#include "results/archive_internal.hpp"
#include "results/results.hpp"
#include "results/results_internal.hpp"

namespace kinrad {

namespace {

// The work tables of the names and cluster indices of one block, grown to the largest id met.
struct BlockNames {
  FArray<int4, 2> firstoff{};      // (id, table column): first offspring of a family, 0 unseen
  FArray<int4, 1> firstcol{};      // id: one pool only, the column it was first named in
  FArray<FString<20>, 2> name{};   // (n, 2): the parent's name at its family's first offspring
  FArray<int4, 1> clusterindex{};  // cluster id: display index, 0 unseen
  std::string line{};              // one row or block heading
};

// The number of records in the archive.
int4 archive_count() {
  int4 k = 0;
  for (const Config* c = variables.confighead; c != nullptr; c = c->next) ++k;
  return k;
}

// Grows the id tables so that every family and cluster id of the decoded configuration fits.
void fit_block_tables(BlockNames& b) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 top = 0;
  int4 ctop = 0;
  for (int4 i = 1; i <= n; ++i) {
    top = std::max({top, v.offtgt(i, 1), v.offtgt(i, 2)});
    ctop = std::max(ctop, v.offtgt(i, 3));
  }
  if (top > b.firstoff.size(1)) {
    const int4 ids = std::max(top, (3 - v.numsex) * n);
    b.firstoff.allocate(Dim(ids), Dim(v.numsex));
    b.firstcol.allocate(Dim(ids));
  }
  if (ctop > b.clusterindex.size()) b.clusterindex.allocate(Dim(std::max(ctop, n)));
}

// Names the parents of the decoded configuration at their families' first offspring.
void name_parents(BlockNames& b) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  const int4 ids = static_cast<int4>(b.firstoff.size(1));
  int4 unsampled = 0;
  for (int4 s = 1; s <= 2; ++s) {
    const int4 c = v.numsex == 2 ? s : 1;
    if (v.numsex >= s) {
      for (int4 f = 1; f <= ids; ++f) b.firstoff(f, c) = 0;
      unsampled = 0;
    }
    for (int4 i = 1; i <= n; ++i) {
      const int4 f = v.offtgt(i, s);
      if (b.firstoff(f, c) != 0) continue;
      b.firstoff(f, c) = i;
      const int4 known = v.indivparent.allocated() ? v.indivparent(i, s) : 0;
      const int4 p = std::max({v.prnttgt(i, s), known, 0});
      if (p >= 1) {
        b.name(i, s) = v.cndparentid(p, s);
      } else {
        ++unsampled;
        b.name(i, s) = std::string(v.sexid(s).view()) + itoc(unsampled);
      }
      if (v.numsex == 1) b.firstcol(f) = s;
    }
  }
}

// Display indices 1, 2, ... of the clusters in order of their first offspring.
void number_clusters(BlockNames& b) {
  const auto& v = variables;
  b.clusterindex.fill(0);
  int4 k = 0;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    int4& x = b.clusterindex(v.offtgt(i, 3));
    if (x == 0) x = ++k;
  }
}

// The block of configuration k: its heading, the column line and one row per offspring.
void write_block(ReplacingFile& out, BlockNames& b, int4 k, real8 logl) {
  const auto& v = variables;
  auto& line = b.line;
  line.assign("Config#,");
  line += itoc(k);
  line += ",LogLikelihood,";
  line += archive_logl_text(logl);
  line += '\n';
  line += "OffspringID,FatherID,MotherID,ClusterIndex\n";
  out.put(line);
  const int4 mothercol = v.numsex == 2 ? 2 : 1;
  for (int4 i = 1; i <= v.smplsize; ++i) {
    line.assign(v.offspringid(i).trimmed());
    line += ',';
    if (v.offploid(i) == 2) {
      line += trim_both(b.name(b.firstoff(v.offtgt(i, 1), 1), 1).view());
    } else {
      line += "*-";
    }
    line += ',';
    const int4 m = v.offtgt(i, 2);
    const int4 namecol = v.numsex == 2 ? 2 : b.firstcol(m);
    line += trim_both(b.name(b.firstoff(m, mothercol), namecol).view());
    line += ',';
    line += itoc(b.clusterindex(v.offtgt(i, 3)));
    line += '\n';
    out.put(line);
  }
}

// The known parentage as read, back into indivparent.
void restore_known(const FArray<int4, 2>& saved) {
  auto& v = variables;
  if (saved.allocated()) std::copy(saved.data(), saved.data() + saved.size(), v.indivparent.data());
}

}  // namespace

std::string archive_logl_text(real8 logl) {
  std::string field;
  put_es(field, logl, 20, 10);
  return std::string(trim_both(field));
}

void archiveconfigwrite() {
  auto& v = variables;
  const int4 n = v.smplsize;
  KeepValue keep_loc(v.indivlocprt);

  // Set-up: weights, identity order, known parents saved, the archive file opened.
  FArray<real8, 1> weight{Dim(archive_count())};
  real8 wsum = 0.0;
  v.indivorder = v.number1tgt.view();
  FArray<int4, 2> savedparent{};
  if (v.indivparent.allocated()) savedparent = v.indivparent.copy();
  ArchiveTallies tallies{};
  // Only process 0 writes files; every process walks and tallies.
  std::optional<ReplacingFile> archive;
  if (v.threadid == 0) {
    archive.emplace(v.fname + ".ConfigArchive",
                    WriteFailure{result_file(".ConfigArchive").routine});
    archive->write("(A)", "Archived Configurations with corresponding log likelihood");
  }
  archive_tallies_setup(tallies);
  screen_write("(A)", "Output archived configurations and summary statistics...");
  v.inferparentprt = v.prnttgt.view();
  v.configptr = v.confighead;

  BlockNames names{};
  names.name.allocate(Dim(n), Dim(2));
  int4 progress = 0;
  int4 k = 0;
  while (v.configptr != nullptr) {
    ++k;
    if (v.displayq == 1) writeprogress(progress, 1);
    restore_known(savedparent);
    v.indivlocprt = v.offtgt.view();
    v.crrtconfig = v.configptr;
    real8 logl = 0.0;
    decode_archived(v.crrtconfig, logl);
    mergeparentage();
    const real8 w = std::exp(logl - v.btloglikelihood);
    weight(k) = w;
    wsum += w;
    archive_tally(tallies, w);
    if (archive) {
      fit_block_tables(names);
      name_parents(names);
      number_clusters(names);
      write_block(*archive, names, k, logl);
    }
    v.configptr = v.configptr->next;
  }
  if (v.displayq == 1 && progress > 0) screen_write("(A)", v.blkln.view().substr(0, 2));
  if (archive) archive->commit();
  restore_known(savedparent);

  write_parent_pairs(tallies, wsum);
  write_distribution(tallies, wsum);
  write_selfers(tallies, wsum);

  if (v.compdyadprob != 0) {
    sib_dyad_probabilities(weight, wsum);
    parent_offspring_dyad_probabilities();
  }
}

}  // namespace kinrad
