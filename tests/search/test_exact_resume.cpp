// Exact resumes of the annealing search with its real moves, through the program's sequence
// in-process: a checkpoint taken in the first temperature of a pairwise-score run, restored in a
// copy of the working directory as a kill right after it would have left it, must give the run
// the uninterrupted one had; and a restore with the run-cut-short option must hand the results
// what the completed analysis left for them.
//
// The expected values come from two sides the restore does not share code with: the state of
// the uninterrupted run itself (captured in memory at the checkpoint and at the end), and the
// checkpoint files parsed here by a naive tokenizer (comma- and blank-separated items, reals
// through strtod), in the record order the checkpoint's layout gives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/command_line.hpp"
#include "core/modules.hpp"
#include "core/modules/search_seams.hpp"
#include "search/move_stages.hpp"
#include "search/search.hpp"
#include "search/search_internal.hpp"
#include "support/module_reset.hpp"
#include "support/pauses.hpp"
#include "support/result_writer_state.hpp"
#include "support/run_stage.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::test {
namespace {

namespace fs = std::filesystem;
using testing_support::read_text;
using testing_support::RecordedPauses;
using testing_support::run_stage;
using testing_support::run_until_selectrun;
using testing_support::StageOutcome;
using testing_support::TempWorkDir;
using testing_support::write_text;

// The pairwise-score project of the end-to-end case (20 offspring, 10 loci, 8 candidates of each
// sex, one run, no allele-frequency update, no sibship-size prior), with the shortest run length.
std::string pairwise_project() {
  std::string p = read_text(std::string(KINRAD_TESTS_DIR) +
                            "/e2e/cases/small_pairwise_project_runs_to_the_end/input/kinrad2.dat");
  return std::regex_replace(p, std::regex(R"(\n1( +! Length of run))"), "\n0$1");
}

struct HooksOff {
  HooksOff() { search_seams = SearchSeams{}; }
  ~HooksOff() { search_seams = SearchSeams{}; }
};

// Every regular file of the working directory copied into `to` (created empty first).
void copy_files(const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(fs::current_path()))
    if (e.is_regular_file()) fs::copy_file(e.path(), to / e.path().filename());
}

void copy_files_here(const fs::path& from) {
  for (const auto& e : fs::directory_iterator(from))
    if (e.is_regular_file())
      fs::copy_file(e.path(), fs::current_path() / e.path().filename(),
                    fs::copy_options::overwrite_existing);
}

// --- The in-memory state --------------------------------------------------------------------

// One configuration as columns: family ids 1, 2, cluster ids, then the candidate columns of
// the sexes with candidates, offspring by offspring.
struct Record {
  real8 logl = 0.0;
  std::vector<int4> columns;
  bool operator==(const Record&) const = default;
};

std::vector<int4> columns_of(const FArray<int4, 2>& loc, const FArray<int4, 2>& par) {
  const auto& v = variables;
  std::vector<int4> c;
  for (int4 k = 1; k <= 3; ++k)
    for (int4 i = 1; i <= v.smplsize; ++i) c.push_back(loc(i, k));
  for (int4 s = 1; s <= 2; ++s)
    if (v.numcandidate(s) > 0)
      for (int4 i = 1; i <= v.smplsize; ++i) c.push_back(par(i, s));
  return c;
}

// The archive decoded record by record; the decoding's scratch blocks and the current record
// are put back, so that a capture in the middle of a run leaves the run as it was.
std::vector<Record> archive_in_memory() {
  auto& v = variables;
  const auto keep_off = v.offtgt.copy();
  const auto keep_prnt = v.prnttgt.copy();
  Config* const keep = v.crrtconfig;
  std::vector<Record> out;
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    v.crrtconfig = c;
    Record r;
    convertconfig(1, r.logl);
    r.columns = columns_of(v.offtgt, v.prnttgt);
    out.push_back(std::move(r));
  }
  std::copy(keep_off.data(), keep_off.data() + keep_off.size(), v.offtgt.data());
  std::copy(keep_prnt.data(), keep_prnt.data() + keep_prnt.size(), v.prnttgt.data());
  v.crrtconfig = keep;
  return out;
}

