// The checkpoint writer: the search state (".MidResult2"), the archive (".MidResult3") and the
// scores and precision settings (".MidResult5"). Every file is written to a temporary name,
// checked and renamed over the old one, so that a later restore never meets half a file.
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <system_error>

#include "configuration/configuration.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/variables.hpp"
#include "core/replacing_file.hpp"
#include "core/variables_routines.hpp"

namespace kinrad {

namespace {

const WriteFailure save_failure{"SaveMidResult"};

// An 8-byte counter as text: written in 20 columns and left-adjusted, trimmed.
std::string i8toc(int8 x) {
  return std::string(trim_both(fwrite_string("(I20)", x)));
}

std::span<const int4> column(const FArray<int4, 2>& a, int4 k, int4 n) {
  return {&a(1, k), static_cast<std::size_t>(n)};
}

// Columns first..first + ncol - 1 of a, as the window the column writer reads.
FView<int4, 2> columns(FArray<int4, 2>& a, int4 first, int4 ncol) {
  return FView<int4, 2>(&a(1, first), {Dim(1, a.size(1)), Dim(1, ncol)});
}

// Characters of x as decimal text.
int4 digits(int4 x) {
  return static_cast<int4>(itoc(x).size());
}

// The width of the configuration columns: one more than the longest value written with it, so
// that every value keeps a blank before it. The candidate counts take part because an id can
// never exceed them; with dense ids the longest value is then the largest one.
int4 column_width() {
  const auto& v = variables;
  const int4 n = v.smplsize;
  int4 w = std::max(digits(v.numcandidate(1)), digits(v.numcandidate(2)));
  for (const FArray<int4, 2>* a : {&v.crindivloc, &v.btindivloc})
    for (int4 k = 1; k <= 3; ++k)
      for (int4 i = 1; i <= n; ++i) w = std::max(w, digits((*a)(i, k)));
  for (const FArray<int4, 2>* a : {&v.inferparent, &v.btinferparent})
    for (int4 k = 1; k <= 2; ++k)
      for (int4 i = 1; i <= n; ++i) w = std::max(w, digits((*a)(i, k)));
  return w + 1;
}

void write_state(std::ostream& out, const CheckpointRunState& st) {
  const auto& v = variables;
  const int4 n = v.smplsize;
  fwrite(out, "*", n);
  const std::string fmt =
      "(100I" + std::string(trim_both(fwrite_string("(I8)", column_width()))) + ")";
  auto configuration = [&](const FArray<int4, 2>& loc, const FArray<int4, 2>& prnt) {
    for (int4 k = 1; k <= 3; ++k) fwrite(out, fmt, column(loc, k, n));
    for (int4 k = 1; k <= 2; ++k) fwrite(out, fmt, column(prnt, k, n));
  };
  configuration(v.crindivloc, v.inferparent);
  fwrite(out, "*");
  configuration(v.btindivloc, v.btinferparent);

  std::string r;
  r += rtoc(v.crloglikelihood, "(ES28.18)") + ",";
  r += rtoc(v.btloglikelihood, "(ES28.18)") + ",";
  r += rtoc(st.temperature, "(ES20.10)") + ",";
  r += rtoc(st.withinfactor, "(ES20.10)") + ",";
  r += itoc(v.krun) + ",";
  r += i8toc(st.numiterate) + ",";
  r += itoc(st.monitorword) + ",";
  r += i8toc(st.nsucc) + ",";
  r += i8toc(st.newbestcount) + ",";
  r += i8toc(st.nfail1) + ",";
  r += i8toc(st.nfail2) + ",";
  r += i8toc(st.itr) + ",";
  r += itoc(st.tmr) + ",";
  r += rtoc(annealvariables.rate, "(F10.6)") + ",";
  r += itoc(v.idum3) + ",";
  r += itoc(v.idum2) + ",";
  for (int4 k = 1; k <= 32; ++k) r += itoc(v.idumiv(k)) + ",";
  r += itoc(v.idumiy);
  fwrite(out, "(/A)", r);

  r.clear();
  for (int4 c : st.monitorcounters) r += itoc(c) + ",";
  for (int4 c : st.progresslog) r += itoc(c) + ",";
  r += rtoc(st.progressstep, "(ES18.10)");
  fwrite(out, "(99A)", r, ",", v.date2(1), ",", v.time2(1), ",",
         rtoc(v.timespent(1) + v.timespent(2), "(ES20.10)"));

  if (v.updateallelefre == 1) {
    const std::string ffmt = "(" + itoc(v.maxobsnumallele) + "ES16.8)";
    for (int4 l = 1; l <= v.numloci; ++l) {
      const int4 k = v.obsnumallele(l);
      fwrite(out, ffmt,
             std::span<const real8>(k > 0 ? &v.obsallelefre(l).a(1) : nullptr,
                                    static_cast<std::size_t>(std::max(k, 0))));
    }
  }
  fwrite(out, "(ES18.10)", v.inbreeding);
  if (v.numsex == v.allowinbreeding || v.updateallelefre == 1) fwrite(out, "*", st.updatecount);
  fwrite(out, "(A)", itoc(st.acceptrun) + "," + itoc(st.bestrun));

  const bool weights = st.moveweight.allocated();
  r.clear();
  for (int4 i = 1; i <= n; ++i) {
    // Weights not yet set stand at their start value.
    for (int4 s = 1; s <= 2; ++s) r += itoc(weights ? st.moveweight(i, s) : 1000) + ",";
    if (i % 10 == 0 || i == n) {
      fwrite(out, "(A)", r);
      r.clear();
    }
  }
  fwrite(out, "(ES20.12)", st.newbestdiff, st.maxbestgain);
}

void write_archive(std::ostream& out) {
  auto& v = variables;
  const bool onecolumn = v.allmonogamy == 1 && v.numsex == 2;
  std::string r;
  for (Config* c = v.confighead; c != nullptr; c = c->next) {
    v.crrtconfig = c;
    real8 logl = 0.0;
    convertconfig(1, logl);
    fwrite(out, "(ES30.20)", logl);
    r.clear();
    v.indivlocprt = columns(v.offtgt, 1, onecolumn ? 1 : 3);
    writeintvector(r);
    for (int4 s = 1; s <= 2; ++s) {
      if (v.numcandidate(s) <= 0) continue;
      v.indivlocprt = columns(v.prnttgt, s, 1);
      writeintvector(r);
    }
    out << r;
  }
}

void write_scores(std::ostream& out, const CheckpointRunState& st) {
  const auto& v = variables;
  fwrite(out, "(3ES30.20)", st.prescreenpass, st.prescreencount, st.lociscale);
  fwrite(out, "(2ES30.20)", std::span<const real8>(st.prescreencounts));
  fwrite(out, "(I3, 2ES30.20)", v.likelihoodprecision, v.prec1, v.prec3);
}

std::string file_name(int4 k) {
  return std::string(trim(variables.midfilename(k).view()));
}

}  // namespace

void writeintvector(std::string& out) {
  const auto& v = variables;
  const auto& w = v.indivlocprt;
  const int4 n = v.smplsize;
  std::string line;
  line.reserve(1000);
  for (index_t k = w.lbound(2); k <= w.ubound(2); ++k) {
    for (int4 i = 1; i <= n; ++i) {
      line += itoc(w(i, k));
      line += ',';
      if (line.size() >= 992 || i == n) {
        out += line;
        out += '\n';
        line.clear();
      }
    }
  }
}

void savemidresult(CheckpointRunState& st) {
  auto& v = variables;
  if (v.threadid != 0) return;
  write_replacing(
      file_name(1), [&](std::ostream& out) { write_state(out, st); }, save_failure);
  const std::string archive = file_name(2);
  if (st.archivesuppress == 0 && st.archivechanged != 0) {
    // An archive that emptied is written empty too: the old file would hand configurations the
    // run no longer holds to the next restore and to the per-run copies.
    const WindowScope keep_loc(v.indivlocprt);
    write_replacing(
        archive, [](std::ostream& out) { write_archive(out); }, save_failure);
    st.archivechanged = 0;
  }
  std::error_code ec;
  if (!std::filesystem::exists(archive, ec))
    write_replacing(
        archive, [](std::ostream&) {}, save_failure);
  write_replacing(
      file_name(4), [&](std::ostream& out) { write_scores(out, st); }, save_failure);
}

}  // namespace kinrad
