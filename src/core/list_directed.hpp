#pragma once
// Conversion of one list-directed input value to the type of the item that receives it. The
// value is the text between separators, without any repeat count; these functions only say
// whether it is a valid constant of the type, and store it when it is.
#include <charconv>
#include <concepts>
#include <string_view>
#include <system_error>

namespace kinrad::list_directed {

// An optional sign followed by decimal digits, nothing else. A value outside the range of T
// is refused, as a Fortran integer of that kind overflows.
template <std::integral T>
requires(!std::same_as<T, bool>) bool parse_integer(std::string_view s, T& out) {
  const char* b = s.data();
  const char* const e = b + s.size();
  if (b != e && *b == '+') {
    ++b;
    if (b == e || *b < '0' || *b > '9') return false;
  }
  T v{};
  const auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e) return false;
  out = v;
  return true;
}

// A real constant: optional sign, digits with at most one point (at least one digit), then an
// optional exponent written with E, D or Q (either case) and an optionally signed integer, or
// as a sign and an integer alone ("1.5+2" is 150). "inf", "infinity", "nan" and "nan(...)"
// (any case, optionally signed) give infinities and quiet NaNs. A magnitude beyond the type's
// range gives an infinity and one below its smallest subnormal gives zero, as in Fortran
// input; neither is an error. The value is rounded correctly to the nearest of the type.
bool parse_real(std::string_view s, double& out);
bool parse_real(std::string_view s, float& out);

// An optional point followed by T or F (either case); whatever follows is ignored, so
// ".TRUE." and "false" are both logical constants.
bool parse_logical(std::string_view s, bool& out);

}  // namespace kinrad::list_directed
