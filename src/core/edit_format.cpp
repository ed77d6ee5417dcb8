#include "core/edit_format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace kinrad {

namespace {

// Room for the digits of any double in fixed form (309 integer digits) plus the decimals of
// the widest field the format parser accepts.
constexpr int kMaxDigits = 512;
using DigitBuffer = std::array<char, 2 * kMaxDigits + 400>;
// Room kept in front of a converted number for its sign, zero, point and leading blanks.
constexpr std::ptrdiff_t kFront = 40;

constexpr std::array<double, 309> make_pow10() {
  std::array<double, 309> p{};
  p[0] = 1.0;
  for (std::size_t i = 1; i < p.size(); ++i) p[i] = 10.0 * p[i - 1];
  return p;
}
constexpr std::array<double, 309> kPow10 = make_pow10();

void check_digits(int d) {
  if (d < 0 || d > kMaxDigits) throw std::logic_error("edit descriptor: digit count out of range");
}

void stars(std::string& out, int w) {
  if (w > 0) out.append(static_cast<std::size_t>(w), '*');
}

// Appends `text` right-justified in w, or asterisks when it does not fit.
void justify(std::string& out, std::string_view text, int w) {
  if (static_cast<int>(text.size()) > w) {
    stars(out, w);
    return;
  }
  out.append(static_cast<std::size_t>(w) - text.size(), ' ');
  out.append(text);
}

// NaN and the infinities: "Infinity" shortens to "Inf" when the field is narrower, and a
// field too narrow for either takes asterisks.
void put_special(std::string& out, double v, int w) {
  if (std::isnan(v)) {
    justify(out, "NaN", w);
  } else if (v > 0) {
    justify(out, w >= 8 ? "Infinity" : "Inf", w);
  } else {
    justify(out, w >= 9 ? "-Infinity" : "-Inf", w);
  }
}

// Appends the field [p, q) right-justified in w, or asterisks when it does not fit. The
// blanks go into the buffer in front of p when it has room (from `begin`), so the field is
// appended in one piece.
void emit(std::string& out, char* begin, char* p, const char* q, int w) {
  const auto n = static_cast<std::size_t>(q - p);
  if (w < 0 || n > static_cast<std::size_t>(w)) {
    stars(out, w);
    return;
  }
  const std::size_t pad = static_cast<std::size_t>(w) - n;
  if (pad <= static_cast<std::size_t>(p - begin)) {
    p -= pad;
    std::fill(p, p + pad, ' ');
    out.append(p, static_cast<std::size_t>(w));
  } else {
    out.append(pad, ' ');
    out.append(p, n);
  }
}

// Writes the magnitude a at p in scientific form with `decimals` digits after the point
// ("d.ddde+xx", or "de+xx" without decimals); returns the position of the 'e' and sets the
// decimal exponent.
char* to_scientific(char* p, char* end, double a, int decimals, int& exponent) {
  char* const stop = std::to_chars(p, end, a, std::chars_format::scientific, decimals).ptr;
  char* epos = stop - 3;  // at least "e+dd" follows the digits
  while (*epos != 'e') --epos;
  int x = 0;
  for (const char* q = epos + 2; q != stop; ++q) x = 10 * x + (*q - '0');
  exponent = epos[1] == '-' ? -x : x;
  return epos;
}

// Writes the exponent part at q: "E+dd" or "+ddd" without e, "E+" and e digits with it.
// Returns the end, or nullptr when the exponent does not fit.
char* put_exponent(char* q, int x, int e) {
  const int ax = x < 0 ? -x : x;
  int digits;
  if (e < 0) {
    if (ax <= 99) {
      *q++ = 'E';
      digits = 2;
    } else if (ax <= 999) {
      digits = 3;
    } else {
      return nullptr;
    }
  } else {
    int limit = 1;
    for (int i = 0; i < e && limit <= 1000000; ++i) limit *= 10;
    if (ax >= limit) return nullptr;
    *q++ = 'E';
    digits = e;
  }
  *q++ = x < 0 ? '-' : '+';
  for (int i = digits - 1, v = ax; i >= 0; --i, v /= 10) q[i] = static_cast<char>('0' + v % 10);
  return q + digits;
}

void check_e(int e) {
  if (e == 0 || e > 9) throw std::logic_error("edit descriptor: exponent digit count out of range");
}

// Real list-directed field of `d` significant digits and an exponent of `e` digits in `w`
// characters (G editing with a scale factor of 1 in exponent form).
void put_list_real_field(std::string& out, double v, int d, int e, int w) {
  if (!std::isfinite(v)) {
    put_special(out, v, w);
    return;
  }
  const bool neg = std::signbit(v);
  const double a = std::fabs(v);
  DigitBuffer buf;
  char* const end = buf.data() + buf.size();
  char* p = buf.data() + kFront;
  int x = 0;
  char* q = to_scientific(p, end, a, d - 1, x);
  const int n = e + 2;  // blanks that stand for the exponent in fixed form
  if (a == 0 || (x >= -1 && x <= d - 1)) {
    const int decimals = a == 0 ? d - 1 : d - 1 - x;
    q = std::to_chars(p, end, a, std::chars_format::fixed, decimals).ptr;
    if (decimals == 0) *q++ = '.';
    if (neg) *--p = '-';
    emit(out, buf.data(), p, q, w - n);
    out.append(static_cast<std::size_t>(n), ' ');
    return;
  }
  q = put_exponent(q, x, e);
  if (neg) *--p = '-';
  emit(out, buf.data(), p, q, w);
}

bool is_blank(char c) {
  return c == ' ';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// "inf", "infinity", "nan" or "nan(chars)" in any case, then blanks only.
bool parse_special(std::string_view s, bool neg, double& v) {
  auto starts = [&](std::string_view word) {
    if (s.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
      if (lower(s[i]) != word[i]) return false;
    return true;
  };
  std::size_t n;
  if (starts("infinity")) {
    n = 8;
    v = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  } else if (starts("inf")) {
    n = 3;
    v = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  } else if (starts("nan")) {
    n = 3;
    if (n < s.size() && s[n] == '(') {
      ++n;
      while (n < s.size() && s[n] != ')') {
        const char c = lower(s[n]);
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
        ++n;
      }
      if (n == s.size()) return false;
      ++n;
    }
    v = std::numeric_limits<double>::quiet_NaN();
  } else {
    return false;
  }
  for (; n < s.size(); ++n)
    if (!is_blank(s[n])) return false;
  return true;
}

// Parses a real input field into a decimal string "DIGITSeEXP" (or a special value) and
// converts it to T with correct rounding.
template <class T>
IoStatus get_real(std::string_view field, int d, T& v) {
  std::size_t i = 0;
  while (i < field.size() && is_blank(field[i])) ++i;
  bool neg = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    neg = field[i] == '-';
    ++i;
    while (i < field.size() && is_blank(field[i])) ++i;
  }
  if (i < field.size() && (lower(field[i]) == 'i' || lower(field[i]) == 'n')) {
    double x;
    if (!parse_special(field.substr(i), neg, x)) return IoStatus::error;
    v = static_cast<T>(x);
    return IoStatus::ok;
  }

  // Mantissa digits without leading zeros; a digit beyond the buffer only matters as a
  // nonzero "sticky" digit that keeps a value just above a tie from rounding down.
  constexpr std::size_t kKeep = 800;
  std::array<char, kKeep + 32> buf;
  std::size_t nd = 0;
  bool any_digit = false, point = false, sticky = false;
  long long frac = 0, dropped = 0;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (is_blank(c)) continue;
    if (c >= '0' && c <= '9') {
      any_digit = true;
      if (point) ++frac;
      if (nd == 0 && c == '0') continue;
      if (nd < kKeep) {
        buf[nd++] = c;
      } else {
        ++dropped;
        if (c != '0') sticky = true;
      }
    } else if (c == '.') {
      if (point) return IoStatus::error;
      point = true;
    } else {
      break;
    }
  }
  long long expo = 0;
  if (i < field.size()) {
    const char c = lower(field[i]);
    if (c == 'e' || c == 'd' || c == 'q') {
      ++i;
      while (i < field.size() && is_blank(field[i])) ++i;
    } else if (c != '+' && c != '-') {
      return IoStatus::error;
    }
    bool eneg = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
      eneg = field[i] == '-';
      ++i;
    }
    bool edigit = false;
    for (; i < field.size(); ++i) {
      const char ch = field[i];
      if (is_blank(ch)) continue;
      if (ch < '0' || ch > '9') return IoStatus::error;
      edigit = true;
      if (expo < 100000000) expo = 10 * expo + (ch - '0');
    }
    if (!edigit) return IoStatus::error;
    if (eneg) expo = -expo;
  }
  if (!any_digit) {
    v = T(0);
    return IoStatus::ok;
  }
  if (nd == 0) {
    v = neg ? -T(0) : T(0);
    return IoStatus::ok;
  }
  if (sticky) {
    buf[nd++] = '1';
    --dropped;
  }
  const long long scale = expo - (point ? frac : d) + dropped;
  char* p = buf.data() + nd;
  *p++ = 'e';
  p = std::to_chars(p, buf.data() + buf.size(), scale).ptr;
  T x{};
  const auto r = std::from_chars(buf.data(), p, x);
  if (r.ec == std::errc::result_out_of_range) {
    // The value lies in [10**(nd+scale-1), 10**(nd+scale)).
    x = static_cast<long long>(nd) + scale > 0 ? std::numeric_limits<T>::infinity() : T(0);
  } else if (r.ec != std::errc()) {
    return IoStatus::error;
  }
  v = neg ? -x : x;
  return IoStatus::ok;
}

}  // namespace

