// Whole jobs of the built KinradBatchRun under the MPI launcher, in a fresh working directory:
// with the stand-in main program, which records which process ran which file, and with the
// built Kinrad2p on two small project files. The expected shares follow from file i going to
// process i mod (number of processes), listed by hand for each row.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "batch_test_support.hpp"

extern char** environ;

namespace kinrad::batch {
namespace {

namespace fs = std::filesystem;
using batch_test::read_text;
using batch_test::recorded_runs;
using batch_test::WorkDir;
using batch_test::write_text;

struct JobResult {
  int status = -1;  // the launcher's exit status; -1 when it did not exit normally
  std::string screen;
};

// Runs KinradBatchRun with `args` on `np` processes in the working directory. The launcher is
// allowed to run as root (CI does) and to start more processes than there are cores.
JobResult run_job(int np, const std::vector<std::string>& args) {
  std::vector<std::string> cmd = {MPIEXEC_EXE, "--allow-run-as-root", "--oversubscribe",
                                  "-np",       std::to_string(np),    KINRADBATCHRUN_EXE};
  cmd.insert(cmd.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& c : cmd) argv.push_back(c.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "job.screen", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "job.stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // MPI keeps what it allocates at start-up to the end of the process, which the leak checker
  // of a sanitizer build would report as the runner's leaks and turn into a failed job. The
  // runs that the job starts inherit the setting; their own leak checks are the end-to-end
  // cases'.
  std::vector<std::string> env;
  std::string asan = "ASAN_OPTIONS=detect_leaks=0";
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view v(*e);
    if (v.starts_with("ASAN_OPTIONS="))
      asan = std::string(v) + ":detect_leaks=0";
    else
      env.emplace_back(v);
  }
  env.push_back(asan);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  JobResult r;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return r;
  int status = 0;
  while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
  }
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  r.screen = read_text("job.screen");
  return r;
}

// The input files each process's runs received, in the order it ran them, keyed by the TID:
// value; every run must have been given the stand-in's name and exactly IFN: and TID:.
std::map<std::string, std::vector<std::string>> runs_by_process() {
  std::map<std::string, std::vector<std::string>> by;
  for (const auto& run : recorded_runs()) {
    EXPECT_EQ(run.size(), 3u);
    if (run.size() != 3) continue;
    EXPECT_EQ(run[0], BATCH_STAND_IN_EXE);
    EXPECT_EQ(run[1].substr(0, 4), "IFN:");
    EXPECT_EQ(run[2].substr(0, 4), "TID:");
    by[run[2].substr(4)].push_back(run[1].substr(4));
  }
  return by;
}

std::string numbered_list(int n) {
  std::string list;
  for (int i = 1; i <= n; ++i) {
    const std::string name = "f" + std::to_string(i) + ".dat";
    write_text(name, "");
    list += name + "\n";
  }
  return list;
}

TEST(BatchJob, FileIGoesToProcessIModTheNumberOfProcesses) {
  struct Row {
    const char* what;
    int np;
    int nfiles;
    std::map<std::string, std::vector<std::string>> shares;
    std::string screen;
  };
  const std::string head = "Reading kinrad input file names...\n";
  const std::vector<Row> rows = {
      {"one process runs every file in list order",
       1,
       3,
       {{"0", {"f1.dat", "f2.dat", "f3.dat"}}},
       head + "     3 files to run by     1 threads.\n" + "Thread 0 running data = f1.dat\n" +
           "Thread 0 running data = f2.dat\n" + "Thread 0 running data = f3.dat\n"},
      {"two files on two processes",
       2,
       2,
       {{"1", {"f1.dat"}}, {"0", {"f2.dat"}}},
       head + "     2 files to run by     2 threads.\n" + "Thread 0 running data = f2.dat\n"},
      {"seven files on three processes",
       3,
       7,
       {{"1", {"f1.dat", "f4.dat", "f7.dat"}},
        {"2", {"f2.dat", "f5.dat"}},
        {"0", {"f3.dat", "f6.dat"}}},
       head + "     7 files to run by     3 threads.\n" + "Thread 0 running data = f3.dat\n" +
           "Thread 0 running data = f6.dat\n"},
      {"twelve files on four processes",
       4,
       12,
       {{"1", {"f1.dat", "f5.dat", "f9.dat"}},
        {"2", {"f2.dat", "f6.dat", "f10.dat"}},
        {"3", {"f3.dat", "f7.dat", "f11.dat"}},
        {"0", {"f4.dat", "f8.dat", "f12.dat"}}},
       head + "    12 files to run by     4 threads.\n" + "Thread 0 running data = f4.dat\n" +
           "Thread 0 running data = f8.dat\n" + "Thread 0 running data = f12.dat\n"},
      {"more processes than files: 3 and 0 start nothing",
       4,
       2,
       {{"1", {"f1.dat"}}, {"2", {"f2.dat"}}},
       head + "     2 files to run by     4 threads.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WorkDir dir("job");
    write_text("list.txt", numbered_list(row.nfiles));
    const JobResult r = run_job(row.np, {BATCH_STAND_IN_EXE, "list.txt"});
    EXPECT_EQ(r.status, 0) << read_text("job.stderr");
    EXPECT_EQ(r.screen, row.screen);
    EXPECT_EQ(runs_by_process(), row.shares);
  }
}

TEST(BatchJob, FailingRunsFailTheJobWhileTheOtherFilesStillRun) {
  WorkDir dir("job_fail");
  // fail.dat makes the stand-in exit with status 3 and signal.dat makes it die by a signal;
  // both fall to process 1, whose last file still runs.
  for (const char* f : {"fail.dat", "a b;c.dat", "signal.dat", "ok.dat", "last.dat"})
    write_text(f, "");
  write_text("list.txt", "fail.dat\n'a b;c.dat'\nsignal.dat\nok.dat\nlast.dat\n");
  const JobResult r = run_job(2, {BATCH_STAND_IN_EXE, "list.txt"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.screen,
            "Reading kinrad input file names...\n"
            "     5 files to run by     2 threads.\n"
            "Thread 0 running data = a b;c.dat\n"
            "Thread 0 running data = ok.dat\n");
  const std::map<std::string, std::vector<std::string>> expected = {
      {"1", {"fail.dat", "signal.dat", "last.dat"}}, {"0", {"a b;c.dat", "ok.dat"}}};
  EXPECT_EQ(runs_by_process(), expected);
}

TEST(BatchJob, BadListStopsEveryProcessBeforeAnyRunAndFailsTheJob) {
  WorkDir dir("job_stop");
  for (const char* f : {"a.dat", "b.dat", "d.dat"}) write_text(f, "");
  write_text("list.txt", "a.dat\nb.dat\nc.dat\nd.dat\ne.dat\n");
  const JobResult r = run_job(3, {BATCH_STAND_IN_EXE, "list.txt"});
  EXPECT_NE(r.status, 0);
  // Only process 0 writes, once.
  EXPECT_EQ(r.screen,
            "Reading kinrad input file names...\n"
            "Kinrad input file, c.dat, does not exist!\n"
            "Program stopping!\n");
  EXPECT_FALSE(fs::exists("stand_in.log"));
}

TEST(BatchJob, RealJobWritesEachProjectUnderItsOwnStemAndOnlyTidZeroShows) {
  WorkDir dir("job_real");
  // The program is given by its bare name, as a user in the directory of the runs would.
  fs::copy_file(KINRAD2P_EXE, "Kinrad2p");
  for (const char* f : {"pop_a.dat", "pop_b.dat"})
    fs::copy_file(fs::path(KINRAD_TEST_DATA_DIR) / f, f);
  write_text("list.txt", "pop_a.dat\npop_b.dat\n");
  const JobResult r = run_job(2, {"Kinrad2p", "list.txt"});
  EXPECT_EQ(r.status, 0) << r.screen << read_text("job.stderr");
  // pop_a.dat names the stem pop_a_out and pop_b.dat the stem pop_b_out; every analysis
  // leaves its data copy under its stem.
  for (const char* f :
       {"pop_a_out.data", "pop_a_out.GtypeData", "pop_b_out.data", "pop_b_out.GtypeData"}) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(fs::exists(f));
    EXPECT_GT(fs::file_size(f), 0u);
  }
  // File 2 ran on process 0 with TID:0 and shows its progress; file 1 ran with TID:1 and is
  // silent. pop_b.dat holds 6 offspring at 3 loci.
  const std::string head =
      "Reading kinrad input file names...\n"
      "     2 files to run by     2 threads.\n"
      "Thread 0 running data = pop_b.dat\n";
  EXPECT_EQ(r.screen.substr(0, head.size()), head);
  EXPECT_NE(r.screen.find("Opening & reading data input file: pop_b.dat\n"), std::string::npos);
  EXPECT_NE(r.screen.find("Reading 6 offspring genotypes at 3 loci...\n"), std::string::npos);
  EXPECT_NE(r.screen.find("Output to file : pop_b_out\n"), std::string::npos);
  EXPECT_EQ(r.screen.find("pop_a"), std::string::npos);
}

}  // namespace
}  // namespace kinrad::batch
