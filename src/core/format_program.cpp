#include "core/format_program.hpp"

#include <functional>
#include <memory>
#include <stdexcept>
#include <unordered_map>

namespace kinrad {

namespace {

// Widths beyond this are taken for typing errors; digit counts are bounded by what the field
// editors convert.
constexpr int kMaxWidth = 100000;
constexpr int kMaxFieldDigits = 512;

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

class Parser {
 public:
  Parser(std::string_view text, std::string& literals, std::vector<FormatItem>& items)
      : s_(text), literals_(literals), items_(items) {}

  // Parses the whole text; returns the reversion point.
  std::uint32_t parse() {
    skip_blanks();
    if (!take('(')) fail("a format begins with '('");
    std::uint32_t reversion = 0;
    list(0, &reversion);
    skip_blanks();
    if (i_ != s_.size()) fail("text after the final ')'");
    items_.push_back(FormatItem{});  // FormatOp::end
    // "$" is accepted only as the last item: the statement then leaves its record open.
    for (std::size_t k = 0; k + 1 < items_.size(); ++k)
      if (items_[k].op == FormatOp::dollar && k + 2 != items_.size())
        fail("'$' must be the last item of the format");
    return reversion;
  }

  [[noreturn]] void fail(const char* why) const {
    throw std::logic_error("bad format \"" + std::string(s_) + "\": " + why + " (at character " +
                           std::to_string(i_ + 1) + ")");
  }

 private:
  void skip_blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool at_end() {
    skip_blanks();
    return i_ >= s_.size();
  }
  char peek() { return at_end() ? '\0' : s_[i_]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++i_;
    return true;
  }
  // An unsigned number, blanks between its digits allowed; -1 when none is there.
  int number() {
    if (!is_digit(peek())) return -1;
    long long v = 0;
    while (is_digit(peek())) {
      v = 10 * v + (s_[i_++] - '0');
      if (v > kMaxWidth) fail("number too large");
    }
    return static_cast<int>(v);
  }
  int required_number(const char* why) {
    const int v = number();
    if (v < 0) fail(why);
    return v;
  }

  // The items of a parenthesised list, after its '(' up to and including its ')'.
  void list(int depth, std::uint32_t* reversion) {
    bool need_item = false;  // after a comma
    bool first = true;
    for (;;) {
      const char c = peek();
      if (c == '\0') fail("missing ')'");
      if (c == ')') {
        if (need_item) fail("an item is missing after ','");
        ++i_;
        return;
      }
      if (c == ',') {
        if (need_item || first) fail("an item is missing before ','");
        ++i_;
        need_item = true;
        continue;
      }
      item(depth, reversion);
      need_item = false;
      first = false;
    }
  }

  void item(int depth, std::uint32_t* reversion) {
    const int r = number();
    if (r == 0) fail("a repeat count must be positive");
    const char c = upper(peek());
    FormatItem it;
    it.repeat = r < 0 ? 1 : r;
    if (c == '(') {
      ++i_;
      if (depth + 1 > FormatProgram::kMaxDepth) fail("groups nested too deeply");
      const auto open = static_cast<std::uint32_t>(items_.size());
      if (depth == 0) *reversion = open;
      it.op = FormatOp::group;
      items_.push_back(it);
      list(depth + 1, reversion);
      FormatItem close;
      close.op = FormatOp::group_end;
      close.link = open;
      items_[open].link = static_cast<std::uint32_t>(items_.size());
      items_.push_back(close);
      return;
    }
    if (c == '\'' || c == '"') {
      if (r >= 0) fail("a quoted text takes no repeat count");
      quoted(s_[i_]);
      return;
    }
    ++i_;
    switch (c) {
      case '/':
        it.op = FormatOp::slash;
        break;
      case ':':
      case '$':
        if (r >= 0) fail("':' and '$' take no repeat count");
        it.op = c == ':' ? FormatOp::colon : FormatOp::dollar;
        break;
      case 'X':
        if (r < 0) fail("X needs a count, as in 1X");
        it.op = FormatOp::x;
        it.repeat = 1;
        it.w = r;
        break;
      case 'I':
        it.op = FormatOp::i;
        it.w = width();
        if (take('.')) {
          it.d = required_number("Iw.m needs m");
          if (it.d > it.w) fail("minimum digits exceed the field width");
        }
        break;
      case 'F':
        it.op = FormatOp::f;
        it.w = width();
        point_digits(it);
        break;
      case 'E':
        it.op = FormatOp::e;
        if (upper(peek()) == 'S') {
          ++i_;
          it.op = FormatOp::es;
        } else if (upper(peek()) == 'N') {
          fail("EN editing is not supported");
        }
        it.w = width();
        point_digits(it);
        if (it.op == FormatOp::e && it.d < 1) fail("Ew.d needs d >= 1");
        if (upper(peek()) == 'E') {
          ++i_;
          it.e = required_number("Ee needs its digit count");
          if (it.e < 1 || it.e > 9) fail("exponent digits must be 1 to 9");
        }
        break;
      case 'L':
        it.op = FormatOp::l;
        it.w = width();
        break;
      case 'A':
        it.op = FormatOp::a;
        it.w = number();
        if (it.w == 0) fail("a width must be positive");
        break;
      default:
        --i_;
        fail("unknown or unsupported edit descriptor");
    }
    items_.push_back(it);
  }

  int width() {
    const int w = required_number("the descriptor needs a width");
    if (w == 0) fail("a width must be positive");
    return w;
  }
  void point_digits(FormatItem& it) {
    if (!take('.')) fail("the descriptor needs .d");
    it.d = required_number("the descriptor needs .d");
    if (it.d > kMaxFieldDigits) fail("too many digits");
  }

  void quoted(char q) {
    ++i_;  // the opening quote; blanks inside are kept
    FormatItem it;
    it.op = FormatOp::literal;
    it.text_pos = static_cast<std::uint32_t>(literals_.size());
    for (;;) {
      if (i_ >= s_.size()) fail("unterminated quoted text");
      const char c = s_[i_++];
      if (c == q) {
        if (i_ < s_.size() && s_[i_] == q) {
          literals_.push_back(q);
          ++i_;
          continue;
        }
        break;
      }
      literals_.push_back(c);
    }
    it.text_len = static_cast<std::uint32_t>(literals_.size() - it.text_pos);
    items_.push_back(it);
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::string& literals_;
  std::vector<FormatItem>& items_;
};

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

FormatProgram::FormatProgram(std::string_view text) : text_(text) {
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (t == "*") {
    list_directed_ = true;
    items_.push_back(FormatItem{});
    return;
  }
  Parser parser(text_, literals_, items_);
  reversion_ = parser.parse();
  for (std::size_t k = reversion_; k < items_.size(); ++k)
    if (items_[k].is_data()) reversion_has_data_ = true;
}

const FormatProgram& format_program(std::string_view text) {
  // Most statements repeat the format of the one before (a loop over lines), so the last
  // program is checked before the table.
  thread_local std::unordered_map<std::string, std::unique_ptr<FormatProgram>, TextHash,
                                  std::equal_to<>>
      cache;
  thread_local const FormatProgram* last = nullptr;
  if (last != nullptr && last->text() == text) return *last;
  auto found = cache.find(text);
  if (found == cache.end()) {
    auto program = std::make_unique<FormatProgram>(text);
    found = cache.emplace(std::string(text), std::move(program)).first;
  }
  last = found->second.get();
  return *last;
}

}  // namespace kinrad