// The search state at the head of one iteration: what the checkpoint holds and what the
// restore derives from it.
struct State {
  // Counters.
  int4 tmr = 0, monitorword = 0, acceptrun = 0, bestrun = 0, updatecount = 0;
  int8 itr = 0, numiterate = 0, nsucc = 0, newbestcount = 0, nfail1 = 0, nfail2 = 0;
  std::vector<int4> counters;  // the triple, the progress-log pair
  std::vector<int4> weights;   // offspring by offspring, the two weights of each
  // Configurations and their counts.
  std::vector<int4> current, best, crnumfamily, btnumfamily, curnumassign, btnumassign;
  // The search stream.
  int4 idum3 = 0, idum2 = 0, idumiy = 0;
  std::vector<int4> idumiv;
  // Reals.
  real8 temperature = 0, withinfactor = 0, rate = 0, crlogl = 0, btlogl = 0;
  real8 newbestdiff = 0, maxbestgain = 0, progressstep = 0;
  real8 prescreenpass = 0, prescreencount = 0, lociscale = 0;
  std::vector<real8> prescreencounts;
  real8 oldlogprior = 0, oldcndlogl = 0, btconfigprior = 0;
  std::vector<Record> archive;
};

State capture(const RunState& rs) {
  const auto& v = variables;
  const auto& cp = rs.cp;
  State s;
  s.tmr = cp.tmr;
  s.itr = cp.itr;
  s.numiterate = cp.numiterate;
  s.monitorword = cp.monitorword;
  s.nsucc = cp.nsucc;
  s.newbestcount = cp.newbestcount;
  s.nfail1 = cp.nfail1;
  s.nfail2 = cp.nfail2;
  s.acceptrun = cp.acceptrun;
  s.bestrun = cp.bestrun;
  s.updatecount = cp.updatecount;
  s.counters.assign(cp.monitorcounters.begin(), cp.monitorcounters.end());
  s.counters.insert(s.counters.end(), cp.progresslog.begin(), cp.progresslog.end());
  for (int4 i = 1; i <= v.smplsize; ++i)
    for (int4 k = 1; k <= 2; ++k) s.weights.push_back(cp.moveweight(i, k));
  s.current = columns_of(v.crindivloc, v.inferparent);
  s.best = columns_of(v.btindivloc, v.btinferparent);
  for (int4 k = 1; k <= 3; ++k) {
    s.crnumfamily.push_back(v.crnumfamily(k));
    s.btnumfamily.push_back(v.btnumfamily(k));
  }
  for (int4 k = 1; k <= 4; ++k) {
    s.curnumassign.push_back(cp.curnumassign(k));
    s.btnumassign.push_back(v.btnumassign(k));
  }
  s.idum3 = v.idum3;
  s.idum2 = v.idum2;
  s.idumiy = v.idumiy;
  for (int4 k = 1; k <= 32; ++k) s.idumiv.push_back(v.idumiv(k));
  s.temperature = cp.temperature;
  s.withinfactor = cp.withinfactor;
  s.rate = annealvariables.rate;
  s.crlogl = v.crloglikelihood;
  s.btlogl = v.btloglikelihood;
  s.newbestdiff = cp.newbestdiff;
  s.maxbestgain = cp.maxbestgain;
  s.progressstep = cp.progressstep;
  s.prescreenpass = cp.prescreenpass;
  s.prescreencount = cp.prescreencount;
  s.lociscale = cp.lociscale;
  s.prescreencounts.assign(cp.prescreencounts.begin(), cp.prescreencounts.end());
  s.oldlogprior = cp.oldlogprior;
  s.oldcndlogl = cp.oldcndlogl;
  s.btconfigprior = v.btconfigprior;
  s.archive = archive_in_memory();
  return s;
}

// --- The checkpoint files, parsed on their own ------------------------------------------------

