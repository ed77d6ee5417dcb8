#include "core/record_reader.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

namespace kinrad {
namespace detail {
namespace {

// Blanks, tabs and stray CR or LF characters all separate values.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool ends_value(char c) {
  return is_blank(c) || c == ',' || c == '/';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

void ListScanner::start(const char* base, const RecordSpan* recs, std::size_t nrec,
                        std::size_t first, std::string* scratch, bool strict) {
  base_ = base;
  recs_ = recs;
  nrec_ = nrec;
  scratch_ = scratch;
  comma_seen_ = true;
  at_start_ = true;
  repeat_left_ = 0;
  repeat_null_ = false;
  value_ = {};
  token_ = {};
  quoted_ = false;
  done_ = false;
  strict_ = strict;
  status_ = IoStatus::ok;
  if (!load_record(first)) {
    done_ = true;
    status_ = IoStatus::end;
  }
}

bool ListScanner::load_record(std::size_t r) {
  if (r >= nrec_) return false;
  rec_ = r;
  pos_ = recs_[r].begin;
  end_ = recs_[r].end;
  return true;
}

// A "/" at the scanner's position ends the statement, except that for a text item it begins
// an unquoted value (a path such as "/data/x" or "//host/x") unless a blank, a comma or the
// record end follows it.
bool ListScanner::slash_ends(bool text_item) const {
  if (at_eor() || peek() != '/') return false;
  if (!text_item || pos_ + 1 >= end_) return true;
  const char after = base_[pos_ + 1];
  return is_blank(after) || after == ',';
}

ListScanner::Next ListScanner::next(bool text_item) {
  if (done_) return Next::stop;
  const Next k = scan(text_item);
  if (strict_ && (k == Next::null || (k == Next::stop && status_ == IoStatus::ok))) {
    if (k == Next::null) {
      done_ = true;
      if (!repeat_null_) token_ = {};  // a null between commas has no text
    } else {
      token_ = "/";
    }
    status_ = IoStatus::error;
    return Next::stop;
  }
  return k;
}

ListScanner::Next ListScanner::scan(bool text_item) {
  if (repeat_left_ > 0) {
    --repeat_left_;
    return repeat_null_ ? Next::null : Next::value;
  }
  repeat_null_ = false;
  for (;;) {
    while (!at_eor() && is_blank(peek())) ++pos_;
    if (at_eor()) {
      if (!load_record(rec_ + 1)) {
        done_ = true;
        status_ = IoStatus::end;
        return Next::stop;
      }
      // A statement's leading comma is a null value only in its first record: once a record
      // end has been crossed before any value, the comma joins that separator.
      if (at_start_) comma_seen_ = false;
      continue;
    }
    const char c = peek();
    if (c == ',') {
      ++pos_;
      if (comma_seen_) {
        // Second comma of one separator: a null value, and this comma separates it from
        // the next value.
        at_start_ = false;
        return Next::null;
      }
      comma_seen_ = true;
      continue;
    }
    if (c == '/' && slash_ends(text_item)) {
      done_ = true;
      return Next::stop;
    }
    break;
  }
  at_start_ = false;
  comma_seen_ = false;
  return read_value(text_item);
}

ListScanner::Next ListScanner::read_value(bool text_item) {
  const std::size_t token_begin = pos_;
  auto fail_here = [&] {
    while (!at_eor() && !ends_value(peek())) ++pos_;
    token_ = std::string_view(base_ + token_begin, pos_ - token_begin);
    done_ = true;
    status_ = IoStatus::error;
    return Next::stop;
  };

  // A repeat count: digits followed by "*".
  long count = 1;
  std::size_t p = pos_;
  while (p < end_ && is_digit(base_[p])) ++p;
  if (p > pos_ && p < end_ && base_[p] == '*') {
    long r = 0;
    for (std::size_t k = pos_; k < p; ++k) {
      r = r * 10 + (base_[k] - '0');
      if (r > std::numeric_limits<int>::max()) return fail_here();
    }
    if (r == 0) return fail_here();
    count = r;
    pos_ = p + 1;
    if (at_eor() || is_blank(peek()) || peek() == ',' || slash_ends(text_item)) {
      token_ = std::string_view(base_ + token_begin, pos_ - token_begin);
      repeat_null_ = true;
      repeat_left_ = count - 1;
      return Next::null;
    }
  }

  if (text_item && (peek() == '\'' || peek() == '"')) {
    if (!read_quoted(peek(), token_begin)) return Next::stop;
    quoted_ = true;
    token_ = value_;
  } else {
    const std::size_t v = pos_;
    while (!at_eor() && !is_blank(peek()) && peek() != ',' && (text_item || peek() != '/')) ++pos_;
    value_ = std::string_view(base_ + v, pos_ - v);
    quoted_ = false;
    token_ = std::string_view(base_ + token_begin, pos_ - token_begin);
  }
  repeat_left_ = count - 1;
  return Next::value;
}

// Reads a quoted value starting at its opening quote. The value is a view of the record
// when it can be; doubled quotes and record ends inside need the scratch copy.
bool ListScanner::read_quoted(char quote, std::size_t token_begin) {
  const std::size_t start_rec = rec_;
  ++pos_;
  std::size_t seg = pos_;
  bool built = false;
  auto keep = [&](std::size_t to) {
    if (!built) scratch_->clear();
    scratch_->append(base_ + seg, to - seg);
    built = true;
  };
  for (;;) {
    if (at_eor()) {
      keep(pos_);
      // A file ending inside the quotes ends the value there.
      if (!load_record(rec_ + 1)) {
        value_ = *scratch_;
        return true;
      }
      seg = pos_;
      continue;
    }
    if (peek() != quote) {
      ++pos_;
      continue;
    }
    if (pos_ + 1 < end_ && base_[pos_ + 1] == quote) {
      keep(pos_ + 1);
      pos_ += 2;
      seg = pos_;
      continue;
    }
    if (built) {
      keep(pos_);
      value_ = *scratch_;
    } else {
      value_ = std::string_view(base_ + seg, pos_ - seg);
    }
    ++pos_;
    if (!at_eor() && !ends_value(peek())) {
      // Text glued to the closing quote.
      while (!at_eor() && !ends_value(peek())) ++pos_;
      token_ =
          rec_ == start_rec ? std::string_view(base_ + token_begin, pos_ - token_begin) : value_;
      done_ = true;
      status_ = IoStatus::error;
      return false;
    }
    return true;
  }
}

}  // namespace detail

bool RecordReader::open(const std::string& path) {
  close();
  // Only a regular file is a text file; a directory would open on some systems and report a
  // meaningless size.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > 0) text_.reserve(static_cast<std::size_t>(size));
  }
  std::rewind(f);
  bool ok = true;
  char buf[65536];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, f);
    text_.append(buf, n);
    if (n < sizeof buf) {
      ok = std::ferror(f) == 0;
      break;
    }
  }
  std::fclose(f);
  if (!ok) {
    text_.clear();
    return false;
  }
  index_records();
  open_ = true;
  return true;
}