void put_i(std::string& out, std::int64_t v, int w, int m) {
  std::array<char, 24> digits;
  const std::uint64_t mag =
      v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  int nd = static_cast<int>(std::to_chars(digits.data(), digits.data() + digits.size(), mag).ptr -
                            digits.data());
  if (m == 0 && v == 0) nd = 0;
  const int zeros = m > nd ? m - nd : 0;
  const int len = (v < 0) + zeros + nd;
  if (len > w) {
    stars(out, w);
    return;
  }
  if (w <= 48) {  // the usual case: compose the field and append it in one piece
    std::array<char, 48> f;
    char* p = f.data();
    p = std::fill_n(p, w - len, ' ');
    if (v < 0) *p++ = '-';
    p = std::fill_n(p, zeros, '0');
    std::copy_n(digits.data(), nd, p);
    out.append(f.data(), static_cast<std::size_t>(w));
    return;
  }
  out.append(static_cast<std::size_t>(w - len), ' ');
  if (v < 0) out.push_back('-');
  out.append(static_cast<std::size_t>(zeros), '0');
  out.append(digits.data(), static_cast<std::size_t>(nd));
}

void put_f(std::string& out, double v, int w, int d) {
  check_digits(d);
  if (!std::isfinite(v)) {
    put_special(out, v, w);
    return;
  }
  const bool neg = std::signbit(v);
  const double a = std::fabs(v);
  // A magnitude of 10**(w-1) or more needs w digits and the point, so 10**w, approximate as
  // it may be, safely spares converting hundreds of digits only to print asterisks.
  if (w <= 308 && a >= kPow10[static_cast<std::size_t>(w)]) {
    stars(out, w);
    return;
  }
  DigitBuffer buf;
  char* p = buf.data() + kFront;
  char* q = std::to_chars(p, buf.data() + buf.size(), a, std::chars_format::fixed, d).ptr;
  if (d == 0) *q++ = '.';
  // The zero before the point is optional, except that "0." is the shortest form of Fw.0.
  if (p[0] == '0' && d > 0 && neg + (q - p) > w) ++p;
  if (neg) *--p = '-';
  emit(out, buf.data(), p, q, w);
}

