// The checkpoint files: the exact bytes of the writer for a hand-made fixture (expected files
// written by tests/configuration/data/checkpoint/golden_checkpoint.f90 with gfortran, record by
// record as the layout prescribes), the round trip through the reader, the files and values the
// reader rejects (leaving module state untouched), the sections it tolerates, and random damage.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "checkpoint_fixture.hpp"
#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/replacing_file.hpp"
#include "model/allele_fre_restart_internal.hpp"
#include "support/expect_stop.hpp"

namespace kinrad::test {
namespace {

using testing_support::read_text;
using testing_support::TempWorkDir;
using testing_support::write_text;

std::string golden(const std::string& name) {
  std::ifstream in(std::string(KINRAD_TEST_DATA_DIR) + "/checkpoint/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> split_records(const std::string& text) {
  std::vector<std::string> r;
  std::size_t b = 0;
  while (b < text.size()) {
    const std::size_t e = text.find('\n', b);
    r.push_back(text.substr(b, e - b));
    b = e + 1;
  }
  return r;
}

std::string join_records(const std::vector<std::string>& r, std::size_t count) {
  std::string s;
  for (std::size_t k = 0; k < count && k < r.size(); ++k) s += r[k] + "\n";
  return s;
}

// Everything a restore may change, as text (reals as their bits), for before/after comparisons.
std::string module_picture(const CheckpointRunState& st) {
  const auto& v = variables;
  std::ostringstream o;
  auto real = [&](real8 x) { o << std::bit_cast<std::uint64_t>(x) << ' '; };
  auto table = [&](const FArray<int4, 2>& a) {
    if (!a.allocated()) return void(o << "- ");
    for (index_t k = 1; k <= a.size(2); ++k)
      for (index_t i = 1; i <= a.size(1); ++i) o << a(i, k) << ' ';
    o << "| ";
  };
  for (int4 l = 1; l <= v.numloci; ++l)
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) real(v.obsallelefre(l).a(a));
  real(v.inbreeding);
  o << v.likelihoodprecision << ' ';
  real(v.prec1);
  real(v.prec2);
  real(v.prec3);
  table(v.crindivloc);
  table(v.inferparent);
  table(v.btindivloc);
  table(v.btinferparent);
  for (int4 k = 1; k <= 3; ++k) o << v.crnumfamily(k) << ' ' << v.btnumfamily(k) << ' ';
  real(v.crloglikelihood);
  real(v.btloglikelihood);
  o << v.krun << ' ' << v.idum3 << ' ' << v.idum2 << ' ' << v.idumiy << ' ';
  for (int4 k = 1; k <= 32; ++k) o << v.idumiv(k) << ' ';
  real(annealvariables.rate);
  o << v.date2(1).view() << v.time2(1).view();
  real(v.timespent(1));
  o << (v.confighead == nullptr ? "empty" : "archive") << ' ';
  for (int4 s = 1; s <= 2; ++s)
    for (int4 c = 1; c <= v.numcandidate(s); ++c) real(v.candidatelogl(c, s));
  // The run state handed in.
  real(st.temperature);
  o << st.numiterate << ' ' << st.nsucc << ' ' << st.tmr << ' ' << st.itr << ' ';
  o << (st.moveweight.allocated() ? st.moveweight(1, 1) : -1);
  return o.str();
}

// The score of a configuration as the restore recomputes it: its clusters, the unassigned
// candidates and the prior.
struct ScoreParts {
  std::vector<real8> clusters;
  real8 prior = 0.0;
  real8 cand = 0.0;
  real8 total() const {
    real8 t = 0.0;
    for (real8 x : clusters) t += x;
    return t + cand + prior;
  }
};

ScoreParts score_parts(FArray<int4, 2>& loc, FArray<int4, 2>& par) {
  auto& v = variables;
  const int4 n = v.smplsize;
  int4 nclust = 0;
  FStatic<int4, 1, 2> nfam{};
  for (int4 i = 1; i <= n; ++i) {
    nclust = std::max(nclust, loc(i, 3));
    nfam(1) = std::max(nfam(1), loc(i, 1));
    nfam(2) = std::max(nfam(2), loc(i, 2));
  }
  v.indivlocprt = loc.view();
  v.inferparentprt = par.view();
  ScoreParts p;
  p.clusters.resize(static_cast<std::size_t>(nclust));
  updatefamilylogl(p.clusters.data(), nclust);
  FStatic<int4, 1, 4> num{};
  FStatic<int4, 1, 2> nsize{};
  nsize(1) = nsize(2) = (3 - v.numsex) * n;
  configurationprior(num, p.prior, nsize, nfam);
  computeparentlogl(p.cand);
  return p;
}

real8 fixture_score(FArray<int4, 2>& loc, FArray<int4, 2>& par) {
  return score_parts(loc, par).total();
}

class Checkpoint : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(prepare_fixture()); }
  void TearDown() override { reset_all_modules(); }

