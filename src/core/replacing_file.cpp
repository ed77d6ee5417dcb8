#include "core/replacing_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"

namespace kinrad {

namespace {

// A directory of the temporary's name is not ours to remove.
void remove_temporary(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) std::filesystem::remove(path, ec);
}

// The largest length a 4-byte record marker holds.
constexpr std::size_t max_marker = 2147483647;

// An output stream buffer that appends to the writer's buffer (which drains itself).
class AppendBuf : public std::streambuf {
 public:
  explicit AppendBuf(ReplacingFile& file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      const char ch = traits_type::to_char_type(c);
      file_.put(std::string_view(&ch, 1));
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    file_.put(std::string_view(s, static_cast<std::size_t>(n)));
    return n;
  }

 private:
  ReplacingFile& file_;
};

}  // namespace

std::string replacing_temporary(const std::string& path) {
  // The process number keeps two processes writing one name from sharing a temporary.
  return path + "." + std::to_string(::getpid()) + ".part";
}

ReplacingFile::ReplacingFile(std::string path, const WriteFailure& failure)
    : path_(std::move(path)), temporary_(replacing_temporary(path_)), failure_(failure) {
  file_ = std::fopen(temporary_.c_str(), "wb");
  if (file_ == nullptr) fail(failure_.open_prefix);
  owns_temporary_ = true;
  buf_.reserve(chunk + chunk / 4);
}

ReplacingFile::~ReplacingFile() {
  if (!committed_) close_and_remove();
}

void ReplacingFile::close_and_remove() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  // Only a temporary this object created is removed: when the open failed, whatever stands
  // under the temporary's name was not made here.
  if (owns_temporary_) remove_temporary(temporary_);
  owns_temporary_ = false;
}

void ReplacingFile::fail(std::string_view prefix) {
  close_and_remove();
  committed_ = true;  // nothing left for the destructor
  set_error_line(1, error_line(prefix, path_));
  stoponerror(1, failure_.routine);
}

void ReplacingFile::put_bytes(const char* p, std::size_t n) {
  if (n == 0) return;
  if (std::fwrite(p, 1, n, file_) != n) fail(failure_.write_prefix);
}

void ReplacingFile::drain() {
  put_bytes(buf_.data(), buf_.size());
  buf_.clear();
}

void ReplacingFile::put_record() {
  auto marker = [&](std::size_t n, bool negative) {
    const auto len = static_cast<std::int32_t>(n);
    const std::int32_t m = negative ? -len : len;
    buf_.append(reinterpret_cast<const char*>(&m), sizeof m);
  };
  const std::size_t limit = max_subrecord_ < max_marker ? max_subrecord_ : max_marker;
  const std::size_t total = record_.size();
  std::size_t at = 0;
  bool first = true;
  do {
    const std::size_t n = total - at > limit ? limit : total - at;
    const bool last = at + n == total;
    marker(n, !last);
    if (n >= chunk) {
      // A large record goes to the file directly rather than through a second copy.
      drain();
      put_bytes(record_.data() + at, n);
    } else {
      buf_.append(record_.data() + at, n);
    }
    marker(n, !first);
    drain_if_full();
    at += n;
    first = false;
  } while (at < total);
}

std::ostream& ReplacingFile::stream() {
  if (!stream_) {
    streambuf_ = std::make_unique<AppendBuf>(*this);
    stream_ = std::make_unique<std::ostream>(streambuf_.get());
  }
  return *stream_;
}

void ReplacingFile::commit() {
  if (committed_) return;
  drain();
  const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) fail(failure_.write_prefix);
  std::error_code ec;
  std::filesystem::rename(temporary_, path_, ec);
  if (ec) fail(failure_.write_prefix);
  committed_ = true;
}

void write_replacing(const std::string& path, const std::function<void(std::ostream&)>& writer,
                     const WriteFailure& failure) {
  ReplacingFile out(path, failure);
  writer(out.stream());
  out.commit();
}

void write_replacing_unformatted(const std::string& path,
                                 const std::function<void(ReplacingFile&)>& writer,
                                 const WriteFailure& failure) {
  ReplacingFile out(path, failure);
  writer(out);
  out.commit();
}

void append_record(const std::string& path, std::string_view record, const WriteFailure& failure) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    set_error_line(1, error_line(failure.open_prefix, path));
    stoponerror(1, failure.routine);
  }
  // The length before this record: what a failed append is cut back to.
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
  bool written = true;
  for (std::size_t at = 0; at < record.size();) {
    const ssize_t n = ::write(fd, record.data() + at, record.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      written = false;
      break;
    }
    at += static_cast<std::size_t>(n);
  }
  if (!written && sized) {
    while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
    }
  }
  const bool closed = ::close(fd) == 0;
  if (written && !closed && sized) ::truncate(path.c_str(), before.st_size);
  if (!written || !closed) {
    set_error_line(1, error_line(failure.write_prefix, path));
    stoponerror(1, failure.routine);
  }
}

void remove_stem_temporaries(const std::string& stem) {
  namespace fs = std::filesystem;
  const fs::path stem_path(stem);
  const std::string base = stem_path.filename().string();
  if (base.empty()) return;
  const fs::path folder = stem_path.has_parent_path() ? stem_path.parent_path() : fs::path(".");
  // Moves `at` over a run of digits (or of letters, digits and underscores); true when the run
  // is not empty.
  auto word = [](std::string_view s, std::size_t& at, bool digits) {
    auto fits = [&](char c) {
      const auto u = static_cast<unsigned char>(c);
      return digits ? std::isdigit(u) != 0 : std::isalnum(u) != 0 || c == '_';
    };
    const std::size_t from = at;
    while (at < s.size() && fits(s[at])) ++at;
    return at > from;
  };
  // rest: what follows the stem, ".<suffix>[.Run<k>].<pid>.part".
  auto is_temporary = [&](std::string_view rest) {
    constexpr std::string_view tail = ".part";
    if (!rest.ends_with(tail)) return false;
    rest.remove_suffix(tail.size());
    std::size_t at = 0;
    if (at >= rest.size() || rest[at++] != '.' || !word(rest, at, false)) return false;
    if (rest.substr(at).starts_with(".Run")) {
      std::size_t run = at + 4;
      if (word(rest, run, true) && run < rest.size() && rest[run] == '.') at = run;
    }
    if (at >= rest.size() || rest[at++] != '.' || !word(rest, at, true)) return false;
    return at == rest.size();
  };
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(base) || !is_temporary(std::string_view(name).substr(base.size())))
      continue;
    std::error_code kind;
    if (it->is_directory(kind)) continue;
    stale.push_back(it->path());
  }
  for (const fs::path& p : stale) fs::remove(p, ec);
}

}  // namespace kinrad
