// The command line: argument lists against the run options and the exact screen text. Messages
// are written out by hand from the option rules; integer values follow the "(I12)" read, whose
// results for the values used here were checked with gfortran (blanks ignored, an all-blank
// value 0, only the first 12 characters read, overflow and stray characters an error).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "support/module_reset.hpp"
#include "support/pauses.hpp"

namespace kinrad {
namespace {

// The options getcommands decides, for comparison as a whole.
struct Options {
  std::string inputfilename = "kinrad2.dat";
  std::string outputfilename;
  int4 displayq = 1, screenq = 1, showq = 1;
  std::string lineform = "(A,$)";
  int4 igui = 0, runcutshortq = 0, chkconfig = 0, newseed = 0, restart = 1, checkmode = 0,
       iarchive = 1, errestimate = 1, allelefreest = 1, showversion = 1, systemrun = 0, simuq = 0,
       compfsprob = 1, compdyadprob = 1;

  static Options current() {
    const auto& v = variables;
    Options o;
    o.inputfilename = std::string(v.inputfilename.trimmed());
    o.outputfilename = std::string(v.outputfilename.trimmed());
    o.displayq = v.displayq;
    o.screenq = v.screenq;
    o.showq = v.showq;
    o.lineform = std::string(v.lineform.view());
    o.igui = v.igui;
    o.runcutshortq = v.runcutshortq;
    o.chkconfig = v.chkconfig;
    o.newseed = v.newseed;
    o.restart = v.restart;
    o.checkmode = v.checkmode;
    o.iarchive = v.iarchive;
    o.errestimate = v.errestimate;
    o.allelefreest = v.allelefreest;
    o.showversion = v.showversion;
    o.systemrun = v.systemrun;
    o.simuq = v.simuq;
    o.compfsprob = v.compfsprob;
    o.compdyadprob = v.compdyadprob;
    return o;
  }
};

void expect_same(const Options& got, const Options& want) {
  EXPECT_EQ(got.inputfilename, want.inputfilename);
  EXPECT_EQ(got.outputfilename, want.outputfilename);
  EXPECT_EQ(got.displayq, want.displayq);
  EXPECT_EQ(got.screenq, want.screenq);
  EXPECT_EQ(got.showq, want.showq);
  EXPECT_EQ(got.lineform, want.lineform);
  EXPECT_EQ(got.igui, want.igui);
  EXPECT_EQ(got.runcutshortq, want.runcutshortq);
  EXPECT_EQ(got.chkconfig, want.chkconfig);
  EXPECT_EQ(got.newseed, want.newseed);
  EXPECT_EQ(got.restart, want.restart);
  EXPECT_EQ(got.checkmode, want.checkmode);
  EXPECT_EQ(got.iarchive, want.iarchive);
  EXPECT_EQ(got.errestimate, want.errestimate);
  EXPECT_EQ(got.allelefreest, want.allelefreest);
  EXPECT_EQ(got.showversion, want.showversion);
  EXPECT_EQ(got.systemrun, want.systemrun);
  EXPECT_EQ(got.simuq, want.simuq);
  EXPECT_EQ(got.compfsprob, want.compfsprob);
  EXPECT_EQ(got.compdyadprob, want.compdyadprob);
}

class GetCommands : public testing_support::ModuleReset {
 protected:
  void TearDown() override { set_command_line(std::vector<std::string>{}); }

  // Runs getcommands on args; returns the screen text. A stop is kept in `stopped`.
  std::string run(const std::vector<std::string>& args) {
    set_command_line(args);
    stopped = false;
    testing::internal::CaptureStdout();
    try {
      getcommands();
    } catch (const ProgramStop& stop) {
      stopped = true;
      stop_status = stop.status();
      stop_silent = stop.kind() == ProgramStop::Kind::silent;
    }
    return testing::internal::GetCapturedStdout();
  }