  bool prepare_fixture() {
    if (!testing_support::prepare(checkpoint_project(update_))) return false;
    variables.displayq = 0;
    set_fixture_configurations();
    set_fixture_frequencies();
    return true;
  }

  // The fixture with scores that its configurations really have, and both configurations in
  // the archive (the best first).
  void consistent_state(CheckpointRunState& st) {
    auto& v = variables;
    set_fixture_scalars(st);
    // The candidates' terms at the fixture's inbreeding, as a restore computes them.
    singleparentlikelihood(v.inbreeding);
    v.crloglikelihood = fixture_score(v.crindivloc, v.inferparent);
    v.btloglikelihood = fixture_score(v.btindivloc, v.btinferparent);
    archive_append(v.btindivloc, v.btinferparent, v.btloglikelihood, 7);
    archive_append(v.crindivloc, v.inferparent, v.crloglikelihood, 7);
    st.archivechanged = 1;
  }

  TempWorkDir dir_{"checkpoint"};
  std::string update_ = "1";
};

TEST_F(Checkpoint, WritesTheFixtureByteForByte) {
  auto& v = variables;
  CheckpointRunState st;
  set_fixture_scalars(st);
  archive_append(v.btindivloc, v.btinferparent, -120.25, 7);
  archive_append(v.crindivloc, v.inferparent, -123.456, 7);
  st.archivechanged = 1;
  savemidresult(st);
  EXPECT_EQ(read_text("myout.MidResult2"), golden("fixture.MidResult2"));
  EXPECT_EQ(read_text("myout.MidResult3"), golden("fixture.MidResult3"));
  EXPECT_EQ(read_text("myout.MidResult5"), golden("fixture.MidResult5"));
  // The archive was written, so it is no longer marked as changed; no temporaries are left.
  EXPECT_EQ(st.archivechanged, 0);
  EXPECT_FALSE(std::filesystem::exists(replacing_temporary("myout.MidResult2")));
}

TEST_F(Checkpoint, TheFrequencyReaderReadsTheWriterBack) {
  auto& v = variables;
  CheckpointRunState st;
  set_fixture_scalars(st);
  savemidresult(st);
  for (int4 l = 1; l <= 2; ++l)
    for (int4 a = 1; a <= v.obsnumallele(l); ++a) v.obsallelefre(l).a(a) = 0.0;
  readallelefre();
  // The fixture's frequencies, exact in eight decimals.
  EXPECT_EQ(v.obsallelefre(1).a(1), 0.25);
  EXPECT_EQ(v.obsallelefre(1).a(2), 0.75);
  EXPECT_EQ(v.obsallelefre(2).a(1), 0.5);
  EXPECT_EQ(v.obsallelefre(2).a(2), 0.3);
  EXPECT_EQ(v.obsallelefre(2).a(3), 0.2);
}