// The items of a text file: runs of characters other than blanks, commas and line ends.
std::vector<std::string> items(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\n' || c == '\r') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

struct ItemReader {
  std::vector<std::string> it;
  std::size_t k = 0;
  bool more() const { return k < it.size(); }
  const std::string& next() {
    if (k >= it.size()) throw std::runtime_error("checkpoint text ends early");
    return it[k++];
  }
  int8 integer() { return std::stoll(next()); }
  real8 real() { return std::strtod(next().c_str(), nullptr); }
  std::vector<int4> integers(std::size_t n) {
    std::vector<int4> v;
    for (std::size_t i = 0; i < n; ++i) v.push_back(static_cast<int4>(integer()));
    return v;
  }
};

// The state file (pairwise project: two sexes without selfing, no frequency update, so no
// frequency and no update-count records) and the scores file.
struct TextState {
  int8 n = 0;
  std::vector<int4> current, best;
  real8 crlogl = 0, btlogl = 0, temperature = 0, withinfactor = 0, rate = 0;
  int8 krun = 0, numiterate = 0, monitorword = 0, nsucc = 0, newbestcount = 0, nfail1 = 0,
       nfail2 = 0, itr = 0, tmr = 0, idum3 = 0, idum2 = 0, idumiy = 0;
  std::vector<int4> idumiv, counters, weights;
  real8 progressstep = 0, inbreeding = 0;
  int8 acceptrun = 0, bestrun = 0;
  real8 newbestdiff = 0, maxbestgain = 0;
  // The scores file.
  real8 prescreenpass = 0, prescreencount = 0, lociscale = 0;
  std::vector<real8> prescreencounts;
};

TextState parse_state(const std::string& state, const std::string& scores, int4 ncand) {
  ItemReader r{items(state)};
  TextState t;
  t.n = r.integer();
  const auto n = static_cast<std::size_t>(t.n);
  t.current = r.integers(3 * n + static_cast<std::size_t>(ncand) * n);
  t.best = r.integers(3 * n + static_cast<std::size_t>(ncand) * n);
  t.crlogl = r.real();
  t.btlogl = r.real();
  t.temperature = r.real();
  t.withinfactor = r.real();
  t.krun = r.integer();
  t.numiterate = r.integer();
  t.monitorword = r.integer();
  t.nsucc = r.integer();
  t.newbestcount = r.integer();
  t.nfail1 = r.integer();
  t.nfail2 = r.integer();
  t.itr = r.integer();
  t.tmr = r.integer();
  t.rate = r.real();
  t.idum3 = r.integer();
  t.idum2 = r.integer();
  t.idumiv = r.integers(32);
  t.idumiy = r.integer();
  t.counters = r.integers(5);
  t.progressstep = r.real();
  r.next();  // date
  r.next();  // time
  r.next();  // running time
  t.inbreeding = r.real();
  t.acceptrun = r.integer();
  t.bestrun = r.integer();
  t.weights = r.integers(2 * n);
  t.newbestdiff = r.real();
  t.maxbestgain = r.real();
  EXPECT_FALSE(r.more()) << "items after the stop-rule pair";
  ItemReader q{items(scores)};
  t.prescreenpass = q.real();
  t.prescreencount = q.real();
  t.lociscale = q.real();
  for (int k = 0; k < 4; ++k) t.prescreencounts.push_back(q.real());
  return t;
}

// The archive file: per record its score, the three family columns and the candidate columns.
std::vector<Record> parse_archive(const std::string& text, int4 n, int4 ncand) {
  ItemReader r{items(text)};
  std::vector<Record> out;
  while (r.more()) {
    Record rec;
    rec.logl = r.real();
    rec.columns = r.integers(static_cast<std::size_t>((3 + ncand) * n));
    out.push_back(std::move(rec));
  }
  return out;
}

// The column order the state file writes: current, then best, each family columns 1..3 and
// both candidate columns. The in-memory columns skip a sex without candidates; the pairwise
// project has candidates of both sexes, so the two orders agree.
int4 candidate_columns() {
  return (variables.numcandidate(1) > 0 ? 1 : 0) + (variables.numcandidate(2) > 0 ? 1 : 0);
}

// The half unit of the last digit a real keeps in "ESw.d" text: d digits after the point.
real8 es_half_unit(real8 x, int d) {
  if (x == 0.0) return 0.0;
  return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(x))) - d);
}

// --- Runs -------------------------------------------------------------------------------------

