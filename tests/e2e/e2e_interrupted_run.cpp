// A run killed at any moment leaves no torn file under a real name: every file the program
// writes goes to "<name>.part" and is renamed only when complete. The example project runs
// once whole for the reference files; then runs killed (SIGKILL, no chance to clean up) at
// moments spread over the reference run's duration must leave, for every file present, either
// the reference contents or nothing; temporaries ending in ".part" may remain.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts the program in `work` (output to files there); returns its process id.
pid_t start(const fs::path& work) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(work.c_str()) != 0) ::_exit(127);
    if (!std::freopen(".stdout", "w", stdout) || !std::freopen(".stderr", "w", stderr))
      ::_exit(127);
    ::execl(KINRAD2P_EXE, KINRAD2P_EXE, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

fs::path fresh_dir(const std::string& tag) {
  const fs::path work =
      fs::temp_directory_path() / ("kinrad_interrupted_" + tag + "_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  // The example project with a very short run (record 16: length of run 0): the kills need
  // every phase, not a long search.
  std::istringstream in(contents(fs::path(KINRAD_SOURCE_DIR) / "examples" / "kinrad2.dat"));
  std::ofstream out(work / "kinrad2.dat", std::ios::binary);
  std::string line;
  for (int record = 1; std::getline(in, line); ++record) {
    if (record == 16) line = "0" + line.substr(line.find_first_of(" !"));
    out << line << '\n';
  }
  return work;
}

// Files an analysis writes once, whose copy after a kill must equal the whole run's. The lock
// of the output stem stays behind a killed run by design (the system drops the lock itself), and
// the search's checkpoints and progress log are rewritten or extended while it runs, so after a
// kill they hold an earlier state than the whole run's last one.
bool is_output(const fs::path& p) {
  const std::string name = p.filename().string();
  if (name == "kinrad2.dat" || name[0] == '.' || name.ends_with(".part")) return false;
  if (name.ends_with(".Lock")) return false;
  for (const char* rewritten : {".MidResult", ".MidResult2", ".MidResult3", ".MidResult5"})
    if (name.ends_with(rewritten)) return false;
  return true;
}

TEST(InterruptedRunSlow, EveryFileLeftIsWholeOrAbsent) {
  const fs::path whole = fresh_dir("whole");
  const auto began = std::chrono::steady_clock::now();
  const pid_t ref = start(whole);
  int status = 0;
  ASSERT_EQ(::waitpid(ref, &status, 0), ref);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::map<std::string, std::string> reference;
  for (const auto& e : fs::directory_iterator(whole))
    if (is_output(e.path())) reference[e.path().filename().string()] = contents(e.path());
  ASSERT_FALSE(reference.empty());

  constexpr int kills = 16;
  for (int k = 0; k < kills; ++k) {
    const double at = took.count() * (k + 0.5) / kills;
    SCOPED_TRACE("killed after " + std::to_string(at) + " s");
    const fs::path work = fresh_dir("killed");
    const pid_t pid = start(work);
    std::this_thread::sleep_for(std::chrono::duration<double>(at));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (const auto& e : fs::directory_iterator(work)) {
      if (!is_output(e.path())) continue;
      const std::string name = e.path().filename().string();
      SCOPED_TRACE(name);
      const auto expected = reference.find(name);
      ASSERT_NE(expected, reference.end()) << "a file the whole run does not leave";
      const std::string left = contents(e.path());
      // ".ErrorRate" is first committed holding its header alone, then again with every locus.
      if (name.ends_with(".ErrorRate") && left != expected->second) {
        EXPECT_EQ(left, expected->second.substr(0, left.size())) << "a torn file";
        EXPECT_EQ(std::count(left.begin(), left.end(), '\n'), 1) << "not the header alone";
        continue;
      }
      EXPECT_EQ(left, expected->second) << "a torn file under its real name";
    }
    fs::remove_all(work);
  }
  fs::remove_all(whole);
}

}  // namespace