TEST_F(Checkpoint, ArchiveFileIsCreatedEmptyAndEmptiedWithTheArchive) {
  CheckpointRunState st;
  set_fixture_scalars(st);
  savemidresult(st);
  // Never written: created empty.
  EXPECT_EQ(read_text("myout.MidResult3"), "");
  write_text("myout.MidResult3", "stale\n");
  // Unchanged archive: the file stays as it is.
  savemidresult(st);
  EXPECT_EQ(read_text("myout.MidResult3"), "stale\n");
  // Changed and now empty: emptied.
  st.archivechanged = 1;
  savemidresult(st);
  EXPECT_EQ(read_text("myout.MidResult3"), "");
  EXPECT_EQ(st.archivechanged, 0);
}

TEST_F(Checkpoint, AFailedWriteStopsAndKeepsTheOldFile) {
  CheckpointRunState st;
  set_fixture_scalars(st);
  write_text("myout.MidResult2", "old\n");
  // A directory in place of the temporary makes the write fail.
  std::filesystem::create_directory(replacing_temporary("myout.MidResult2"));
  std::filesystem::create_directory(replacing_temporary("myout.MidResult2") + "/x");
  testing_support::expect_stop([&] { savemidresult(st); }, "SaveMidResult");
  EXPECT_EQ(variables.errmsg(1).trimmed().substr(0, 16), "Failed openning ");
  EXPECT_EQ(read_text("myout.MidResult2"), "old\n");
}

