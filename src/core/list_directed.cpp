#include "core/list_directed.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

namespace kinrad::list_directed {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != b[i]) return false;
  return true;
}

template <class F>
bool parse_special(std::string_view t, bool negative, F& out) {
  if (equals_nocase(t, "inf") || equals_nocase(t, "infinity")) {
    out = negative ? -std::numeric_limits<F>::infinity() : std::numeric_limits<F>::infinity();
    return true;
  }
  if (t.size() >= 3 && equals_nocase(t.substr(0, 3), "nan") &&
      (t.size() == 3 || (t[3] == '(' && t.back() == ')'))) {
    out = std::copysign(std::numeric_limits<F>::quiet_NaN(), negative ? F(-1) : F(1));
    return true;
  }
  return false;
}

template <class F>
bool parse_real_impl(std::string_view s, F& out) {
  const std::size_t n = s.size();
  std::size_t i = 0;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i < n && !is_digit(s[i]) && s[i] != '.') return parse_special(s.substr(i), negative, out);

  // Mantissa. Its decimal magnitude (the power of ten of its leading non-zero digit, plus one)
  // decides between infinity and zero when the value is out of range.
  const std::size_t mant_begin = i;
  long lead = 0;  // digits before the point, without leading zeros
  long zeros_after_point = 0;
  bool seen_nonzero = false;
  bool any_digit = false;
  while (i < n && is_digit(s[i])) {
    any_digit = true;
    if (s[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++lead;
    ++i;
  }
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) {
      any_digit = true;
      if (s[i] != '0') seen_nonzero = true;
      if (!seen_nonzero) ++zeros_after_point;
      ++i;
    }
  }
  if (!any_digit) return false;
  const std::size_t mant_end = i;

  // Exponent: a letter with an optional sign, or a sign alone, then at least one digit.
  bool has_exponent = false;
  bool exp_negative = false;
  bool plain_e = false;  // already in the form from_chars reads
  std::size_t exp_digits = n;
  long exp_value = 0;
  if (i < n) {
    const char c = lower(s[i]);
    if (c == 'e' || c == 'd' || c == 'q') {
      plain_e = c == 'e';
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    if (i < n && (s[i] == '+' || s[i] == '-')) {
      exp_negative = s[i] == '-';
      ++i;
    }
    if (i == n) return false;
    exp_digits = i;
    while (i < n && is_digit(s[i])) {
      if (exp_value < 1000000) exp_value = exp_value * 10 + (s[i] - '0');
      ++i;
    }
    if (i != n || i == exp_digits) return false;
    has_exponent = true;
  }

  F v{};
  std::from_chars_result r{};
  if (s[0] != '+' && (!has_exponent || plain_e)) {
    r = std::from_chars(s.data(), s.data() + n, v, std::chars_format::general);
  } else {
    // Rewrite as [-]mantissa e[-]digits; a local buffer holds every ordinary value.
    char local[128];
    std::string heap;
    const std::size_t need = (mant_end - mant_begin) + (n - exp_digits) + 3;
    char* buf = local;
    if (need > sizeof local) {
      heap.resize(need);
      buf = heap.data();
    }
    std::size_t k = 0;
    if (negative) buf[k++] = '-';
    for (std::size_t j = mant_begin; j < mant_end; ++j) buf[k++] = s[j];
    if (has_exponent) {
      buf[k++] = 'e';
      if (exp_negative) buf[k++] = '-';
      for (std::size_t j = exp_digits; j < n; ++j) buf[k++] = s[j];
    }
    r = std::from_chars(buf, buf + k, v, std::chars_format::general);
  }
  if (r.ec == std::errc::result_out_of_range) {
    const long magnitude =
        (exp_negative ? -exp_value : exp_value) + (lead > 0 ? lead : -zeros_after_point);
    const F big = std::numeric_limits<F>::infinity();
    v = magnitude > 0 ? big : F(0);
    if (negative) v = -v;
  } else if (r.ec != std::errc()) {
    return false;
  }
  out = v;
  return true;
}

}  // namespace

bool parse_real(std::string_view s, double& out) {
  return parse_real_impl(s, out);
}
bool parse_real(std::string_view s, float& out) {
  return parse_real_impl(s, out);
}

bool parse_logical(std::string_view s, bool& out) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '.') ++i;
  if (i >= s.size()) return false;
  const char c = lower(s[i]);
  if (c != 't' && c != 'f') return false;
  out = c == 't';
  return true;
}

}  // namespace kinrad::list_directed
