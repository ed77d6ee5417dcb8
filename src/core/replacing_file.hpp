#pragma once
// Result, checkpoint and cache files are never replaced by a half-written copy: the new
// contents go to a temporary name beside the file, the stream is checked when it is closed,
// and only then is the temporary renamed over the old file. A failure removes the temporary,
// leaves the old file as it was, and ends the program through the error stop.
//
// Usage (open, write, commit):
//
//   ReplacingFile out(v.fname + ".PairCluster", WriteFailure{"PairwiseInference"});
//   out.write("(A)", header);              // fwrite with a verbatim format: one or more lines
//   out.put(text);                         // bytes as given (rows built by the field editors)
//   out.write_record(n, table);            // or unformatted records, framed as gfortran does
//   out.commit();                          // flush, check, close, rename over the old file
//
// The constructor opens the temporary beside the file (replacing_temporary; failing: the error
// stop with the open message); a failed write, close or rename is the error stop with the write
// message. An object destroyed before its commit (a stop unwinding through the writer, a file
// the caller decides not to keep) removes its temporary. Output goes through a reused buffer
// drained in large chunks, so a file of gigabytes streams through it; several may be open at
// once.
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/format_write.hpp"
#include "core/unformatted_file.hpp"

namespace kinrad {

// What the error stop says when a replacing write fails: the first error line is the prefix
// followed by the file's name; `routine` is the name the stop reports.
struct WriteFailure {
  std::string_view routine;
  std::string_view open_prefix = "Failed openning ";
  std::string_view write_prefix = "Failed writing ";
};

// The temporary name a replacing write uses for `path`: beside it, and this process's own.
std::string replacing_temporary(const std::string& path);

class ReplacingFile {
 public:
  // Opens the temporary of `path`; the error stop when it cannot be created.
  ReplacingFile(std::string path, const WriteFailure& failure);
  // Removes the temporary unless the file was committed.
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // The file's real name (what the error lines say).
  const std::string& path() const { return path_; }

  // Formatted records under a verbatim format, each ended by '\n'.
  template <class... A>
  void write(std::string_view fmt, const A&... items) {
    FormatWriter w(fmt, buf_);
    (detail::write_item(w, items), ...);
    w.finish();
    drain_if_full();
  }

  // Bytes as given.
  void put(std::string_view text) {
    buf_.append(text);
    drain_if_full();
  }

  // One unformatted sequential record holding the items' bytes in order.
  template <class... A>
  void write_record(const A&... items) {
    record_.clear();
    (detail::put_raw(record_, items), ...);
    put_record();
  }

  // A stream over the same buffer, for writers built on std::ostream.
  std::ostream& stream();

  // Flushes, checks, closes and renames the temporary over the file; the error stop on failure.
  void commit();

  // Records larger than this are split into subrecords (tests lower it).
  void set_max_subrecord(std::size_t bytes) { max_subrecord_ = bytes > 0 ? bytes : 1; }

 private:
  static constexpr std::size_t chunk = std::size_t{1} << 20;

  void drain_if_full() {
    if (buf_.size() >= chunk) drain();
  }
  void drain();
  void put_bytes(const char* p, std::size_t n);
  void put_record();
  [[noreturn]] void fail(std::string_view prefix);
  void close_and_remove();

  std::string path_;
  std::string temporary_;
  WriteFailure failure_;
  std::FILE* file_ = nullptr;
  bool owns_temporary_ = false;
  bool committed_ = false;
  std::size_t max_subrecord_ = UnformattedWriter::default_max_subrecord;
  std::string buf_;
  std::vector<char> record_;
  std::unique_ptr<std::streambuf> streambuf_;
  std::unique_ptr<std::ostream> stream_;
};

// Writes a text file (bytes as given, no newline translation) through `writer`.
void write_replacing(const std::string& path, const std::function<void(std::ostream&)>& writer,
                     const WriteFailure& failure);

// Writes an unformatted sequential file through `writer`.
void write_replacing_unformatted(const std::string& path,
                                 const std::function<void(ReplacingFile&)>& writer,
                                 const WriteFailure& failure);

// Appends one whole record to a log that grows over a run (the search's progress log): a log is
// extended, not replaced, so it has no temporary; a record that cannot be written in full ends
// in the error stop like any failed write, never in a silently shorter log, and the part of it
// that was written is cut off again first, so that the log still ends in a whole record (the
// next analysis appends its own after it).
void append_record(const std::string& path, std::string_view record, const WriteFailure& failure);

// Removes every temporary of a replacing write of the stem's files that an analysis ended by a
// kill or a crash left behind: "<stem><suffix>.<pid>.part", the suffix being a point and one
// word (".BestConfig", ".MidResult2"), or a per-run copy's (".MidResult2.Run3"). Called once
// the stem's lock is held, when no temporary of the stem can belong to a running analysis;
// files of other stems (a stem that only begins like this one) are left alone.
void remove_stem_temporaries(const std::string& stem);

}  // namespace kinrad