TEST_F(Checkpoint, RoundTripRestoresEveryValueAndRewritesTheSameBytes) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const std::string f2 = read_text("myout.MidResult2"), f3 = read_text("myout.MidResult3"),
                    f5 = read_text("myout.MidResult5");
  const real8 cr = v.crloglikelihood, bt = v.btloglikelihood;
  CheckpointRunState want;
  set_fixture_scalars(want);

  ASSERT_TRUE(prepare_fixture());
  CheckpointRunState back;
  int4 status = -1;
  readmidresult(status, back);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(v.crloglikelihood), std::bit_cast<std::uint64_t>(cr));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(v.btloglikelihood), std::bit_cast<std::uint64_t>(bt));
  EXPECT_EQ(back.temperature, want.temperature);
  EXPECT_EQ(back.withinfactor, want.withinfactor);
  EXPECT_EQ(back.numiterate, want.numiterate);
  EXPECT_EQ(back.monitorword, want.monitorword);
  EXPECT_EQ(back.nsucc, want.nsucc);
  EXPECT_EQ(back.newbestcount, want.newbestcount);
  EXPECT_EQ(back.nfail1, want.nfail1);
  EXPECT_EQ(back.nfail2, want.nfail2);
  EXPECT_EQ(back.itr, want.itr);
  EXPECT_EQ(back.tmr, want.tmr);
  EXPECT_EQ(back.monitorcounters, want.monitorcounters);
  EXPECT_EQ(back.progresslog, want.progresslog);
  EXPECT_EQ(back.progressstep, want.progressstep);
  EXPECT_EQ(back.updatecount, want.updatecount);
  EXPECT_EQ(back.acceptrun, want.acceptrun);
  EXPECT_EQ(back.bestrun, want.bestrun);
  EXPECT_EQ(back.prescreenpass, want.prescreenpass);
  EXPECT_EQ(back.prescreencount, want.prescreencount);
  EXPECT_EQ(back.lociscale, want.lociscale);
  EXPECT_EQ(back.prescreencounts, want.prescreencounts);
  EXPECT_EQ(back.newbestdiff, want.newbestdiff);
  EXPECT_EQ(back.maxbestgain, want.maxbestgain);
  for (int4 i = 1; i <= kFixtureN; ++i)
    for (int4 s = 1; s <= 2; ++s) EXPECT_EQ(back.moveweight(i, s), want.moveweight(i, s));
  EXPECT_EQ(v.krun, 2);
  EXPECT_EQ(annealvariables.rate, 0.92);
  EXPECT_EQ(v.idum3, -1234);
  EXPECT_EQ(v.idum2, 987654321);
  for (int4 k = 1; k <= 32; ++k) EXPECT_EQ(v.idumiv(k), 1001 * k);
  EXPECT_EQ(v.idumiy, 55555);
  EXPECT_EQ(v.date2(1).view(), "20261210");
  EXPECT_EQ(v.time2(1).view(), "065512.345");
  EXPECT_EQ(v.timespent(1), 1.75);
  EXPECT_EQ(v.inbreeding, 0.0625);
  EXPECT_EQ(v.likelihoodprecision, 2);
  EXPECT_EQ(v.prec1, 0.5);
  EXPECT_EQ(v.prec2, 0.5);
  EXPECT_EQ(v.prec3, 0.125);
  EXPECT_EQ(v.obsallelefre(2).a(2), 0.3);
  for (int4 i = 1; i <= kFixtureN; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    EXPECT_EQ(v.crindivloc(i, 1), kCur1[k]);
    EXPECT_EQ(v.crindivloc(i, 3), kCur3[k]);
    EXPECT_EQ(v.inferparent(i, 2), kCurP2[k]);
    EXPECT_EQ(v.btindivloc(i, 2), kBest2[k]);
    EXPECT_EQ(v.btinferparent(i, 1), kBestP1[k]);
  }
  EXPECT_EQ(v.crnumfamily(1), 7);
  EXPECT_EQ(v.crnumfamily(2), 8);
  EXPECT_EQ(v.crnumfamily(3), 7);
  EXPECT_EQ(v.btnumfamily(3), 7);
  // Derived: father 2 heads 3 offspring, father 1 two; mothers 3 and 10 one each.
  EXPECT_EQ(back.curnumassign(1), 2);
  EXPECT_EQ(back.curnumassign(2), 2);
  EXPECT_EQ(back.curnumassign(3), 5);
  EXPECT_EQ(back.curnumassign(4), 2);
  EXPECT_EQ(v.btnumassign(1), 1);
  EXPECT_EQ(v.btnumassign(3), 3);
  // Recomputed in another order of summation.
  EXPECT_NEAR(back.recomputedlogl, cr, 1e-12 * std::abs(cr));
  // The archive after decoding, in file order.
  int4 records = 0;
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    v.crrtconfig = c;
    real8 logl = 0.0;
    convertconfig(1, logl);
    const bool first = records == 0;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(logl), std::bit_cast<std::uint64_t>(first ? bt : cr));
    for (int4 i = 1; i <= kFixtureN; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      EXPECT_EQ(v.offtgt(i, 1), first ? kBest1[k] : kCur1[k]);
      EXPECT_EQ(v.offtgt(i, 2), first ? kBest2[k] : kCur2[k]);
      EXPECT_EQ(v.offtgt(i, 3), first ? kBest3[k] : kCur3[k]);
      EXPECT_EQ(v.prnttgt(i, 1), first ? kBestP1[k] : kCurP1[k]);
      EXPECT_EQ(v.prnttgt(i, 2), first ? kBestP2[k] : kCurP2[k]);
    }
    ++records;
  }
  EXPECT_EQ(records, 2);

  // Written again: the same bytes.
  back.archivechanged = 1;
  savemidresult(back);
  EXPECT_EQ(read_text("myout.MidResult2"), f2);
  EXPECT_EQ(read_text("myout.MidResult3"), f3);
  EXPECT_EQ(read_text("myout.MidResult5"), f5);
}

// One damaged file and whether the restore must fail.
struct Damage {
  const char* what;
  const char* file;  // suffix
  int record;        // 0-based record of the file
  const char* from;  // text replaced (first occurrence in the record)
  const char* to;
};