void put_es(std::string& out, double v, int w, int d, int e) {
  check_digits(d);
  check_e(e);
  if (!std::isfinite(v)) {
    put_special(out, v, w);
    return;
  }
  const bool neg = std::signbit(v);
  DigitBuffer buf;
  char* p = buf.data() + kFront;
  int x = 0;
  char* q = to_scientific(p, buf.data() + buf.size(), std::fabs(v), d, x);
  if (d == 0) *q++ = '.';
  q = put_exponent(q, x, e);
  if (q == nullptr) {
    stars(out, w);
    return;
  }
  if (neg) *--p = '-';
  emit(out, buf.data(), p, q, w);
}

void put_e(std::string& out, double v, int w, int d, int e) {
  check_digits(d);
  check_e(e);
  if (d < 1) throw std::logic_error("edit descriptor: Ew.d needs d >= 1");
  if (!std::isfinite(v)) {
    put_special(out, v, w);
    return;
  }
  const bool neg = std::signbit(v);
  const double a = std::fabs(v);
  DigitBuffer buf;
  char* p = buf.data() + kFront;
  int x = 0;
  char* q = to_scientific(p, buf.data() + buf.size(), a, d - 1, x);
  // "d.ddd" becomes ".dddd": the first digit moves behind the point.
  if (d > 1) {
    p[1] = p[0];
    p[0] = '.';
  } else {
    *--p = '.';
  }
  q = put_exponent(q, a == 0 ? 0 : x + 1, e);
  if (q == nullptr) {
    stars(out, w);
    return;
  }
  if (neg + (q - p) + 1 <= w) *--p = '0';  // the leading zero only when it fits
  if (neg) *--p = '-';
  emit(out, buf.data(), p, q, w);
}

