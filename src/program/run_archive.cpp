// Per-run copies of the archive file and the choice of the best run. After every run of a
// multi-run analysis the archive file is copied to "<archive>.Run<k>"; after the last run the
// first value of each copy (the run's best log likelihood: the archive is sorted) picks the
// best run, whose archive replaces the one in memory unless it is the last run's own. The head
// of the archive then becomes the best configuration the results are written from.
//
// Copies are read value by value (list-directed), so the layout of the file they came from
// does not matter: the archive file splits long columns over several records, a copy writes
// one column per line. A configuration cut off at the end of a file is dropped; a reload
// replaces the archive only when at least one whole configuration was read.
#include "program/run_archive.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "configuration/configuration.hpp"
#include "core/format_write.hpp"
#include "core/keep_value.hpp"
#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/variables_routines.hpp"

namespace kinrad {

namespace {

// Offspring columns of a configuration in the files: the paternal families alone when both
// sexes are monogamous (they are the clusters), else paternal, maternal families and clusters.
int4 offspring_columns() {
  const auto& v = variables;
  return (v.allmonogamy == 1 && v.numsex == 2) ? 1 : 3;
}

// Columns of a configuration in the files: the offspring columns, then the parent column of
// each sex with candidates.
int4 file_columns() {
  const auto& v = variables;
  int4 k = offspring_columns();
  for (int4 s = 1; s <= 2; ++s)
    if (v.numcandidate(s) >= 1) ++k;
  return k;
}

std::string archive_name() {
  return std::string(trim(variables.midfilename(2).view()));
}

std::string copy_name(int4 krun) {
  return archive_name() + ".Run" + itoc(krun);
}

// One configuration as the files hold it: its log likelihood and its columns back to back
// (file_columns() x smplsize values).
struct FileConfiguration {
  real8 logl = 0.0;
  std::vector<int4> values;
  const int4* column(int4 k) const {
    return values.data() +
           static_cast<std::size_t>(k) * static_cast<std::size_t>(variables.smplsize);
  }
};

// Reads the next configuration; false at the end of the file or at a value that cannot be
// read (what was read of a cut-off configuration is not used).
bool read_configuration(RecordReader& in, FileConfiguration& c) {
  const int4 n = variables.smplsize;
  const int4 ncol = file_columns();
  if (in.read_list(c.logl) != IoStatus::ok) return false;
  c.values.resize(static_cast<std::size_t>(ncol) * static_cast<std::size_t>(n));
  for (int4 k = 0; k < ncol; ++k) {
    std::span<int4> col(c.values.data() + static_cast<std::size_t>(k) * n,
                        static_cast<std::size_t>(n));
    if (in.read_list(col) != IoStatus::ok) return false;
  }
  return true;
}

// One line of n values, each followed by a comma.
void append_line(std::string& out, const int4* x, int4 n) {
  char buf[16];
  for (int4 i = 0; i < n; ++i) {
    const auto r = std::to_chars(buf, buf + sizeof buf, x[i]);
    out.append(buf, r.ptr);
    out += ',';
  }
  out += '\n';
}

// The first value of a run's copy; false when the copy is missing or has none. Only the head of
// the copy is read: copies of large archives run to hundreds of megabytes.
bool first_value(int4 krun, real8& value) {
  std::ifstream in(copy_name(krun), std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Record ends and blanks only separate values.
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    return read_list_string(line, value) == IoStatus::ok;
  }
  return false;
}

// A list of archive records, owned until it is handed to the archive.
struct RecordList {
  Config* head = nullptr;
  Config* tail = nullptr;
  RecordList() = default;
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;
  ~RecordList() {
    while (head != nullptr) {
      Config* next = head->next;
      delete head;
      head = next;
    }
  }
  void append(Config* c) {
    if (tail == nullptr) {
      head = c;
    } else {
      tail->next = c;
    }
    tail = c;
  }
};

// The record of one configuration read from a copy, made by newconfig.
Config* encode(const FileConfiguration& c, FArray<int4, 2>& loc, FArray<int4, 2>& par) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 noff = offspring_columns();
  for (int4 i = 0; i < n; ++i) {
    loc(i + 1, 1) = c.column(0)[i];
    loc(i + 1, 2) = c.column(noff == 1 ? 0 : 1)[i];
    loc(i + 1, 3) = c.column(noff - 1)[i];
  }
  int4 k = noff;
  for (int4 s = 1; s <= 2; ++s) {
    const int4* p = v.numcandidate(s) >= 1 ? c.column(k++) : nullptr;
    for (int4 i = 0; i < n; ++i) par(i + 1, s) = p != nullptr ? p[i] : 0;
  }
  // The number of clusters: the largest value of the last offspring column.
  const int4* last = c.column(noff - 1);
  const int4 nclust = *std::max_element(last, last + n);
  real8 logl = c.logl;
  const auto saved_loc = v.indivlocprt;
  const auto saved_par = v.inferparentprt;
  const auto saved_logl = v.loglikelihoodprt;
  v.indivlocprt = loc.view();
  v.inferparentprt = par.view();
  v.loglikelihoodprt = &logl;
  newconfig(nclust);
  v.indivlocprt = saved_loc;
  v.inferparentprt = saved_par;
  v.loglikelihoodprt = saved_logl;
  Config* out = v.configptr;
  v.configptr = nullptr;
  return out;
}

// The whole configurations of a run's copy as records, in file order.
void read_copy(int4 krun, RecordList& list) {
  const int4 n = variables.smplsize;
  RecordReader in;
  if (!in.open(copy_name(krun))) return;
  FArray<int4, 2> loc(Dim(n), Dim(3));
  FArray<int4, 2> par(Dim(n), Dim(2));
  FileConfiguration c;
  while (read_configuration(in, c)) list.append(encode(c, loc, par));
}

// The archive file rewritten from the records, in the layout of a copy.
void write_archive_file(const Config* head) {
  auto& v = variables;
  const int4 n = v.smplsize;
  const int4 noff = offspring_columns();
  ReplacingFile out(archive_name(), WriteFailure{"SelectRun"});
  KeepValue keep(v.crrtconfig);
  std::string line;
  for (const Config* c = head; c != nullptr; c = c->next) {
    v.crrtconfig = const_cast<Config*>(c);
    real8 logl = 0.0;
    convertconfig(1, logl);
    out.write("(ES30.20)", logl);
    line.clear();
    for (int4 k = 1; k <= noff; ++k) append_line(line, &v.offtgt(1, k), n);
    for (int4 s = 1; s <= 2; ++s)
      if (v.numcandidate(s) >= 1) append_line(line, &v.prnttgt(1, s), n);
    out.put(line);
  }
  out.commit();
}

// The head of the archive as the best configuration.
void best_from_head() {
  auto& v = variables;
  const int4 n = v.smplsize;
  v.crrtconfig = v.confighead;
  convertconfig(1, v.btloglikelihood);
  for (int4 k = 1; k <= 3; ++k) {
    // The counts follow the configuration: those of the last run would misstate a reloaded one.
    v.btnumfamily(k) = 0;
    for (int4 i = 1; i <= n; ++i) {
      v.btindivloc(i, k) = v.offtgt(i, k);
      v.btnumfamily(k) = std::max(v.btnumfamily(k), v.offtgt(i, k));
    }
  }
  // One parent pool: the two columns share one id space, and both counts are its size, as the
  // search keeps them.
  if (v.numsex == 1)
    v.btnumfamily(1) = v.btnumfamily(2) = std::max(v.btnumfamily(1), v.btnumfamily(2));
  for (int4 s = 1; s <= 2; ++s)
    for (int4 i = 1; i <= n; ++i) v.btinferparent(i, s) = v.prnttgt(i, s);
}

}  // namespace