TEST_F(Checkpoint, RejectedFilesLeaveModuleStateUnchanged) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const std::string f2 = read_text("myout.MidResult2");
  const auto recs = split_records(f2);
  const auto recs5 = split_records(read_text("myout.MidResult5"));
  // The score record, with the stored score moved by 0.2 % (read back, then written in full).
  const std::size_t scalar = 13;
  ASSERT_EQ(recs[scalar - 1], "");
  const std::string score_text = recs[scalar].substr(0, recs[scalar].find(','));
  char moved[64];
  std::snprintf(moved, sizeof moved, "%.18E", v.crloglikelihood * 1.002);
  const std::vector<Damage> table = {
      {"another sample size", ".MidResult2", 0, "12", "13"},
      {"a frequency of -0.01", ".MidResult2", 15, "  2.50000000E-01", " -1.00000000E-02"},
      {"a frequency sum of 1.06", ".MidResult2", 16, "5.00000000E-01", "5.60000000E-01"},
      {"a family id of 0", ".MidResult2", 1, "  1  1  1", "  0  1  1"},
      {"a family id of n + 2", ".MidResult2", 1, "  7", " 14"},
      {"a skipped family id", ".MidResult2", 1, "  7", "  8"},
      {"a skipped maternal id in the best copy", ".MidResult2", 8, "  8", "  9"},
      {"a cluster id that splits a cluster", ".MidResult2", 3, "  1  1  1", "  1  1  2"},
      {"a candidate above the candidates", ".MidResult2", 4, "  2  2  2", "  3  3  3"},
      {"a negative candidate", ".MidResult2", 5, " 10", " -1"},
      {"a weight of 0", ".MidResult2", 20, "1001,", "0,"},
      {"a NaN score", ".MidResult2", 13, score_text.c_str(), "NaN"},
      {"an infinite temperature", ".MidResult2", 13, "1.2500000000E+01", "Inf"},
      {"a score off by 0.2 %", ".MidResult2", 13, score_text.c_str(), moved},
      {"a NaN inbreeding", ".MidResult2", 17, "6.2500000000E-02", "NaN"},
      {"a real as a counter", ".MidResult2", 13, ",17,", ",17.5,"},
      {"a precision of 4", ".MidResult5", 3, "  2 ", "  4 "},
      {"a NaN pre-screen scale", ".MidResult5", 0, "3.50000000000000000000E+00", "NaN"},
  };
  for (const Damage& d : table) {
    SCOPED_TRACE(d.what);
    ASSERT_TRUE(prepare_fixture());
    const bool state = std::string(d.file) == ".MidResult2";
    write_text("myout.MidResult2", f2);
    auto r = state ? recs : recs5;
    const auto at = r[static_cast<std::size_t>(d.record)].find(d.from);
    ASSERT_NE(at, std::string::npos);
    r[static_cast<std::size_t>(d.record)].replace(at, std::string(d.from).size(), d.to);
    write_text(std::string("myout") + d.file, join_records(r, r.size()));
    CheckpointRunState handed;
    handed.temperature = 77.0;
    handed.numiterate = 99;
    const std::string before = module_picture(handed);
    int4 status = -1;
    readmidresult(status, handed);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(module_picture(handed), before);
    write_text("myout.MidResult5", join_records(recs5, recs5.size()));
  }
}

TEST_F(Checkpoint, ScoreTestOnlyWithoutFrequencyRounds) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  auto recs = split_records(read_text("myout.MidResult2"));
  // No frequency records (15, 16) nor the update count (18) without in-run updates.
  recs.erase(recs.begin() + 18);
  recs.erase(recs.begin() + 15, recs.begin() + 17);
  auto moved_recs = recs;
  // The stored score moved by 0.2 %: refused, unless frequencies are updated in rounds.
  char moved[64];
  std::snprintf(moved, sizeof moved, "%.18E", v.crloglikelihood * 1.002);
  moved_recs[13].replace(0, moved_recs[13].find(','), moved);
  struct Row {
    int4 update;
    bool moved;
    int4 status;
  };
  for (const Row& row : {Row{0, false, 0}, Row{0, true, 1}, Row{2, true, 0}}) {
    SCOPED_TRACE(std::to_string(row.update) + (row.moved ? " moved" : ""));
    ASSERT_TRUE(prepare_fixture());
    v.updateallelefre = row.update;
    const auto& r = row.moved ? moved_recs : recs;
    write_text("myout.MidResult2", join_records(r, r.size()));
    CheckpointRunState handed;
    int4 status = -1;
    readmidresult(status, handed);
    EXPECT_EQ(status, row.status);
    archiveconfigremoveall();
  }
}