// The progress-log records after iteration k, without their stamps.
std::vector<std::string> log_after(const std::string& log, int8 k) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string rec;
  std::getline(in, rec);  // header
  while (std::getline(in, rec)) {
    if (rec.size() < 36) continue;
    if (std::stoll(rec.substr(22, 14)) > k) out.push_back(rec.substr(14));
  }
  return out;
}

// What the end of the search leaves: the best configuration, its score and the archive, read
// right after the (last) annealing call returns.
struct EndState {
  int4 calls = 0;  // annealing calls of the analysis
  std::vector<int4> best;
  real8 btlogl = 0;
  std::vector<Record> archive;
};

EndState end_state() {
  EndState e;
  e.best = columns_of(variables.btindivloc, variables.btinferparent);
  e.btlogl = variables.btloglikelihood;
  e.archive = archive_in_memory();
  return e;
}

// One analysis up to the choice of the best run, the state read after each annealing call, under
// the search seams set before the call.
StageOutcome search_until_selectrun(const std::vector<std::string>& args, EndState& end) {
  testing_support::reset_all_modules_but_search_seams();
  end = EndState{};
  return run_stage([&] {
    run_until_selectrun(args, [&] {
      const int4 calls = end.calls + 1;
      end = end_state();
      end.calls = calls;
    });
  });
}

// A state checkpoint without the date record's stamps and running time.
std::string without_dates(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(,\d{8},\d{6}\.\d{3},[^\n]*)"), ",<date>");
}

// A checkpoint is requested at the head of an iteration k, by default kCheckpoint, in the first
// temperature (the shortest run of this project ends it after 110 acceptances); no parent-side
// move draws at the head of an iteration that is not a multiple of 100, so the state the body
// sees at the next iteration is the checkpoint's but for the iteration count.
constexpr int8 kCheckpoint = 57;

// The uninterrupted run with a checkpoint at iteration k, the working directory copied aside
// right after it, and a second run restored from the copy.
struct ResumePair {
  State atcheckpoint, restored;
  EndState uninterrupted, resumed;
  std::string statetext, scorestext, archivetext;  // the checkpoint files at k
  std::string finalstate[2], finalarchive[2], finalscores[2], log[2];
  int4 ncand = 0, n = 0;
  bool restoredfirst = false;  // the restored run's first iteration was k + 1
};

// The copy of the working directory, removed however the test ends.
struct AsideDir {
  fs::path path =
      fs::temp_directory_path() / ("kinrad_exact_resume_copy_" + std::to_string(::getpid()));
  ~AsideDir() { fs::remove_all(path); }
};

// Both runs go to the end; with `to_end` false each stops silently right after its capture at
// the checkpoint.
void run_pair(ResumePair& p, bool to_end, int8 k = kCheckpoint) {
  HooksOff hooks;
  const AsideDir copy;
  const fs::path& aside = copy.path;
  {
    TempWorkDir dir("exact_resume_a");
    write_text("kinrad2.dat", pairwise_project());
    bool copied = false;
    search_seams.checkpoint_at = k;
    search_seams.body = [&](RunState& rs) {
      if (!copied && rs.cp.numiterate == k + 1) {
        copied = true;
        p.atcheckpoint = capture(rs);
        copy_files(aside);
        if (!to_end) stop_silently();
      }
      return move_body(rs);
    };
    const StageOutcome o = search_until_selectrun({"VER:0"}, p.uninterrupted);
    ASSERT_EQ(o.stopped, !to_end) << o.errorfile;
    ASSERT_EQ(o.status, 0) << o.errorfile;
    ASSERT_TRUE(copied);
    p.n = variables.smplsize;
    p.ncand = candidate_columns();
    p.finalstate[0] = read_text("small_pairwise.MidResult2");
    p.finalarchive[0] = read_text("small_pairwise.MidResult3");
    p.finalscores[0] = read_text("small_pairwise.MidResult5");
    p.log[0] = read_text("small_pairwise.MidResult");
  }
  p.statetext = read_text((aside / "small_pairwise.MidResult2").string());
  p.archivetext = read_text((aside / "small_pairwise.MidResult3").string());
  p.scorestext = read_text((aside / "small_pairwise.MidResult5").string());
  {
    TempWorkDir dir("exact_resume_b");
    copy_files_here(aside);
    search_seams = SearchSeams{};
    bool first = true;
    search_seams.body = [&](RunState& rs) {
      if (first) {
        first = false;
        p.restoredfirst = rs.cp.numiterate == k + 1;
        p.restored = capture(rs);
        if (!to_end) stop_silently();
      }
      return move_body(rs);
    };
    const StageOutcome o = search_until_selectrun({"VER:0"}, p.resumed);
    ASSERT_EQ(o.stopped, !to_end) << o.errorfile;
    ASSERT_EQ(o.status, 0) << o.errorfile;
    p.finalstate[1] = read_text("small_pairwise.MidResult2");
    p.finalarchive[1] = read_text("small_pairwise.MidResult3");
    p.finalscores[1] = read_text("small_pairwise.MidResult5");
    p.log[1] = read_text("small_pairwise.MidResult");
  }
}

