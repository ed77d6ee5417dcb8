#pragma once
// Which item types a read or write statement takes element by element, shared by the text
// reader and the unformatted files.
#include <cstddef>
#include <span>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"

namespace kinrad::detail {

template <class T>
inline constexpr bool is_fstring = false;
template <std::size_t N>
inline constexpr bool is_fstring<FString<N>> = true;

// Arrays whose elements are items of their own, in storage order.
template <class T>
inline constexpr bool is_element_array = false;
template <class T, int R>
inline constexpr bool is_element_array<FArray<T, R>> = true;
template <class T, class Alloc>
inline constexpr bool is_element_array<std::vector<T, Alloc>> = true;
template <class T, std::size_t E>
inline constexpr bool is_element_array<std::span<T, E>> = true;

template <class T>
inline constexpr bool is_span = false;
template <class T, std::size_t E>
inline constexpr bool is_span<std::span<T, E>> = true;

}  // namespace kinrad::detail
