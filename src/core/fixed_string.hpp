#pragma once
// Fixed-length text. A value of FString<N> always holds exactly N characters: assignment cuts
// a longer text and pads a shorter one with blanks, and comparison ignores trailing blanks,
// which is what the identifiers, file names and error lines of the program rely on.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kinrad {

// Text without its trailing blanks.
constexpr std::string_view trim(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

constexpr std::size_t len_trim(std::string_view s) {
  return trim(s).size();
}

// Text without leading and trailing blanks.
constexpr std::string_view trim_both(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return trim(s.substr(b));
}

// Leading blanks moved to the end; the length stays.
inline std::string adjustl(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  std::string r(s.substr(b));
  r.append(b, ' ');
  return r;
}

// Trailing blanks moved to the front; the length stays.
inline std::string adjustr(std::string_view s) {
  std::string_view t = trim(s);
  std::string r(s.size() - t.size(), ' ');
  r.append(t);
  return r;
}

// Comparison of two texts as if the shorter were padded with blanks.
constexpr int compare_padded(std::string_view a, std::string_view b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    const unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

// The text s cut or blank-padded to exactly n characters.
inline std::string padded(std::string_view s, std::size_t n) {
  std::string r(s.substr(0, std::min(n, s.size())));
  r.resize(n, ' ');
  return r;
}

template <std::size_t N>
class FString {
 public:
  static constexpr std::size_t length = N;

  constexpr FString() { c_.fill(' '); }
  constexpr FString(std::string_view s) { assign(s); }  // NOLINT: implicit like Fortran
  constexpr FString(const char* s) { assign(std::string_view(s)); }
  constexpr FString(const std::string& s) { assign(std::string_view(s)); }
  template <std::size_t M>
  constexpr FString(const FString<M>& o) {
    assign(o.view());
  }

  constexpr FString& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  constexpr FString& operator=(const char* s) { return *this = std::string_view(s); }
  constexpr FString& operator=(const std::string& s) { return *this = std::string_view(s); }
  template <std::size_t M>
  constexpr FString& operator=(const FString<M>& o) {
    assign(o.view());
    return *this;
  }

  constexpr std::string_view view() const { return std::string_view(c_.data(), N); }
  constexpr operator std::string_view() const { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  constexpr std::string_view trimmed() const { return trim(view()); }
  constexpr std::size_t len_trim() const { return trimmed().size(); }
  constexpr bool blank() const { return trimmed().empty(); }
  constexpr std::size_t size() const { return N; }

  // 1-based character access, as the design counts positions.
  constexpr char& operator()(std::size_t i) { return c_[i - 1]; }
  constexpr char operator()(std::size_t i) const { return c_[i - 1]; }
  // Substring i:j, 1-based and inclusive; empty when j < i.
  constexpr std::string_view sub(std::size_t i, std::size_t j) const {
    return j < i ? std::string_view() : view().substr(i - 1, j - i + 1);
  }
  constexpr char* data() { return c_.data(); }
  constexpr const char* data() const { return c_.data(); }

 private:
  constexpr void assign(std::string_view s) {
    const std::size_t n = std::min(N, s.size());
    for (std::size_t i = 0; i < n; ++i) c_[i] = s[i];
    for (std::size_t i = n; i < N; ++i) c_[i] = ' ';
  }
  std::array<char, N> c_{};
};

template <std::size_t N, std::size_t M>
constexpr bool operator==(const FString<N>& a, const FString<M>& b) {
  return compare_padded(a.view(), b.view()) == 0;
}
template <std::size_t N>
constexpr bool operator==(const FString<N>& a, std::string_view b) {
  return compare_padded(a.view(), b) == 0;
}
template <std::size_t N>
constexpr bool operator==(const FString<N>& a, const char* b) {
  return compare_padded(a.view(), std::string_view(b)) == 0;
}
template <std::size_t N, std::size_t M>
constexpr bool operator<(const FString<N>& a, const FString<M>& b) {
  return compare_padded(a.view(), b.view()) < 0;
}

}  // namespace kinrad