RecordReader RecordReader::from_text(std::string text) {
  RecordReader r;
  r.text_ = std::move(text);
  r.index_records();
  r.open_ = true;
  return r;
}

void RecordReader::close() {
  text_.clear();
  recs_.clear();
  next_ = 0;
  past_end_ = false;
  open_ = false;
  last_token_.clear();
}

void RecordReader::index_records() {
  recs_.clear();
  const char* const base = text_.data();
  const std::size_t n = text_.size();
  std::size_t b = 0;
  while (b < n) {
    const void* hit = std::memchr(base + b, '\n', n - b);
    const std::size_t e =
        hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - base) : n;
    std::size_t ce = e;
    if (hit != nullptr && ce > b && base[ce - 1] == '\r') --ce;
    recs_.push_back({b, ce});
    b = hit != nullptr ? e + 1 : n;
  }
  next_ = 0;
  past_end_ = false;
}

bool RecordReader::begin_statement(bool strict) {
  last_token_.clear();
  if (!open_) return false;
  if (next_ >= recs_.size()) {
    next_ = recs_.size();
    past_end_ = true;
    return false;
  }
  scanner_.start(text_.data(), recs_.data(), recs_.size(), next_, &scratch_, strict);
  return true;
}

IoStatus RecordReader::end_statement() {
  const IoStatus st = scanner_.status();
  last_token_.assign(scanner_.token());
  if (st == IoStatus::end) {
    next_ = recs_.size();
    past_end_ = true;
  } else {
    next_ = scanner_.record() + 1;
  }
  return st;
}

IoStatus RecordReader::read_line(std::string& line) {
  if (!open_) return IoStatus::error;
  if (next_ >= recs_.size()) {
    next_ = recs_.size();
    past_end_ = true;
    return IoStatus::end;
  }
  const RecordSpan r = recs_[next_++];
  line.assign(text_, r.begin, r.end - r.begin);
  return IoStatus::ok;
}

long long RecordReader::values_left(long long limit) const {
  long long count = 0;
  if (!open_ || past_end_) return 0;
  const char* const base = text_.data();
  auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  for (std::size_t r = next_; r < recs_.size() && count < limit; ++r) {
    std::size_t p = recs_[r].begin;
    const std::size_t e = recs_[r].end;
    while (p < e && count < limit) {
      if (separator(base[p])) {
        ++p;
        continue;
      }
      const std::size_t b = p;
      while (p < e && !separator(base[p])) ++p;
      // A leading repeat count stands for that many values.
      long long rep = 0;
      std::size_t q = b;
      while (q < p && base[q] >= '0' && base[q] <= '9') {
        const int d = base[q] - '0';
        rep = rep > (limit - d) / 10 ? limit : rep * 10 + d;
        ++q;
      }
      const bool repeated = q > b && q < p && base[q] == '*';
      count += repeated ? std::max(rep, 1LL) : 1;
    }
  }
  return std::min(count, limit);
}

void RecordReader::backspace() {
  if (past_end_) {
    past_end_ = false;
    return;
  }
  if (next_ > 0) --next_;
}

void RecordReader::rewind() {
  next_ = 0;
  past_end_ = false;
}

}  // namespace kinrad
