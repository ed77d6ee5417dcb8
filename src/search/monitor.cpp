// What an annealing run shows while it iterates: progress ticks, the monitor lines, the stop
// request through the data copy, and the records of the progress log. Family and pair counts
// are recounted only for a configuration that changed since it was last counted, and only when
// they are shown or logged.
//
// The progress log is appended to over the whole life of a project: each record is built whole
// in memory and appended by one write, so an interrupted run leaves at worst its last record
// missing, never a file replaced by a partial copy.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/clock.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules.hpp"
#include "core/modules/search_work.hpp"
#include "core/random_numbers.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/text_utils.hpp"
#include "core/variables_routines.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

namespace {

// Number of characters of v written "(I12)" and left-adjusted.
int4 digits(int8 v) {
  return static_cast<int4>(trim_both(fwrite_string("(I12)", v)).size());
}

}  // namespace

std::string compact_line(const std::string& line) {
  FString<300> buf{line};
  int4 len = 0;
  cleanstring(buf, len);
  return std::string(buf.view().substr(0, static_cast<std::size_t>(std::max(len, 0))));
}

std::string list_directed_real(real8 x) {
  return std::string(trim_both(fwrite_string("*", x)));
}

std::string progress_log_name() {
  return variables.fname + ".MidResult";
}

// --- Counting full sibs and half sibs --------------------------------------------------------

void findnumfsibship(int4& numfs, FStatic<int4, 1, 2>& pairs, const FStatic<int4, 1, 3>& numfam,
                     int4 mode) {
  auto& v = variables;
  auto& w = search_work;
  const int4 n = v.smplsize;
  const bool hap = v.smplsizedh(1) > 0;
  const auto col = [&](int4 i, int4 c) {
    return mode == 1 ? v.crindivloc(i, c) : v.indivlocprt(i, c);
  };
  const auto haploid = [&](int4 i) { return hap && v.offploid(i) == 1; };
  const auto tally_size = [&](std::size_t m) {
    if (w.count1.size() < m) w.count1.resize(m);
    if (w.count2.size() < m) w.count2.resize(m);
    std::fill(w.count1.begin(), w.count1.begin() + static_cast<std::ptrdiff_t>(m), 0);
    std::fill(w.count2.begin(), w.count2.begin() + static_cast<std::ptrdiff_t>(m), 0);
  };
  int8 maxid = 1, low = 0;
  for (int4 i = 1; i <= n; ++i)
    for (int4 c = 1; c <= 3; ++c) {
      maxid = std::max<int8>(maxid, col(i, c));
      low = std::min<int8>(low, col(i, c));
    }
  const std::size_t m = static_cast<std::size_t>(maxid) + 1;

  if (v.allmonogamy != 0) {
    // Every cluster is one full-sib family; haploid and diploid members pair apart.
    numfs = numfam(3);
    pairs(1) = 0;
    tally_size(m);
    for (int4 i = 1; i <= n; ++i) {
      auto& t = haploid(i) ? w.count2 : w.count1;
      ++t[static_cast<std::size_t>(col(i, 3))];
    }
    int8 ord = 0;
    for (std::size_t k = 0; k < m; ++k)
      ord += static_cast<int8>(w.count1[k]) * (w.count1[k] - 1) +
             static_cast<int8>(w.count2[k]) * (w.count2[k] - 1);
    pairs(2) = static_cast<int4>(ord / 2);
    return;
  }

  // Full-sib families: runs of equal (cluster, parent, parent) keys, the parents of one pool
  // unordered. Each key is packed into one integer (ids lie in [low, m)) with the offspring's
  // ploidy as its lowest digit, so that one sort of plain integers brings each family together.
  if (w.fskeys.size() < static_cast<std::size_t>(n)) w.fskeys.resize(static_cast<std::size_t>(n));
  const auto mm = static_cast<int8>(m) - low;
  for (int4 i = 1; i <= n; ++i) {
    int8 a = col(i, 1) - low, b = col(i, 2) - low;
    if (v.numsex == 1 && a > b) std::swap(a, b);
    const int8 family = ((col(i, 3) - low) * mm + a) * mm + b;
    w.fskeys[static_cast<std::size_t>(i - 1)] = 2 * family + (haploid(i) ? 1 : 0);
  }
  std::sort(w.fskeys.begin(), w.fskeys.begin() + n);
  numfs = 0;
  int8 fsord = 0, hapord = 0;
  for (int4 k = 0; k < n;) {
    int4 e = k;
    int8 d = 0, h = 0;
    const int8 first = w.fskeys[static_cast<std::size_t>(k)] / 2;
    while (e < n && w.fskeys[static_cast<std::size_t>(e)] / 2 == first) {
      ++((w.fskeys[static_cast<std::size_t>(e)] & 1) != 0 ? h : d);
      ++e;
    }
    ++numfs;
    fsord += d * (d - 1) + h * (h - 1);
    hapord += h * (h - 1);
    k = e;
  }

  // Pairs sharing a parent, then the full sibs taken out.
  int8 total = 0;
  tally_size(m);
  if (v.numsex == 2) {
    for (int4 s = 1; s <= 2; ++s) {
      if (numfam(s) < 1) continue;
      std::fill(w.count1.begin(), w.count1.begin() + static_cast<std::ptrdiff_t>(m), 0);
      for (int4 i = 1; i <= n; ++i) {
        if (s == 1 && haploid(i)) continue;
        ++w.count1[static_cast<std::size_t>(col(i, s))];
      }
      for (std::size_t k = 0; k < m; ++k)
        total += static_cast<int8>(w.count1[k]) * (w.count1[k] - 1);
    }
  } else if (numfam(1) >= 1) {
    const bool selfing = v.allowinbreeding == 1;
    for (int4 i = 1; i <= n; ++i) {
      const int4 a = col(i, 1), b = col(i, 2);
      if (selfing && a == b) {
        ++w.count2[static_cast<std::size_t>(a)];
      } else {
        ++w.count1[static_cast<std::size_t>(a)];
        ++w.count1[static_cast<std::size_t>(b)];
      }
    }
    for (std::size_t k = 0; k < m; ++k) {
      const int8 c = w.count1[k], sf = w.count2[k];
      total += c * (c - 1) / 2;
      if (selfing) total += sf * c + sf * (sf - 1);
    }
  }
  const int8 hs = total - (fsord * v.numsex - hapord);
  pairs(1) = static_cast<int4>(hs / v.numsex);
  pairs(2) = static_cast<int4>(fsord / 2);
}

