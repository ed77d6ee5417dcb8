#include "core/format_write.hpp"

#include <iostream>
#include <stdexcept>

namespace kinrad {

namespace {

const char* descriptor_name(FormatOp op) {
  switch (op) {
    case FormatOp::i:
      return "I";
    case FormatOp::f:
      return "F";
    case FormatOp::e:
      return "E";
    case FormatOp::es:
      return "ES";
    case FormatOp::a:
      return "A";
    case FormatOp::l:
      return "L";
    default:
      return "?";
  }
}

[[noreturn]] void throw_mismatch(const FormatProgram& p, const FormatItem& it,
                                 const char* item_kind) {
  throw std::logic_error("format \"" + std::string(p.text()) + "\": " + item_kind +
                         " item given to an " + descriptor_name(it.op) + " descriptor");
}

[[noreturn]] void throw_no_descriptor(const FormatProgram& p) {
  throw std::logic_error("format \"" + std::string(p.text()) +
                         "\": items remain but the format has no data descriptor for them");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Output

FormatWriter::FormatWriter(std::string_view fmt, std::string& out)
    : program_(format_program(fmt)), cursor_(program_), out_(out) {}

void FormatWriter::flush_blanks() {
  if (blanks_ > 0) {
    out_.append(static_cast<std::size_t>(blanks_), ' ');
    blanks_ = 0;
  }
}

void FormatWriter::end_record() {
  blanks_ = 0;
  out_.push_back('\n');
}

[[noreturn]] void FormatWriter::mismatch(const FormatItem& it, const char* item_kind) const {
  throw_mismatch(program_, it, item_kind);
}

const FormatItem& FormatWriter::next_data() {
  for (;;) {
    const FormatItem& it = cursor_.next();
    switch (it.op) {
      case FormatOp::literal:
        flush_blanks();
        out_.append(program_.literal(it));
        break;
      case FormatOp::x:
        blanks_ += it.w;
        break;
      case FormatOp::slash:
        end_record();
        break;
      case FormatOp::colon:
        break;
      case FormatOp::dollar:
        dollar_ = true;
        break;
      case FormatOp::end:
        // Reversion. Once "$" has been reached the record stays open across it, as the
        // compiled programs do.
        if (!program_.reversion_has_data()) throw_no_descriptor(program_);
        if (!dollar_) end_record();
        break;
      default:
        flush_blanks();
        return it;
    }
  }
}

void FormatWriter::list_separator(bool text) {
  // A record begins with a blank; items are separated by one, except that adjacent texts
  // are written together.
  if (first_ || !(text && prev_text_)) out_.push_back(' ');
  first_ = false;
  prev_text_ = text;
}

void FormatWriter::put_integer(std::int64_t v, int kind_bytes) {
  if (program_.list_directed()) {
    list_separator(false);
    put_list_integer(out_, v, kind_bytes);
    return;
  }
  const FormatItem& it = next_data();
  if (it.op != FormatOp::i) mismatch(it, "an integer");
  put_i(out_, v, it.w, it.d);
}

void FormatWriter::put_real(double v) {
  if (program_.list_directed()) {
    list_separator(false);
    put_list_real(out_, v);
    return;
  }
  const FormatItem& it = next_data();
  switch (it.op) {
    case FormatOp::f:
      put_f(out_, v, it.w, it.d);
      break;
    case FormatOp::es:
      put_es(out_, v, it.w, it.d, it.e);
      break;
    case FormatOp::e:
      put_e(out_, v, it.w, it.d, it.e);
      break;
    default:
      mismatch(it, "a real");
  }
}

void FormatWriter::put_real(float v) {
  if (program_.list_directed()) {
    list_separator(false);
    put_list_real(out_, v);
    return;
  }
  // Widening is exact, so the fields show the single-precision value itself.
  put_real(static_cast<double>(v));
}

void FormatWriter::put_logical(bool v) {
  if (program_.list_directed()) {
    list_separator(false);
    put_list_logical(out_, v);
    return;
  }
  const FormatItem& it = next_data();
  if (it.op != FormatOp::l) mismatch(it, "a logical");
  put_l(out_, v, it.w);
}

void FormatWriter::put_text(std::string_view s) {
  if (program_.list_directed()) {
    list_separator(true);
    out_.append(s);
    return;
  }
  const FormatItem& it = next_data();
  if (it.op != FormatOp::a) mismatch(it, "a text");
  put_a(out_, s, it.w);
}

bool FormatWriter::finish() {
  if (!program_.list_directed()) {
    bool more = true;
    while (more) {
      const FormatItem& it = cursor_.next();
      switch (it.op) {
        case FormatOp::literal:
          flush_blanks();
          out_.append(program_.literal(it));
          break;
        case FormatOp::x:
          blanks_ += it.w;
          break;
        case FormatOp::slash:
          end_record();
          break;
        case FormatOp::dollar:
          dollar_ = true;
          break;
        default:  // a data descriptor without an item, a colon, or the end of the format
          more = false;
          break;
      }
    }
  }
  blanks_ = 0;
  if (!dollar_) out_.push_back('\n');
  return dollar_;
}

namespace detail {

std::string& statement_buffer() {
  thread_local std::string buf;
  return buf;
}

void emit(std::ostream& out, const std::string& records) {
  out.write(records.data(), static_cast<std::streamsize>(records.size()));
  // Screen lines reach a log file or a pipe at once: completed lines as well as the open
  // ones that progress displays overwrite.
  if (&out == &std::cout) out.flush();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Input

FormatReader::FormatReader(std::string_view fmt, std::string_view record)
    : program_(format_program(fmt)), cursor_(program_), record_(record) {
  if (program_.list_directed())
    throw std::logic_error("fread_string: the list-directed format \"*\" is not a field format");
}

[[noreturn]] void FormatReader::mismatch(const FormatItem& it, const char* item_kind) const {
  throw_mismatch(program_, it, item_kind);
}

const FormatItem* FormatReader::next_data() {
  if (status_ != IoStatus::ok) return nullptr;
  for (;;) {
    const FormatItem& it = cursor_.next();
    switch (it.op) {
      case FormatOp::literal:
        throw std::logic_error("format \"" + std::string(program_.text()) +
                               "\": quoted text in an input format");
      case FormatOp::x:
        pos_ += static_cast<std::size_t>(it.w);
        break;
      case FormatOp::colon:
      case FormatOp::dollar:
        break;
      case FormatOp::end:
        if (!program_.reversion_has_data()) throw_no_descriptor(program_);
        [[fallthrough]];
      case FormatOp::slash:
        // The next record of a one-record internal file does not exist.
        status_ = IoStatus::end;
        return nullptr;
      default:
        return &it;
    }
  }
}

// The next w characters of the record; the part beyond its end is left out, which for the
// numeric editors is the same as blank padding.
std::string_view FormatReader::field(int w) {
  const std::size_t n = static_cast<std::size_t>(w);
  std::string_view f;
  if (pos_ < record_.size()) f = record_.substr(pos_, n);
  pos_ += n;
  return f;
}

bool FormatReader::get_integer(std::int64_t& v, std::int64_t lo, std::int64_t hi) {
  const FormatItem* it = next_data();
  if (it == nullptr) return false;
  if (it->op != FormatOp::i) mismatch(*it, "an integer");
  if (get_i(field(it->w), v, lo, hi) != IoStatus::ok) {
    status_ = IoStatus::error;
    return false;
  }
  return true;
}

template <class R>
bool FormatReader::get_real_field(R& v) {
  const FormatItem* it = next_data();
  if (it == nullptr) return false;
  if (it->op != FormatOp::f && it->op != FormatOp::e && it->op != FormatOp::es)
    mismatch(*it, "a real");
  if (get_f(field(it->w), it->d, v) != IoStatus::ok) {
    status_ = IoStatus::error;
    return false;
  }
  return true;
}

bool FormatReader::get_real(double& v) {
  return get_real_field(v);
}

bool FormatReader::get_real(float& v) {
  return get_real_field(v);
}

bool FormatReader::get_text(char* dst, std::size_t len) {
  const FormatItem* it = next_data();
  if (it == nullptr) return false;
  if (it->op != FormatOp::a) mismatch(*it, "a text");
  const std::size_t w = it->w < 0 ? len : static_cast<std::size_t>(it->w);
  const std::size_t start = pos_;
  pos_ += w;
  // A character of the record as if padded with blanks.
  auto at = [&](std::size_t k) { return k < record_.size() ? record_[k] : ' '; };
  if (w >= len) {
    for (std::size_t k = 0; k < len; ++k) dst[k] = at(start + w - len + k);
  } else {
    for (std::size_t k = 0; k < w; ++k) dst[k] = at(start + k);
    for (std::size_t k = w; k < len; ++k) dst[k] = ' ';
  }
  return true;
}

bool FormatReader::get_text(std::string& s) {
  const FormatItem* it = next_data();
  if (it == nullptr) return false;
  if (it->op != FormatOp::a) mismatch(*it, "a text");
  if (it->w < 0) {
    s.assign(pos_ < record_.size() ? record_.substr(pos_) : std::string_view());
    pos_ = record_.size() > pos_ ? record_.size() : pos_;
  } else {
    const std::string_view f = field(it->w);
    s.assign(f);
    s.resize(static_cast<std::size_t>(it->w), ' ');
  }
  return true;
}

}  // namespace kinrad