void expect_same_archive(const std::vector<Record>& got, const std::vector<Record>& want) {
  ASSERT_EQ(got.size(), want.size());
  // The first record that differs is reported, not every one after it.
  for (std::size_t k = 0; k < got.size(); ++k) {
    if (got[k] == want[k]) continue;
    SCOPED_TRACE("archive record " + std::to_string(k + 1) + " of " + std::to_string(got.size()));
    EXPECT_EQ(got[k].logl, want[k].logl);
    EXPECT_EQ(got[k].columns, want[k].columns);
    return;
  }
}

// The sum of candidatelogl over the candidates that are not known parents: the candidate
// term of a configuration that assigns none of them.
real8 free_candidates_term() {
  const auto& v = variables;
  real8 sum = 0.0;
  for (int4 s = 1; s <= 2; ++s)
    for (int4 j = 1; j <= v.numcandidate(s); ++j)
      if (v.knownprntq(j, s) <= 0) sum += v.candidatelogl(j, s);
  return sum;
}

// The state at a checkpoint as the uninterrupted run held it, as its files hold it, and as the
// restore rebuilt it: integers, configurations and the search stream exactly; reals within half
// a unit of the last digit their edit format keeps (the writer) and equal to the value the text
// denotes (the reader); the best configuration and the archive as the files hold them; and what
// the restore derives from the configuration (the prior, the assignment counts) as the run held
// it. In the first temperature the start temperature and the rate come back to the bit; in a
// later one the cooled temperature keeps the eleven digits of its text only.
TEST(ExactResume, RestoredStateIsTheCheckpointsState) {
  RecordedPauses pauses;
  // The rate is set to 1.0 at the run's first new best and cooled by 0.92 at each later head:
  // both values are the doubles of their six-decimal texts.
  struct Row {
    int8 k;
    int4 tmr;
    real8 rate;
  };
  for (const Row& row : {Row{kCheckpoint, 1, 1.0}, Row{777, 2, 0.92}}) {
    SCOPED_TRACE("checkpoint at iteration " + std::to_string(row.k));
    ResumePair p;
    run_pair(p, false, row.k);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(p.restoredfirst);
    const real8 freeterm = free_candidates_term();
    const TextState t = parse_state(p.statetext, p.scorestext, p.ncand);
    const State& a = p.atcheckpoint;
    const State& b = p.restored;
    // The run had moved before the checkpoint: a new best, acceptances, a stream in use.
    EXPECT_GT(a.newbestcount, 0);
    EXPECT_GT(a.nsucc, 0);
    EXPECT_EQ(a.tmr, row.tmr);

    // Integers: the file holds the run's values, the restore gives them back. The body sees
    // the iteration count already raised for the iteration after the checkpoint.
    for (const State* s : {&a, &b}) {
      SCOPED_TRACE(s == &a ? "uninterrupted run" : "restored run");
      EXPECT_EQ(t.n, p.n);
      EXPECT_EQ(s->current, t.current);
      EXPECT_EQ(s->best, t.best);
      EXPECT_EQ(s->numiterate, t.numiterate + 1);
      EXPECT_EQ(s->monitorword, t.monitorword);
      EXPECT_EQ(s->nsucc, t.nsucc);
      EXPECT_EQ(s->newbestcount, t.newbestcount);
      EXPECT_EQ(s->nfail1, t.nfail1);
      EXPECT_EQ(s->nfail2, t.nfail2);
      EXPECT_EQ(s->itr, t.itr);
      EXPECT_EQ(s->tmr, t.tmr);
      EXPECT_EQ(s->idum3, t.idum3);
      EXPECT_EQ(s->idum2, t.idum2);
      EXPECT_EQ(s->idumiv, t.idumiv);
      EXPECT_EQ(s->idumiy, t.idumiy);
      EXPECT_EQ(s->counters, t.counters);
      EXPECT_EQ(s->acceptrun, t.acceptrun);
      EXPECT_EQ(s->bestrun, t.bestrun);
      EXPECT_EQ(s->weights, t.weights);
      // Scores in "ES28.18" keep every bit of a double.
      EXPECT_EQ(s->crlogl, t.crlogl);
      EXPECT_EQ(s->btlogl, t.btlogl);
    }
    EXPECT_EQ(t.krun, 1);
    EXPECT_EQ(t.numiterate, row.k);

    // Reals: the writer within its last digit, the reader the text's value.
    struct RealRow {
      const char* name;
      real8 saved, text, restored, tolerance;
    };
    const RealRow reals[] = {
        {"temperature", a.temperature, t.temperature, b.temperature,
         es_half_unit(t.temperature, 10)},
        {"withinfactor", a.withinfactor, t.withinfactor, b.withinfactor,
         es_half_unit(t.withinfactor, 10)},
        {"rate", a.rate, t.rate, b.rate, 0.5e-6},
        {"progressstep", a.progressstep, t.progressstep, b.progressstep,
         es_half_unit(t.progressstep, 10)},
        {"newbestdiff", a.newbestdiff, t.newbestdiff, b.newbestdiff,
         es_half_unit(t.newbestdiff, 12)},
        {"maxbestgain", a.maxbestgain, t.maxbestgain, b.maxbestgain,
         es_half_unit(t.maxbestgain, 12)},
        // "ES30.20" keeps every bit.
        {"prescreenpass", a.prescreenpass, t.prescreenpass, b.prescreenpass, 0.0},
        {"prescreencount", a.prescreencount, t.prescreencount, b.prescreencount, 0.0},
        {"lociscale", a.lociscale, t.lociscale, b.lociscale, 0.0},
    };
    for (const RealRow& r : reals) {
      SCOPED_TRACE(r.name);
      EXPECT_LE(std::fabs(r.saved - r.text), r.tolerance);
      EXPECT_EQ(r.restored, r.text);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(a.prescreencounts[k], t.prescreencounts[k]);
      EXPECT_EQ(b.prescreencounts[k], t.prescreencounts[k]);
    }
    // The rate and the start temperature, read from a text of nine digits, survive their
    // formats.
    EXPECT_EQ(a.rate, row.rate);
    EXPECT_EQ(b.rate, row.rate);
    if (row.tmr == 1) {
      EXPECT_EQ(b.temperature, a.temperature);
    }

    // The archive: the file's records in the file's order, as the run held them.
    const std::vector<Record> file = parse_archive(p.archivetext, p.n, p.ncand);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.front().columns, t.best);
    EXPECT_EQ(file.front().logl, t.btlogl);
    {
      SCOPED_TRACE("uninterrupted run against the file");
      expect_same_archive(a.archive, file);
    }
    {
      SCOPED_TRACE("restored run against the file");
      expect_same_archive(b.archive, file);
    }

    // What the restore derives from the configurations.
    EXPECT_EQ(b.crnumfamily, a.crnumfamily);
    EXPECT_EQ(b.btnumfamily, a.btnumfamily);
    EXPECT_EQ(b.curnumassign, a.curnumassign);
    EXPECT_EQ(b.btnumassign, a.btnumassign);
    EXPECT_EQ(b.oldlogprior, a.oldlogprior);
    EXPECT_EQ(b.btconfigprior, a.btconfigprior);
    // The candidate term: the pairwise-score search starts it at 0 and follows its changes (it
    // enters only the full-likelihood tests), the restore computes it whole; the two differ
    // by the term of the configuration without assigned candidates.
    EXPECT_NEAR(b.oldcndlogl - a.oldcndlogl, freeterm, 1e-9 * std::fabs(freeterm));
  }
}