// --- The monitor lines -----------------------------------------------------------------------

std::string outputformat(real8 crlogl) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const std::string t(trim_both(fwrite_string("(F20.2)", crlogl)));
  const std::size_t dot = t.find('.');
  // A score too wide for F20.2 has no point: the widest F20.2 value's point position.
  const int4 p = dot == std::string::npos ? 18 : static_cast<int4>(dot) + 1;
  const std::string w1 = std::to_string(digits(static_cast<int8>(3 - v.numsex) * n));
  const float pairsmax = static_cast<float>(n) * 0.5f * static_cast<float>(n + 1);
  const std::string w2 = std::to_string(digits(std::lround(pairsmax)));
  const std::string hsw = v.allmonogamy != 0 ? "1" : w2;
  std::string f = "(A,ES" + std::to_string(p + 6) + "." + std::to_string(p - 1) + ",3(A,I1,A,I" +
                  w1 + "),A,I" + w1 + ",A,I" + hsw + ",A,I" + w2;
  for (int4 s = 1; s <= 2; ++s) f += ",A,I1,A,I" + std::to_string(digits(v.numcandidate(s)));
  for (int4 s = 1; s <= 2; ++s) f += ",A,I1,A,I" + std::to_string(digits(n));
  return f + ")";
}

std::string monitor_line1(const RunState& rs) {
  const auto& cp = rs.cp;
  return fwrite_string("(A,I3,A,I4,A,I15,3(A,I12),A)", "Run=", rs.runlabel, ", Tmr=", cp.tmr,
                       ", Itr=", cp.numiterate, ", NSucc=", cp.nsucc,
                       ", NSuccLmt=", rs.sched.nsucclmt, ", NFail1=", cp.nfail1, rs.limittext[1]);
}

