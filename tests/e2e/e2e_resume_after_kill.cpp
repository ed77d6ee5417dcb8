// A search killed (SIGKILL) right after one of its checkpoints resumes from it when started
// again with the same arguments. The example project with allele-frequency updating writes a
// checkpoint at each end of a temperature that updates the frequencies; ".MidResult5" is the
// last of the three files of one checkpoint to be renamed into place, so the kill follows the
// n-th rename of that file (watched with inotify, so that the program has no time to begin the
// next checkpoint). Then:
// - the restarted analysis restores: no initial configuration is scored before its first
//   monitor line, and its first monitor line lies at the first multiple of the monitor interval
//   past the saved iteration count, in the saved temperature or a later one;
// - the progress log never repeats an iteration count of the run across the restart;
// - the restarted analysis ends with status 0 and a non-empty archive;
// - two restarts from copies of the same killed directory end with the same screen, progress
//   log and best configuration (time stamps masked).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_process.hpp"

namespace fs = std::filesystem;

namespace {

using kinrad::testing_support::ProgramDir;

const std::string kStem = "kinrad2_example";
const std::vector<std::string> kArgs = {"VER:0"};

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) r.push_back(l);
  return r;
}

// The example project with a very short run (record 16: length of run 0). Its records 6
// (allele-frequency updating 1) and 20 (method 1, full likelihood) are the case's own.
void write_project(const fs::path& dir) {
  std::istringstream in(contents(fs::path(KINRAD_SOURCE_DIR) / "examples" / "kinrad2.dat"));
  std::ofstream out(dir / "kinrad2.dat", std::ios::binary);
  std::string line;
  for (int record = 1; std::getline(in, line); ++record) {
    const std::string value = line.substr(0, line.find_first_of(" !"));
    if (record == 6) {
      EXPECT_EQ(value, "1") << "allele-frequency updating";
    }
    if (record == 20) {
      EXPECT_EQ(value, "1") << "method";
    }
    if (record == 16) line = "0" + line.substr(line.find_first_of(" !"));
    out << line << '\n';
  }
}

// Starts the program in `dir` and kills it right after the n-th rename of ".MidResult5" into
// place. False when the program ended before that.
bool kill_after_checkpoint(const ProgramDir& dir, int n) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return false;
  if (::inotify_add_watch(fd, dir.path().c_str(), IN_MOVED_TO) < 0) {
    ::close(fd);
    return false;
  }
  const pid_t pid = dir.start(kArgs, "", ".screen1");
  const std::string watched = kStem + ".MidResult5";
  int seen = 0;
  bool killed = false;
  alignas(inotify_event) char buf[8192];
  while (!killed) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 50);
    for (;;) {
      const ssize_t len = ::read(fd, buf, sizeof buf);
      if (len <= 0) break;
      for (ssize_t off = 0; off < len;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
        if (e->len > 0 && watched == e->name && ++seen == n && !killed) {
          ::kill(pid, SIGKILL);
          killed = true;
        }
        off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    }
    if (killed) break;
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) == pid) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return ProgramDir::wait(pid) == 128 + SIGKILL;
}

// The search state record of ".MidResult2": the first record with more than 40 comma-separated
// values (the configurations before it have none, the weights after it twenty). Its values:
// current and best score, temperature, within factor, run, iterations of the run, a monitor
// word, successes, new bests, the two failure counts, iteration in the temperature, temperature
// number, ...
struct SavedState {
  long long numiterate = -1, itr = -1;
  int tmr = -1;
};

SavedState saved_state(const fs::path& file) {
  SavedState s;
  for (const std::string& l : lines(contents(file))) {
    std::vector<std::string> f;
    std::stringstream in(l);
    for (std::string x; std::getline(in, x, ',');) f.push_back(x);
    if (f.size() <= 40) continue;
    s.numiterate = std::stoll(f[5]);
    s.itr = std::stoll(f[11]);
    s.tmr = std::stoi(f[12]);
    break;
  }
  return s;
}

// Progress-log records "(A14, 2I4, I14, ...)": the run and the iteration count of each record
// after the header.
std::vector<std::pair<int, long long>> logged_iterations(const fs::path& file) {
  std::vector<std::pair<int, long long>> r;
  const auto ls = lines(contents(file));
  for (std::size_t k = 1; k < ls.size(); ++k) {
    if (ls[k].size() < 36) continue;
    r.emplace_back(std::stoi(ls[k].substr(14, 4)), std::stoll(ls[k].substr(22, 14)));
  }
  return r;
}

