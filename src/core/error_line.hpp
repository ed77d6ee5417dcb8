#pragma once
// Error lines built from pieces: text as given, fixed-length text without its trailing blanks
// (as Fortran's trim before a concatenation), integers in the fewest digits (format I0).
#include <concepts>
#include <string>
#include <string_view>

#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {

namespace detail {

inline void append_piece(std::string& line, std::string_view piece) {
  line += piece;
}

template <std::size_t N>
void append_piece(std::string& line, const FString<N>& piece) {
  line += piece.trimmed();
}

template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, char>) void append_piece(std::string& line,
                                                                             T piece) {
  line += std::to_string(piece);
}

}  // namespace detail

template <class... Pieces>
std::string error_line(const Pieces&... pieces) {
  std::string line;
  (detail::append_piece(line, pieces), ...);
  return line;
}

// Sets error line k (1 to 5) of the error stop; longer text is cut to the line's length.
void set_error_line(int4 k, std::string_view text);

}  // namespace kinrad