std::string monitor_line2(const RunState& rs) {
  const auto& cp = rs.cp;
  return fwrite_string("(A,I12,A,4(A,F8.4))", "NFail2=", cp.nfail2, rs.limittext[2],
                       ", SucRate%=", 100.0 * rs.successrate, ", SucLmt%=",
                       100.0 * static_cast<real8>(cp.nsucc) / static_cast<real8>(rs.sched.nsucclmt),
                       ", FailLmt%=", 100.0 * static_cast<real8>(cp.nfail1) / rs.sched.nfaillmt,
                       ", IterLmt%=", 100.0 * static_cast<real8>(cp.itr) / rs.sched.iterlmt);
}

std::string score_line(const RunState& rs, bool best) {
  auto& v = variables;
  const ShownCounts& c = best ? rs.btshown : rs.crshown;
  const auto& nf = best ? v.btnumfamily : v.crnumfamily;
  const auto& na = best ? v.btnumassign : rs.cp.curnumassign;
  return fwrite_string(
      rs.scoreformat, best ? "BtLogL=" : "CrLogL=", best ? v.btloglikelihood : v.crloglikelihood,
      ", #F", 1, "=", nf(1), ", #F", 2, "=", nf(2), ", #F", 3, "=", nf(3), ", #FS=", c.numfs,
      ", HSPair=", c.pairs(1), ", FSPair=", c.pairs(2), ", #AssgnC", 1, "=", na(1), ", #AssgnC", 2,
      "=", na(2), ", #AssgnP", 1, "=", na(3), ", #AssgnP", 2, "=", na(4));
}

std::string date_line() {
  auto& v = variables;
  static constexpr const char* label[4] = {"", "Initiated:D=", "  Started:D=", "  Current:D="};
  std::string s;
  for (int4 k = 1; k <= 3; ++k) {
    const std::string d(v.date2(k).view()), t(v.time2(k).view());
    s += label[k];
    s += d.substr(6, 2) + "/" + d.substr(4, 2) + "/" + d.substr(0, 4) + " T=" + t.substr(4, 2) +
         "/" + t.substr(2, 2) + "/" + t.substr(0, 2);
  }
  return s + ", TotalRunningTime(Min)=" + rtoc(v.timespent(1) + v.timespent(2), "(ES9.2)");
}

namespace {}  // namespace

std::string gui_lines() {
  auto& v = variables;
  auto& av = annealvariables;
  auto& w = search_work;
  const int4 n = v.smplsize;
  const int4 nc = v.crnumfamily(3);
  int4 big = 0;
  for (int4 c = 1; c <= nc; ++c) big = std::max(big, av.clustersizet(c));
  const int4 d1 = digits(big);
  std::string out =
      fwrite_string("(I6, A1, I6, A1, 9999(I" + std::to_string(d1 + 1) + "))", d1, "|", nc, "|",
                    std::span<const int4>(&av.clustersizet(1), static_cast<std::size_t>(nc)));
  // The offspring by ascending cluster id, ascending within a cluster.
  if (static_cast<int4>(w.order.size()) < n) w.order.resize(static_cast<std::size_t>(n));
  for (int4 i = 0; i < n; ++i) w.order[static_cast<std::size_t>(i)] = i + 1;
  std::stable_sort(w.order.begin(), w.order.begin() + n,
                   [&](int4 x, int4 y) { return v.crindivloc(x, 3) < v.crindivloc(y, 3); });
  const int4 d2 = digits(n);
  out += "\n" + fwrite_string("(I6, A1, 9999(I" + std::to_string(d2 + 1) + "))", d2, "|",
                              std::span<const int4>(w.order.data(), static_cast<std::size_t>(n)));
  return out;
}