TEST_F(Checkpoint, TruncatedScoresFileKeepsWhatWasRead) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const auto recs5 = split_records(read_text("myout.MidResult5"));
  ASSERT_TRUE(prepare_fixture());
  // The first two records: the scores and the counters, not the precision.
  write_text("myout.MidResult5", join_records(recs5, 3));
  v.likelihoodprecision = 1;
  CheckpointRunState handed;
  int4 status = -1;
  readmidresult(status, handed);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(handed.lociscale, 3.5);
  EXPECT_EQ(handed.prescreencounts[3], 4.0);
  EXPECT_EQ(v.likelihoodprecision, 1);
  archiveconfigremoveall();
}

TEST_F(Checkpoint, TruncationsFailBeforeTheCountersAndFallBackAfter) {
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const auto recs = split_records(read_text("myout.MidResult2"));
  // Records: 0 size, 1-5 current, 6 empty, 7-11 best, 12 empty, 13 scalars, 14 counters,
  // 15-16 frequencies, 17 inbreeding, 18 updatecount, 19 counter pair, 20-21 weights, 22-23
  // stop rules.
  ASSERT_EQ(recs.size(), 24u);
  for (std::size_t keep = 0; keep <= recs.size(); ++keep) {
    SCOPED_TRACE("records kept: " + std::to_string(keep));
    ASSERT_TRUE(prepare_fixture());
    write_text("myout.MidResult2", join_records(recs, keep));
    CheckpointRunState handed;
    const std::string before = module_picture(handed);
    int4 status = -1;
    readmidresult(status, handed);
    if (keep < 19) {
      EXPECT_EQ(status, 1);
      EXPECT_EQ(module_picture(handed), before);
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(handed.acceptrun, keep >= 20 ? 11 : 0);
    // The weights need both records; a truncated section restores the start weight.
    EXPECT_EQ(handed.moveweight(12, 2), keep >= 22 ? 1024 : 1000);
    EXPECT_EQ(handed.moveweight(1, 1), keep >= 22 ? 1001 : 1000);
    EXPECT_EQ(handed.maxbestgain, keep >= 24 ? 0.015625 : 0.0);
    archiveconfigremoveall();
  }
}

TEST_F(Checkpoint, LenientSections) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const std::string f3 = read_text("myout.MidResult3");
  {
    SCOPED_TRACE("no scores file: the precision stays");
    ASSERT_TRUE(prepare_fixture());
    std::filesystem::remove("myout.MidResult5");
    v.likelihoodprecision = 1;
    v.prec1 = v.prec2 = 0.01;
    v.prec3 = 0.02;
    CheckpointRunState handed;
    handed.lociscale = 6.5;
    int4 status = -1;
    readmidresult(status, handed);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(v.likelihoodprecision, 1);
    EXPECT_EQ(v.prec1, 0.01);
    EXPECT_EQ(v.prec3, 0.02);
    EXPECT_EQ(handed.lociscale, 6.5);
    archiveconfigremoveall();
  }
  {
    SCOPED_TRACE("a bad id in the second archive record ends the archive there");
    ASSERT_TRUE(prepare_fixture());
    auto r = split_records(f3);
    ASSERT_EQ(r.size(), 12u);
    r[7].replace(0, 2, "0,");
    write_text("myout.MidResult3", join_records(r, r.size()));
    CheckpointRunState handed;
    int4 status = -1;
    readmidresult(status, handed);
    EXPECT_EQ(status, 0);
    ASSERT_NE(v.confighead, nullptr);
    EXPECT_EQ(v.confighead->next, nullptr);
    archiveconfigremoveall();
  }
  {
    SCOPED_TRACE("an empty archive file restores an empty archive");
    ASSERT_TRUE(prepare_fixture());
    write_text("myout.MidResult3", "");
    CheckpointRunState handed;
    int4 status = -1;
    readmidresult(status, handed);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(v.confighead, nullptr);
  }
  {
    SCOPED_TRACE("no state file");
    ASSERT_TRUE(prepare_fixture());
    std::filesystem::remove("myout.MidResult2");
    CheckpointRunState handed;
    const std::string before = module_picture(handed);
    int4 status = 0;
    readmidresult(status, handed);
    EXPECT_NE(status, 0);
    EXPECT_EQ(module_picture(handed), before);
  }
}