void savearchive(int4 krun) {
  RecordReader in;
  if (!in.open(archive_name())) return;
  const int4 ncol = file_columns();
  const int4 n = variables.smplsize;
  ReplacingFile out(copy_name(krun), WriteFailure{"SaveArchive"});
  std::vector<int4> col(static_cast<std::size_t>(n));
  std::string line;
  // Each value is written as soon as it is read whole: a copy ends where the archive file stops
  // being readable.
  real8 logl = 0.0;
  while (in.read_list(logl) == IoStatus::ok) {
    out.write("(ES30.20)", logl);
    bool whole = true;
    for (int4 k = 0; k < ncol && whole; ++k) {
      whole = in.read_list(std::span<int4>(col)) == IoStatus::ok;
      if (!whole) break;
      line.clear();
      append_line(line, col.data(), n);
      out.put(line);
    }
    if (!whole) break;
  }
  out.commit();
}

void selectrun(int4& firstq) {
  auto& v = variables;
  if (v.numrun >= 2 && firstq >= 0) {
    real8 best = -1e300;
    int4 chosen = 0;
    for (int4 k = 1; k <= v.numrun; ++k) {
      real8 value = 0.0;
      // A missing copy, or one without a readable first value, ends the scan.
      if (!first_value(k, value)) break;
      if (value > best) {
        best = value;
        chosen = k;
      }
    }
    if (chosen >= 1 && chosen != v.numrun) {
      RecordList list;
      read_copy(chosen, list);
      if (list.head != nullptr) {
        archiveconfigremoveall();
        v.confighead = list.head;
        v.configtail = list.tail;
        list.head = list.tail = nullptr;
        if (v.threadid == 0) write_archive_file(v.confighead);
      }
    }
  }
  // An empty archive leaves the run's own best configuration standing.
  if (v.confighead != nullptr) best_from_head();
}

}  // namespace kinrad