namespace {

void write_monitor_lines(const RunState& rs) {
  auto& v = variables;
  fwrite(std::cout, "(/A)", compact_line(monitor_line1(rs)));
  fwrite(std::cout, "(A)", compact_line(monitor_line2(rs)));
  fwrite(std::cout, "(A)", compact_line(score_line(rs, false)));
  fwrite(std::cout, "(A)", compact_line(score_line(rs, true)));
  fwrite(std::cout, "(A)", date_line());
  if (v.igui == 1 && v.simuq == 0) fwrite(std::cout, "(A)", gui_lines());
}

// Recounts the shown families and pairs of a configuration that changed.
void refresh_counts(RunState& rs) {
  auto& v = variables;
  if (rs.crshown.recount || rs.crshown.pairs(1) == -1) {
    findnumfsibship(rs.crshown.numfs, rs.crshown.pairs, v.crnumfamily, 1);
    rs.crshown.recount = false;
  }
  if (rs.btshown.recount || rs.btshown.pairs(1) == -1) {
    WindowSave keep;
    v.indivlocprt = v.btindivloc.view();
    findnumfsibship(rs.btshown.numfs, rs.btshown.pairs, v.btnumfamily, 2);
    rs.btshown.recount = false;
  }
  const DateTimeStamp now = date_time_stamp();
  v.date2(3) = now.date;
  v.time2(3) = now.time;
}

}  // namespace

namespace {

// The time-based ticks, one a processor second; true when a monitor step is due.
bool time_ticks(RunState& rs) {
  auto& v = variables;
  rs.monitorcpu = processor_time();
  if (v.displayq != 1) return false;
  if (rs.monitorcpu - rs.lasttick >= 1.0) {
    fwrite(std::cout, v.lineform.trimmed(), "-");
    rs.lasttick = rs.monitorcpu;
  }
  if (rs.monitorcpu - rs.lastmonitor >= v.monitorinterval) {
    rs.lastmonitor = rs.monitorcpu;
    return true;
  }
  return false;
}

}  // namespace

bool log_cadence_step(RunState& rs) {
  ++rs.logcount();
  if (rs.logcount() != rs.lognext()) return false;
  if (rs.cp.progressstep < 100000.0)
    rs.cp.progressstep = std::min(2.0 * rs.cp.progressstep, 100000.0);
  const int8 next = std::llround(static_cast<real8>(rs.lognext()) + rs.cp.progressstep);
  if (next > 2147000000) {
    rs.logcount() = 0;
    rs.lognext() = 100000;
  } else {
    rs.lognext() = static_cast<int4>(next);
  }
  return true;
}

void monitor_step(RunState& rs) {
  auto& v = variables;
  auto& cp = rs.cp;
  bool flag = false;
  if (v.monitormethod == 1) {
    // Reading the processor clock costs far more than an empty iteration; it decides only the
    // display and the checkpoint times, never the search path, so it is read every 64th
    // iteration.
    if ((cp.numiterate & 63) == 0) flag = time_ticks(rs);
  } else if (v.displayq == 1) {
    if (cp.numiterate % rs.tick1 == 0)
      fwrite(std::cout, v.lineform.trimmed(), "+");
    else if (cp.numiterate % rs.tick2 == 0)
      fwrite(std::cout, v.lineform.trimmed(), "-");
    if (v.monitorinterval > 0 && cp.numiterate % v.monitorinterval == 0) flag = true;
  }
  if (v.systemrun + (flag ? 1 : 0) == 2 && !std::filesystem::exists(v.fname + ".data")) {
    fwrite(std::cout, "(/A)", "Program stoped due to deletion of .data file");
    std::cout.flush();
    stop_silently();
  }
  const bool logdue = rs.logcount() + 1 == rs.lognext();
  if (flag || logdue) refresh_counts(rs);
  if (flag || (logdue && v.displayq != 1)) {
    rs.monitorcpu = processor_time();
    v.timespent(2) = (rs.monitorcpu - static_cast<real8>(rs.starttime)) / 60.0;
  }
  if (flag && v.displayq == 1) write_monitor_lines(rs);
  if (log_cadence_step(rs) && cp.numiterate > rs.lastloggediter) writemidresult(rs);
}