// The uninterrupted run and the run restored from its checkpoint end alike: the best
// configuration, its score to the bit, every archive record, the progress-log records after
// the checkpoint (stamps aside) and the final checkpoint files (the date record aside).
TEST(ExactResumeSlow, PairwiseRunResumesExactly) {
  RecordedPauses pauses;
  ResumePair p;
  run_pair(p, true);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(p.restoredfirst);
  EXPECT_EQ(p.resumed.best, p.uninterrupted.best);
  EXPECT_EQ(p.resumed.btlogl, p.uninterrupted.btlogl);
  expect_same_archive(p.resumed.archive, p.uninterrupted.archive);
  const std::vector<std::string> logged = log_after(p.log[0], kCheckpoint);
  EXPECT_GT(logged.size(), 2u) << "the run ended too soon after the checkpoint";
  EXPECT_EQ(log_after(p.log[1], kCheckpoint), logged);
  EXPECT_EQ(without_dates(p.finalstate[1]), without_dates(p.finalstate[0]));
  EXPECT_EQ(p.finalarchive[1], p.finalarchive[0]);
  EXPECT_EQ(p.finalscores[1], p.finalscores[0]);
}

// The full-likelihood project of the end-to-end case: 20 offspring, 3 loci, two runs.
std::string full_likelihood_project() {
  return read_text(std::string(KINRAD_TESTS_DIR) +
                   "/e2e/cases/small_project_runs_to_the_end/input/kinrad2.dat");
}

