// The lock of the output stem: held once per process, refused to another process while held,
// free again when released or when the holder ends, and the lock file removed by its holder.
// Another process is a forked child that reports what it got as its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "core/modules.hpp"
#include "core/stem_lock.hpp"
#include "support/temp_dir.hpp"

namespace kinrad {
namespace {

namespace fs = std::filesystem;

// The result a fresh process gets for the stem.
StemLockResult other_process(const std::string& stem) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    stem_lock = StemLock{};  // the child's copy of the parent's state is not its lock
    _exit(static_cast<int>(lock_output_stem(stem)));
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return static_cast<StemLockResult>(WEXITSTATUS(raw));
}

class StemLockTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all_modules(); }
  void TearDown() override { reset_all_modules(); }
  testing_support::TempWorkDir dir{"stemlock"};
};

TEST_F(StemLockTest, HeldOncePerProcessAndRefusedToAnother) {
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::locked);
  EXPECT_TRUE(fs::exists("myout.Lock"));
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::locked);
  EXPECT_EQ(other_process("myout"), StemLockResult::busy);
  EXPECT_EQ(other_process("other"), StemLockResult::locked);
  release_output_stem();
  EXPECT_FALSE(fs::exists("myout.Lock"));
  EXPECT_EQ(other_process("myout"), StemLockResult::locked);
  // The child ended without releasing: its file stays, its lock does not.
  EXPECT_TRUE(fs::exists("myout.Lock"));
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::locked);
}

TEST_F(StemLockTest, ANewStemReleasesTheOldOne) {
  ASSERT_EQ(lock_output_stem("first"), StemLockResult::locked);
  ASSERT_EQ(lock_output_stem("second"), StemLockResult::locked);
  EXPECT_FALSE(fs::exists("first.Lock"));
  EXPECT_EQ(other_process("first"), StemLockResult::locked);
  EXPECT_EQ(other_process("second"), StemLockResult::busy);
  // The reset of the modules ends an analysis: the stem is free.
  reset_all_modules();
  EXPECT_EQ(other_process("second"), StemLockResult::locked);
}

TEST_F(StemLockTest, AFolderThatDoesNotExistIsUnusable) {
  EXPECT_EQ(lock_output_stem("nosuchfolder/myout"), StemLockResult::unusable);
  EXPECT_EQ(stem_lock.fd, -1);
}

TEST_F(StemLockTest, ALockFileRemovedByItsHolderIsNotTrusted) {
  // A lock file that was replaced under its name while this process held it (its holder ended
  // and another analysis started): asking again locks the file the name now leads to.
  ASSERT_EQ(lock_output_stem("myout"), StemLockResult::locked);
  fs::remove("myout.Lock");
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::locked);
  EXPECT_TRUE(fs::exists("myout.Lock"));
  EXPECT_EQ(other_process("myout"), StemLockResult::busy);
}

// Taking the lock removes the temporaries a killed analysis of the stem left; a process that
// is refused the lock touches none of them (they may be the holder's open files).
TEST_F(StemLockTest, TakingTheLockRemovesTheStemsTemporaries) {
  testing_support::write_text("myout.OffGenotype.123.part", "torn");
  testing_support::write_text("myout.MidResult2.Run2.7.part", "torn");
  testing_support::write_text("myout.BestConfig", "kept");
  const pid_t holder = ::fork();
  if (holder == 0) {
    stem_lock = StemLock{};
    // The child takes the lock (and with it removes the two temporaries above), plants one
    // of its own as a running analysis would, and holds the lock until told to end.
    if (lock_output_stem("myout") != StemLockResult::locked) _exit(1);
    testing_support::write_text("myout.Ne." + std::to_string(::getpid()) + ".part", "open");
    testing_support::write_text("child.ready", "");
    ::pause();
    _exit(0);
  }
  while (!fs::exists("child.ready")) ::usleep(1000);
  EXPECT_FALSE(fs::exists("myout.OffGenotype.123.part"));
  EXPECT_FALSE(fs::exists("myout.MidResult2.Run2.7.part"));
  EXPECT_TRUE(fs::exists("myout.BestConfig"));
  const std::string live = "myout.Ne." + std::to_string(holder) + ".part";
  EXPECT_TRUE(fs::exists(live));
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::busy);
  EXPECT_TRUE(fs::exists(live)) << "a refused process removed the holder's temporary";
  ::kill(holder, SIGKILL);
  int raw = 0;
  ::waitpid(holder, &raw, 0);
  // The holder was killed: its temporary goes with the next lock.
  EXPECT_EQ(lock_output_stem("myout"), StemLockResult::locked);
  EXPECT_FALSE(fs::exists(live));
}

}  // namespace
}  // namespace kinrad