void put_a(std::string& out, std::string_view s, int w) {
  if (w < 0 || static_cast<std::size_t>(w) == s.size()) {
    out.append(s);
  } else if (s.size() > static_cast<std::size_t>(w)) {
    out.append(s.substr(0, static_cast<std::size_t>(w)));
  } else {
    out.append(static_cast<std::size_t>(w) - s.size(), ' ');
    out.append(s);
  }
}

void put_l(std::string& out, bool v, int w) {
  if (w <= 0) return;
  out.append(static_cast<std::size_t>(w - 1), ' ');
  out.push_back(v ? 'T' : 'F');
}

void put_x(std::string& out, int n) {
  if (n > 0) out.append(static_cast<std::size_t>(n), ' ');
}

void put_list_integer(std::string& out, std::int64_t v, int kind_bytes) {
  const int w = kind_bytes == 1 ? 4 : kind_bytes == 2 ? 6 : kind_bytes == 4 ? 11 : 20;
  put_i(out, v, w);
}

void put_list_real(std::string& out, double v) {
  put_list_real_field(out, v, 17, 3, 25);
}

void put_list_real(std::string& out, float v) {
  put_list_real_field(out, v, 9, 2, 16);
}

void put_list_logical(std::string& out, bool v) {
  out.push_back(v ? 'T' : 'F');
}

IoStatus get_i(std::string_view field, std::int64_t& v, std::int64_t lo, std::int64_t hi) {
  bool neg = false, sign = false, digit = false;
  std::uint64_t mag = 0;
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // magnitude of the most negative
  bool overflow = false;
  for (const char c : field) {
    if (is_blank(c)) continue;
    if (c == '+' || c == '-') {
      if (sign || digit) return IoStatus::error;
      sign = true;
      neg = c == '-';
    } else if (c >= '0' && c <= '9') {
      digit = true;
      const auto dv = static_cast<std::uint64_t>(c - '0');
      if (mag > (kLimit - dv) / 10)
        overflow = true;
      else
        mag = 10 * mag + dv;
    } else {
      return IoStatus::error;
    }
  }
  if (sign && !digit) return IoStatus::error;
  if (overflow || (!neg && mag == kLimit)) return IoStatus::error;
  const std::int64_t x =
      neg ? static_cast<std::int64_t>(std::uint64_t{0} - mag) : static_cast<std::int64_t>(mag);
  if (x < lo || x > hi) return IoStatus::error;
  v = x;
  return IoStatus::ok;
}

IoStatus get_f(std::string_view field, int d, double& v) {
  return get_real(field, d, v);
}

IoStatus get_f(std::string_view field, int d, float& v) {
  return get_real(field, d, v);
}

}  // namespace kinrad
