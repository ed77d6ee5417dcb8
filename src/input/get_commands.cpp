#include <array>
#include <cctype>
#include <iostream>
#include <string>
#include <string_view>

#include "core/clock.hpp"
#include "core/command_line.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/io_status.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"

namespace kinrad {

void displayversion() {
  const std::string dashes(89, '-');
  fwrite(std::cout, "(A)", "");
  fwrite(std::cout, "(A)", dashes);
  fwrite(std::cout, "(A)", "KINRAD, Version 2.0.7.1, Build 20240225");
  fwrite(std::cout, "(A)", dashes);
  fwrite(std::cout, "(A)", "");
  std::cout.flush();
  if (variables.igui != 1) pause_until_second_changes();
}

namespace {

// The keyword table; the position is the keyword number.
constexpr std::array<std::string_view, 17> kKeywords = {"IFN", "TID", "RCS", "OFN", "CHK", "RND",
                                                        "RST", "CKM", "GUI", "ARC", "ERR", "AFE",
                                                        "VER", "SYS", "SIM", "FSP", "DYD"};

// File names keep up to this many characters.
constexpr std::size_t kFileNameLength = 500;

bool is_help(std::string_view arg) {
  const std::string_view t = trim(arg);
  if (t.size() != 5) return false;
  static constexpr std::string_view help = "-help";
  for (std::size_t i = 0; i < 5; ++i)
    if (std::tolower(static_cast<unsigned char>(t[i])) != help[i]) return false;
  return true;
}

void write_usage() {
  fwrite(std::cout, "(A)", "KINRAD Command Line Arguments:", "  IFN:[input file name]",
         "  OFN:[output file name]", "  RND:[RaNDom number seed]",
         "  RCS:[1/0 for Run-Cut-Short = Y/N]", "  RST:[1/0 for ReSTart = Y/N]",
         "  CKM:[0/1/2 for check mode no_check/check1/check2]",
         "  GUI:[0/1 KINRAD started from GUI = N/Y]", "  ARC:[1/0 Archive good config = Y/N]",
         "  ERR:[1/0 Estimate marker error rate = Y/N]",
         "  AFE:[1/0 Infer genotypes and allele frequency = Y/N]",
         "  VER:[1/0 Show KINRAD version = Y/N]", "  SYS:[0/1 Kinrad called from system = N/Y]",
         "  FSP:[1/0 Compute FS family prb = Y/N]", "  DYD:[1/0 Compute Dyad prb = Y/N]");
  fwrite(std::cout, "(/A)",
         "Example command line:  Kinrad2p.exe IFN:myInputFile RCS:0 OFN:myOutputFile");
  fwrite(std::cout, "(/A)", "Details of the software in user manual, KinradUserGuide.pdf");
  std::cout.flush();
}

// Stores a readable integer value of keyword k (TID or 5..17) as the table says.
void apply_integer(int4 k, int4 n) {
  auto& v = variables;
  switch (k) {
    case 2:
      v.screenq = 0;
      v.displayq = n == 0 ? 1 : 0;
      break;
    case 5:
      v.chkconfig = n;
      break;
    case 6:
      v.newseed = n;
      break;
    case 7:
      v.restart = n;
      break;
    case 8:
      v.checkmode = n;
      break;
    case 9:
      v.igui = n;
      break;
    case 10:
      v.iarchive = n;
      break;
    case 11:
      v.errestimate = n;
      break;
    case 12:
      v.allelefreest = n;
      break;
    case 13:
      v.showversion = n;
      break;
    case 14:
      v.systemrun = n;
      break;
    case 15:
      v.simuq = n > 0 ? 1 : 0;
      break;
    case 16:
      v.compfsprob = n == 1 ? 1 : 0;
      break;
    case 17:
      v.compdyadprob = n == 1 ? 1 : 0;
      break;
    default:
      break;
  }
}

}  // namespace

void getcommands() {
  auto& v = variables;
  v.inputfilename = "kinrad2.dat";
  v.outputfilename = "";
  v.displayq = v.threadid == 0 ? 1 : 0;
  v.screenq = 1;
  v.runcutshortq = 0;
  v.chkconfig = 0;
  v.newseed = 0;
  v.restart = 1;
  v.checkmode = 0;
  v.igui = 0;
  v.iarchive = 1;
  v.errestimate = 1;
  v.allelefreest = 1;
  v.showversion = 1;
  v.systemrun = 0;
  v.simuq = 0;
  v.compfsprob = 1;
  v.compdyadprob = 1;
  std::array<int4, 17> count{};
  int4 nerror = 0;

  auto reject_value = [&](std::string_view keyword, std::string_view value) {
    ++nerror;
    if (v.displayq == 1) {
      std::string line = "Error in reading parameters from keyboard! Original input: ";
      line += keyword;
      line += ":";
      line += trim(value);
      line += ". The command is ignored!";
      fwrite(std::cout, "(A)", line);
    }
  };

  for (int i = 1; i <= 999; ++i) {
    const std::string raw = get_command_argument(i);
    // An argument is taken as 150 characters; a blank one (also past the last) ends the scan.
    const FString<150> arg(adjustl(FString<150>(raw).view()));
    if (arg.blank()) break;

    int4 k = 0;
    if (arg(4) == ':') {
      for (std::size_t j = 0; j < kKeywords.size(); ++j)
        if (arg.sub(1, 3) == kKeywords[j]) k = static_cast<int4>(j + 1);
    }

    if (k == 0) {
      if (is_help(arg.view())) {
        displayversion();
        write_usage();
        stop_silently();
      }
      ++nerror;
      if (v.displayq == 1 && arg.trimmed() != "?") {
        std::string line = "Run option ";
        line += arg.trimmed();
        line += " unrecognized: ignored!";
        fwrite(std::cout, "(A)", line);
      }
      continue;
    }

    ++count[static_cast<std::size_t>(k - 1)];
    if (count[static_cast<std::size_t>(k - 1)] > 1) {
      // The first occurrence of a keyword wins.
      ++nerror;
      if (v.displayq == 1) {
        std::string line = "Repeated parameter values from keyboard! Original input: ";
        line += arg.trimmed();
        line += ". The command is ignored!";
        fwrite(std::cout, "(A)", line);
      }
      continue;
    }

    const std::string_view keyword = arg.sub(1, 3);
    const FString<146> value(adjustl(arg.sub(5, 150)));

    if (k == 1 || k == 4) {
      // A file name is taken whole: a name cut to the 146 characters above would send the
      // results to a wrong file. One longer than the file-name variables is refused.
      const std::string_view whole = trim_both(trim_both(raw).substr(4));
      if (whole.size() > kFileNameLength) {
        reject_value(keyword, whole);
      } else if (k == 1) {
        v.inputfilename = whole;
      } else {
        v.outputfilename = whole;
      }
    } else if (k == 3) {
      v.runcutshortq = value.trimmed() == "1" ? 1 : 0;
    } else {
      int4 n = 0;
      if (fread_string("(I12)", value.view(), n) != IoStatus::ok) {
        reject_value(keyword, value.view());
      } else {
        apply_integer(k, n);
      }
    }
  }

  // One pause for all rejected arguments, so that their messages can be read.
  if (nerror > 0) pause_until_second_changes();

  if (v.screenq == 1 && v.displayq == 1) {
    v.showq = v.igui == 1 ? 0 : 1;
  } else {
    v.screenq = 0;
    v.showq = 0;
  }
  // Progress lines stay open (no record end) so that they can be overwritten, except for a
  // graphical front end, which reads whole records.
  v.lineform = v.igui == 1 ? "(A)" : "(A,$)";
}

}  // namespace kinrad