// --- The progress log ------------------------------------------------------------------------

void writemidresult(const RunState& rs) {
  auto& v = variables;
  const std::string d(v.date2(3).view()), t(v.time2(3).view());
  const std::string stamp = d.substr(6, 2) + "/" + d.substr(4, 2) + " " + t.substr(4, 2) + "/" +
                            t.substr(2, 2) + "/" + t.substr(0, 2);
  std::string rec = fwrite_string(
      "(A14, 2I4, I14, 2(ES21.12, 10I9))", stamp, v.krun, rs.cp.tmr, rs.cp.numiterate,
      v.crloglikelihood, v.crnumfamily, rs.crshown.numfs, rs.crshown.pairs, rs.cp.curnumassign,
      v.btloglikelihood, v.btnumfamily, rs.btshown.numfs, rs.btshown.pairs, v.btnumassign);
  rec += '\n';
  append_record(progress_log_name(), rec, WriteFailure{"ANNEAL"});
}

void write_progress_log_header() {
  write_replacing(
      progress_log_name(),
      [](std::ostream& out) {
        fwrite(out, "(A14, 2A4, A14, 2(A21, 10A9))", "Stamp", "Run", "Tmr", "NumIterate", "CrLogL",
               "Cr#F1", "Cr#F2", "Cr#F3", "Cr#FS", "CrHSPair", "CrFSPair", "Cr#AssC1", "Cr#AssC2",
               "Cr#AssP1", "Cr#AssP2", "BtLogL", "Bt#F1", "Bt#F2", "Bt#F3", "Bt#FS", "BtHSPair",
               "BtFSPair", "Bt#AssC1", "Bt#AssC2", "Bt#AssP1", "Bt#AssP2");
      },
      WriteFailure{"ANNEAL"});
}

int8 last_logged_iteration() {
  RecordReader in;
  if (!in.open(progress_log_name())) return 0;
  FString<300> header{};
  int8 last = 0;
  if (in.read_list(header) != IoStatus::ok) return 0;
  std::string line;
  while (in.read_line(line) == IoStatus::ok) {
    FString<14> stamp{};
    int4 run = 0, tmr = 0;
    int8 it = 0;
    if (fread_string("(A14, 2I4, I14)", line, stamp, run, tmr, it) != IoStatus::ok) break;
    last = it;
  }
  return last;
}

// --- Random relabelling ----------------------------------------------------------------------

void relabel_families() {
  auto& v = variables;
  auto& w = search_work;
  const int4 n = v.smplsize;
  const int4 k = static_cast<int4>(std::lround(ran2())) + 1;
  const int4 nf = v.crnumfamily(k);
  if (static_cast<int4>(w.pool.size()) < nf + 1) w.pool.resize(static_cast<std::size_t>(nf) + 1);
  if (static_cast<int4>(w.newlabel.size()) < nf + 1)
    w.newlabel.resize(static_cast<std::size_t>(nf) + 1);
  for (int4 i = 1; i <= nf; ++i) w.pool[static_cast<std::size_t>(i)] = i;
  // Drawing without replacement: the drawn entry is replaced by the last of the pool.
  for (int4 i = 1; i <= nf; ++i) {
    const int4 m = nf - i + 1;
    const int4 r = static_cast<int4>(m * ran2() + 1.0);
    w.newlabel[static_cast<std::size_t>(i)] = w.pool[static_cast<std::size_t>(r)];
    w.pool[static_cast<std::size_t>(r)] = w.pool[static_cast<std::size_t>(m)];
  }
  const int4 c0 = v.numsex == 1 ? 1 : k;
  const int4 c1 = v.numsex == 1 ? 2 : k;
  for (int4 c = c0; c <= c1; ++c)
    for (int4 i = 1; i <= n; ++i)
      v.crindivloc(i, c) = w.newlabel[static_cast<std::size_t>(v.crindivloc(i, c))];
  annealvariables.lastfamilyid(1) = 0;
  annealvariables.lastfamilyid(2) = 0;
}

}  // namespace kinrad