// The first monitor line of a screen: "Run=  1, Tmr=   t, Itr=   n, ...".
bool first_monitor_line(const std::string& screen, int& tmr, long long& itr, std::size_t& at) {
  static const std::regex line(R"(Run= *\d+, Tmr= *(\d+), Itr= *(\d+),)");
  std::smatch m;
  if (!std::regex_search(screen, m, line)) return false;
  tmr = std::stoi(m[1]);
  itr = std::stoll(m[2]);
  at = static_cast<std::size_t>(m.position(0));
  return true;
}

// Dates, times and running times: the monitor's date line, the log's stamp column.
std::string mask_screen(const std::string& s) {
  std::string r =
      std::regex_replace(s, std::regex(R"(D=\d\d/\d\d/\d\d\d\d T=\d\d/\d\d/\d\d)"), "D=<d> T=<t>");
  return std::regex_replace(r, std::regex(R"(TotalRunningTime\(Min\)=\S+)"),
                            "TotalRunningTime(Min)=<m>");
}

std::string mask_log(const std::string& s) {
  std::string r;
  const auto ls = lines(s);
  for (std::size_t k = 0; k < ls.size(); ++k)
    r += (k > 0 && ls[k].size() >= 14 ? "<stamp>" + ls[k].substr(14) : ls[k]) + "\n";
  return r;
}

void copy_dir(const fs::path& from, const fs::path& to) {
  for (const auto& e : fs::directory_iterator(from))
    fs::copy(e.path(), to / e.path().filename(), fs::copy_options::overwrite_existing);
}

struct Restart {
  int status = -1;
  std::string screen, log, best;
};

void resume_after_kill(int nth) {
  ProgramDir killed("resume_killed_" + std::to_string(nth));
  write_project(killed.path());
  ASSERT_TRUE(kill_after_checkpoint(killed, nth))
      << "the run ended before checkpoint " << nth << ":\n"
      << contents(killed.path() / ".screen1").substr(0, 3000);
  const fs::path& k = killed.path();
  const SavedState saved = saved_state(k / (kStem + ".MidResult2"));
  ASSERT_GE(saved.numiterate, 1);
  ASSERT_TRUE(fs::exists(k / (kStem + ".MidResult3")));
  // The kill left the archive copy and the results unwritten.
  ASSERT_FALSE(fs::exists(k / (kStem + ".BestConfig")));

  Restart r[2];
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE("restart " + std::to_string(c + 1));
    ProgramDir again("resume_again_" + std::to_string(nth) + "_" + std::to_string(c));
    copy_dir(k, again.path());
    r[c].status = again.run(kArgs);
    r[c].screen = contents(again.path() / ".stdout");
    r[c].log = contents(again.path() / (kStem + ".MidResult"));
    r[c].best = contents(again.path() / (kStem + ".BestConfig"));
    ASSERT_EQ(r[c].status, 0) << r[c].screen.substr(0, 3000)
                              << contents(again.path() / "Kinrad2.ErrorMessage");
    EXPECT_GT(fs::file_size(again.path() / (kStem + ".MidResult3")), 0u) << "an empty archive";
    EXPECT_FALSE(r[c].best.empty());

    int tmr = 0;
    long long itr = 0;
    std::size_t at = 0;
    ASSERT_TRUE(first_monitor_line(r[c].screen, tmr, itr, at)) << r[c].screen.substr(0, 3000);
    // No initial configuration was built and scored before the search went on.
    EXPECT_EQ(r[c].screen.substr(0, at).find("Computing likelihood of initial config"),
              std::string::npos)
        << r[c].screen.substr(0, at);
    // The example's monitor interval is 10000 iterations: the first line after the restore is
    // the first multiple past the saved count, in the saved temperature or a later one.
    EXPECT_EQ(itr, (saved.numiterate / 10000 + 1) * 10000)
        << "saved at iteration " << saved.numiterate;
    EXPECT_GE(tmr, saved.tmr);

    // Every record of the run has a larger iteration count than the one before it.
    const auto logged = logged_iterations(again.path() / (kStem + ".MidResult"));
    ASSERT_GT(logged.size(), 2u);
    for (std::size_t j = 1; j < logged.size(); ++j)
      EXPECT_LT(logged[j - 1].second, logged[j].second)
          << "log record " << j + 1 << " repeats or goes back";
    EXPECT_GT(logged.back().second, saved.numiterate);
  }
  EXPECT_EQ(mask_screen(r[0].screen), mask_screen(r[1].screen));
  EXPECT_EQ(mask_log(r[0].log), mask_log(r[1].log));
  EXPECT_EQ(r[0].best, r[1].best);
}

TEST(ResumeAfterKillSlow, AfterTheFirstCheckpoint) {
  resume_after_kill(1);
}
TEST(ResumeAfterKillSlow, AfterTheFifthCheckpoint) {
  resume_after_kill(5);
}

}  // namespace