// The check mode prints the restored configuration's scores and appends the recomputed score
// to the pairwise-step record, then stops with status 0. The expected lines are the scores
// computed here cluster by cluster, in the formats of the check mode.
TEST_F(Checkpoint, CheckModePrintsTheScoresAndStopsQuietly) {
  auto& v = variables;
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const real8 stored = v.crloglikelihood;
  const ScoreParts cur = score_parts(v.crindivloc, v.inferparent);
  const ScoreParts best = score_parts(v.btindivloc, v.btinferparent);
  const std::string project = read_text("kinrad2.dat");
  // The best configuration as a trial: three family columns, two candidate columns.
  std::string trial = "  ----- trial\nremark\n-----\n";
  for (const auto* c : {&kBest1, &kBest2, &kBest3, &kBestP1, &kBestP2}) {
    for (int4 x : *c) trial += std::to_string(x) + " ";
    trial += "\n";
  }
  std::string skipped = trial;
  skipped.replace(skipped.find("\n1 1 1 1 2 3 4 4 5 6 6 7"), 24, "\n1 1 1 1 2 3 4 4 5 6 6 8");
  // (5ES18.8) of 8, -0.5, -1, -0.25, -2, by hand.
  const std::string record6 =
      "    8.00000000E+00   -5.00000000E-01   -1.00000000E+00   -2.50000000E-01   -2.00000000E+00";
  struct Row {
    const char* what;
    int4 chkconfig;
    std::string tail;
    const ScoreParts* parts;
  };
  const Row rows[] = {{"the checkpoint's configuration", 1, "", &cur},
                      {"a trial configuration", 2, trial, &best},
                      {"a trial with a skipped id is not used", 2, skipped, &cur}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(prepare_fixture());
    write_text("kinrad2.dat", project + row.tail);
    write_text("myout.MidResult6", record6 + "\n");
    v.chkconfig = row.chkconfig;
    v.displayq = 1;
    CheckpointRunState handed;
    int4 status = -1;
    ::testing::internal::CaptureStdout();
    // The check of a restored configuration ends the run without a message (status 0).
    const int exitstatus =
        testing_support::expect_stop([&] { readmidresult(status, handed); }, "", {.report = true});
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitstatus, 0);
    const ScoreParts& p = *row.parts;
    const real8 slot = p.total();
    const std::string want = fwrite_string("(4Es22.12)", p.clusters) + "\n" +
                             fwrite_string("(/5Es22.12)", p.prior, p.cand, slot, stored) + "\n";
    EXPECT_EQ(out, want);
    EXPECT_EQ(read_text("myout.MidResult6"), record6 + fwrite_string("(ES18.8)", slot) + "\n");
    EXPECT_FALSE(std::filesystem::exists("Kinrad2.ErrorMessage"));
  }
}

// A sample of n offspring, each its own family and cluster, with one archived configuration.
void write_singletons(int4 n) {
  auto& v = variables;
  reset_all_modules();
  v.smplsize = n;
  v.numsex = 2;
  v.numloci = 0;
  v.crindivloc.allocate(Dim(n), Dim(3));
  v.btindivloc.allocate(Dim(n), Dim(3));
  v.inferparent.allocate(Dim(n), Dim(2));
  v.btinferparent.allocate(Dim(n), Dim(2));
  v.offtgt.allocate(Dim(n), Dim(3));
  v.prnttgt.allocate(Dim(n), Dim(2));
  for (int4 i = 1; i <= n; ++i)
    for (int4 k = 1; k <= 3; ++k) v.crindivloc(i, k) = v.btindivloc(i, k) = i;
  v.midfilename(1) = "long.MidResult2";
  v.midfilename(2) = "long.MidResult3";
  v.midfilename(4) = "long.MidResult5";
  CheckpointRunState st;
  real8 logl = -1.0;
  v.indivlocprt = v.crindivloc.view();
  v.inferparentprt = v.inferparent.view();
  v.loglikelihoodprt = &logl;
  newconfig(n);
  v.confighead = v.configtail = v.configptr;
  v.configptr = nullptr;
  st.archivechanged = 1;
  savemidresult(st);
}