  // The pauses after rejected arguments are recorded instead of waited for.
  testing_support::RecordedPauses pauses;
  bool stopped = false;
  bool stop_silent = false;
  int stop_status = -1;
};

const std::string kRejectedHead = "Error in reading parameters from keyboard! Original input: ";
const std::string kIgnored = ". The command is ignored!\n";

std::string unrecognized(const std::string& arg) {
  return "Run option " + arg + " unrecognized: ignored!\n";
}
std::string repeated(const std::string& arg) {
  return "Repeated parameter values from keyboard! Original input: " + arg + kIgnored;
}
std::string unreadable(const std::string& keyword_value) {
  return kRejectedHead + keyword_value + kIgnored;
}

// One row of a table: the arguments, the exact screen text and how the options differ from
// the defaults.
struct Row {
  const char* what;
  std::vector<std::string> args;
  std::string screen;
  std::function<void(Options&)> change;
};

class GetCommandsTable : public GetCommands {
 protected:
  void check(const std::vector<Row>& rows) {
    for (const auto& row : rows) {
      SCOPED_TRACE(row.what);
      reset_all_modules();
      const std::string screen = run(row.args);
      EXPECT_FALSE(stopped);
      EXPECT_EQ(screen, row.screen);
      Options want;
      row.change(want);
      expect_same(Options::current(), want);
    }
  }
};

TEST_F(GetCommandsTable, AcceptedArgumentsSetTheOptionsSilently) {
  const std::string name300(300, 'n');
  const std::string name500 = "dir/" + std::string(496, 'x');
  check({
      {"no arguments: all defaults", {}, "", [](Options&) {}},
      {"value rules of RCS, FSP, SIM, DYD",
       {"RCS:01", "FSP:2", "SIM:5", "DYD:1"},
       "",
       [](Options& o) {
         o.simuq = 1;
         o.compfsprob = 0;
       }},
      {"RCS exactly 1, FSP 1, SIM 0, DYD 0",
       {"RCS:1", "FSP:1", "SIM:0", "DYD:0"},
       "",
       [](Options& o) {
         o.runcutshortq = 1;
         o.compdyadprob = 0;
       }},
      {"an empty argument ends the scan",
       {"RND:5", "", "RST:0", "bogus"},
       "",
       [](Options& o) { o.newseed = 5; }},
      {"GUI 1: whole records, no progress display",
       {"GUI:1"},
       "",
       [](Options& o) {
         o.igui = 1;
         o.showq = 0;
         o.lineform = "(A)  ";
       }},
      {"leading blanks of argument and value",
       {"   OFN:  out/run1  ", "RND: -42"},
       "",
       [](Options& o) {
         o.outputfilename = "out/run1";
         o.newseed = -42;
       }},
      {"I12 reading: blanks ignored, blank is 0, first 12 characters, sign",
       {"CHK:1 2", "RST:", "CKM:000000000002X", "ARC:+7"},
       "",
       [](Options& o) {
         o.chkconfig = 12;
         o.restart = 0;
         o.checkmode = 2;
         o.iarchive = 7;
       }},
      {"all 17 keywords",
       {"IFN:a.dat", "TID:0", "RCS:1", "OFN:b", "CHK:2", "RND:-7", "RST:0", "CKM:1", "GUI:1",
        "ARC:0", "ERR:0", "AFE:0", "VER:0", "SYS:1", "SIM:1", "FSP:0", "DYD:0"},
       "",
       [](Options& o) {
         o.inputfilename = "a.dat";
         o.outputfilename = "b";
         o.screenq = 0;
         o.showq = 0;
         o.runcutshortq = 1;
         o.chkconfig = 2;
         o.newseed = -7;
         o.restart = 0;
         o.checkmode = 1;
         o.igui = 1;
         o.lineform = "(A)  ";
         o.iarchive = 0;
         o.errestimate = 0;
         o.allelefreest = 0;
         o.showversion = 0;
         o.systemrun = 1;
         o.simuq = 1;
         o.compfsprob = 0;
         o.compdyadprob = 0;
       }},
      {"file names longer than 146 characters are taken whole",
       {"IFN:" + name300, "OFN:  " + name500},
       "",
       [&](Options& o) {
         o.inputfilename = name300;
         o.outputfilename = name500;
       }},
  });
}

TEST_F(GetCommandsTable, RejectedArgumentsAreReportedAndIgnored) {
  const std::string name501 = "dir/" + std::string(497, 'x');
  check({
      {"lower-case keyword", {"ifn:data.txt"}, unrecognized("ifn:data.txt"), [](Options&) {}},
      {"unreadable integer", {"RND:12x"}, unreadable("RND:12x"), [](Options&) {}},
      {"repeated IFN: the first wins",
       {"IFN:first.dat", "IFN:second.dat"},
       repeated("IFN:second.dat"),
       [](Options& o) { o.inputfilename = "first.dat"; }},
      {"an unreadable first occurrence still counts",
       {"RND:x", "RND:5"},
       unreadable("RND:x") + repeated("RND:5"),
       [](Options&) {}},
      {"I12 reading failures: overflow, a real, too many digits",
       {"SYS:2147483648", "ERR:1.0", "RND:1234567890123", "CHK:2147483647"},
       unreadable("SYS:2147483648") + unreadable("ERR:1.0") + unreadable("RND:1234567890123"),
       [](Options& o) { o.chkconfig = 2147483647; }},
      {"not a keyword: no colon in position 4, other separators",
       {"IFNX:a", "IFN=a", "-help2", "- help"},
       unrecognized("IFNX:a") + unrecognized("IFN=a") + unrecognized("-help2") +
           unrecognized("- help"),
       [](Options&) {}},
      {"a file name longer than 500 characters is refused",
       {"OFN:" + name501, "IFN:x.dat"},
       unreadable("OFN:" + name501),
       [](Options& o) { o.inputfilename = "x.dat"; }},
  });
}

TEST_F(GetCommands, RejectedArgumentsShareOnePause) {
  run({"bogus", "RND:x", "IFN:a.dat"});
  EXPECT_EQ(pauses.lengths(), std::vector<int4>{1});
}

TEST_F(GetCommands, AcceptedArgumentsDoNotPause) {
  run({"IFN:a.dat", "RND:5"});
  EXPECT_TRUE(pauses.lengths().empty());
}

TEST_F(GetCommandsTable, MessagesFollowTheDisplayFlagAsItStandsAtEachArgument) {
  check({
      {"TID 0: messages on, progress off",
       {"TID:0", "what"},
       unrecognized("what"),
       [](Options& o) {
         o.screenq = 0;
         o.showq = 0;
       }},
      {"TID 3: everything off, later messages silent",
       {"bogus", "TID:3", "what", "RND:x"},
       unrecognized("bogus"),
       [](Options& o) {
         o.displayq = 0;
         o.screenq = 0;
         o.showq = 0;
       }},
      {"a question mark is counted but not reported", {"?"}, "", [](Options&) {}},
  });
}

TEST_F(GetCommands, DefaultsAreSetAgainWhateverTheVariablesHeld) {
  variables.inputfilename = "old.dat";
  variables.newseed = 99;
  variables.restart = 0;
  variables.igui = 1;
  run({});
  expect_same(Options::current(), Options{});
}

TEST_F(GetCommands, AnotherProcessDoesNotDisplay) {
  variables.threadid = 1;
  const std::string screen = run({"bogus"});
  EXPECT_EQ(screen, "");
  Options want;
  want.displayq = 0;
  want.screenq = 0;
  want.showq = 0;
  expect_same(Options::current(), want);
}

// What "-help" shows: the version banner, then the usage text.
std::string help_screen() {
  const std::string dashes(89, '-');
  std::string s = "\n" + dashes + "\nKINRAD, Version 2.0.7.1, Build 20240225\n" + dashes + "\n\n";
  s += "KINRAD Command Line Arguments:\n"
       "  IFN:[input file name]\n"
       "  OFN:[output file name]\n"
       "  RND:[RaNDom number seed]\n"
       "  RCS:[1/0 for Run-Cut-Short = Y/N]\n"
       "  RST:[1/0 for ReSTart = Y/N]\n"
       "  CKM:[0/1/2 for check mode no_check/check1/check2]\n"
       "  GUI:[0/1 KINRAD started from GUI = N/Y]\n"
       "  ARC:[1/0 Archive good config = Y/N]\n"
       "  ERR:[1/0 Estimate marker error rate = Y/N]\n"
       "  AFE:[1/0 Infer genotypes and allele frequency = Y/N]\n"
       "  VER:[1/0 Show KINRAD version = Y/N]\n"
       "  SYS:[0/1 Kinrad called from system = N/Y]\n"
       "  FSP:[1/0 Compute FS family prb = Y/N]\n"
       "  DYD:[1/0 Compute Dyad prb = Y/N]\n"
       "\n"
       "Example command line:  Kinrad2p.exe IFN:myInputFile RCS:0 OFN:myOutputFile\n"
       "\n"
       "Details of the software in user manual, KinradUserGuide.pdf\n";
  return s;
}

TEST_F(GetCommands, HelpInAnyLetterCaseShowsBannerAndUsageAndStopsWithStatusZero) {
  const std::string screen = run({"-HeLp"});
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(stop_silent);
  EXPECT_EQ(stop_status, 0);
  EXPECT_EQ(screen, help_screen());
}

TEST_F(GetCommands, HelpAppliesEarlierArgumentsAndNeverReadsLaterOnes) {
  // The banner is shown whatever TID says; GUI 1 spares the banner's pause. The unrecognised
  // argument after "-help" is never reported and the later RND never applied.
  const std::string screen = run({"TID:3", "GUI:1", "RND:5", "  -help  ", "bogus", "CHK:4"});
  EXPECT_TRUE(stopped);
  EXPECT_EQ(stop_status, 0);
  EXPECT_EQ(screen, help_screen());
  EXPECT_EQ(variables.newseed, 5);
  EXPECT_EQ(variables.chkconfig, 0);
  EXPECT_EQ(variables.displayq, 0);
}

TEST_F(GetCommands, EveryLetterCaseOfHelpIsRecognised) {
  for (int mask = 0; mask < 16; ++mask) {
    std::string arg = "-help";
    for (int b = 0; b < 4; ++b)
      if (mask & (1 << b)) arg[static_cast<std::size_t>(b + 1)] -= 'a' - 'A';
    SCOPED_TRACE(arg);
    reset_all_modules();
    run({"GUI:1", arg});
    EXPECT_TRUE(stopped);
  }
}

}  // namespace
}  // namespace kinrad