// A completed analysis's checkpoints restored with the run-cut-short option: the search does
// not iterate; the state file gives back exactly the last run's best configuration and score,
// and the archive file the archive the choice of the best run left (with one run, the run's own
// archive; with two, the chosen run's, which that choice wrote back to the file). The loop is
// then cut short, so the choice leaves that archive in place and makes its head the best
// configuration: the results get exactly what the uninterrupted analysis chose.
TEST(ExactResumeSlow, RunCutShortRestoresTheFinishedRun) {
  RecordedPauses pauses;
  HooksOff hooks;
  struct Row {
    const char* name;
    std::string project;
    int4 runs;
  };
  const Row rows[] = {{"pairwise score, one run", pairwise_project(), 1},
                      {"full likelihood, two runs", full_likelihood_project(), 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempWorkDir dir("exact_resume_rcs");
    write_text("kinrad2.dat", row.project);
    search_seams = SearchSeams{};
    EndState ran, restored;
    StageOutcome o = search_until_selectrun({"VER:0"}, ran);
    ASSERT_FALSE(o.stopped) << o.errorfile;
    ASSERT_EQ(ran.calls, row.runs);
    const EndState chosen = end_state();
    if (row.runs == 1) expect_same_archive(chosen.archive, ran.archive);
    bool iterated = false;
    search_seams.body = [&](RunState&) {
      iterated = true;
      return MoveOutcome::end_run;
    };
    o = search_until_selectrun({"VER:0", "RCS:1"}, restored);
    ASSERT_FALSE(o.stopped) << o.errorfile;
    EXPECT_FALSE(iterated);
    EXPECT_EQ(restored.calls, 1);
    EXPECT_EQ(variables.krun, row.runs);
    // Right after the restore.
    EXPECT_EQ(restored.best, ran.best);
    EXPECT_EQ(restored.btlogl, ran.btlogl);
    expect_same_archive(restored.archive, chosen.archive);
    // After the choice of the best run.
    const EndState rechosen = end_state();
    EXPECT_EQ(rechosen.best, chosen.best);
    EXPECT_EQ(rechosen.btlogl, chosen.btlogl);
    expect_same_archive(rechosen.archive, chosen.archive);
    ASSERT_FALSE(chosen.archive.empty());
    EXPECT_EQ(chosen.best, chosen.archive.front().columns);
    EXPECT_EQ(chosen.btlogl, chosen.archive.front().logl);
  }
}

}  // namespace
}  // namespace kinrad::test