TEST_F(Checkpoint, LongColumnsSplitIntoRecords) {
  {
    SCOPED_TRACE("250 offspring: three records of 100, 100 and 50 values in (100I4)");
    write_singletons(250);
    const auto r2 = split_records(read_text("long.MidResult2"));
    ASSERT_GE(r2.size(), 4u);
    EXPECT_EQ(r2[1].size(), 400u);
    EXPECT_EQ(r2[2].size(), 400u);
    EXPECT_EQ(r2[3].size(), 200u);
    EXPECT_EQ(r2[1].substr(0, 8), "   1   2");
    EXPECT_EQ(r2[3].substr(192), " 249 250");
    EXPECT_EQ(r2[4].substr(0, 8), "   1   2");
  }
  {
    // 300 offspring: the archive's columns "1," .. "300," break after the value that brings a
    // record to 992 characters or more: 9 values of 2 characters and 90 of 3 make 288, and 176
    // values of 4 characters more make exactly 992 at value 275.
    SCOPED_TRACE("300 offspring");
    write_singletons(300);
    const auto r3 = split_records(read_text("long.MidResult3"));
    // The score, then three columns of two records each.
    ASSERT_EQ(r3.size(), 7u);
    for (std::size_t k = 1; k < 7; ++k) {
      EXPECT_EQ(r3[k].back(), ',');
      EXPECT_LT(r3[k].size(), 1000u);
    }
    EXPECT_EQ(r3[1].size(), 992u);
    EXPECT_EQ(r3[1].substr(r3[1].size() - 4), "275,");
    EXPECT_EQ(r3[2].substr(0, 4), "276,");
    EXPECT_EQ(r3[2].size(), 100u);
  }
}

TEST_F(Checkpoint, RandomDamageNeverBreaksTheReader) {
  CheckpointRunState st;
  consistent_state(st);
  savemidresult(st);
  const std::string files[3] = {read_text("myout.MidResult2"), read_text("myout.MidResult3"),
                                read_text("myout.MidResult5")};
  const char* names[3] = {"myout.MidResult2", "myout.MidResult3", "myout.MidResult5"};
  archiveconfigremoveall();
  std::mt19937 rng(424231);
  const std::string alphabet = "0123456789,.-+eEdD /*\n\tNaI";
  int restored = 0, refused = 0, stopped = 0;
  for (int trial = 0; trial < 10000; ++trial) {
    const int which = static_cast<int>(rng() % 3);
    std::string text = files[which];
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = rng() % text.size();
      switch (rng() % 5) {
        case 0:
          text.resize(at);
          break;
        case 1:
          text.erase(at, 1);
          break;
        case 2:
          text.insert(at, 1, alphabet[rng() % alphabet.size()]);
          break;
        case 3:
          text[at] = static_cast<char>(rng() % 256);
          break;
        default:
          text[at] = alphabet[rng() % alphabet.size()];
      }
    }
    write_text(names[which], text);
    CheckpointRunState handed;
    const std::string before = module_picture(handed);
    int4 status = -1;
    try {
      readmidresult(status, handed);
    } catch (const ProgramStop&) {
      // A restored configuration the scoring cannot take ends in an orderly stop; nothing of
      // the restore may remain.
      ++stopped;
      EXPECT_EQ(module_picture(handed), before) << "trial " << trial;
      write_text(names[which], files[which]);
      continue;
    }
    if (status == 0) {
      ++restored;
      archiveconfigremoveall();
    } else {
      ++refused;
      EXPECT_EQ(module_picture(handed), before) << "trial " << trial;
    }
    write_text(names[which], files[which]);
  }
  EXPECT_GT(restored, 0);
  EXPECT_GT(refused, 0);
  RecordProperty("restored", restored);
  RecordProperty("refused", refused);
  RecordProperty("stopped", stopped);
}

}  // namespace
}  // namespace kinrad::test
