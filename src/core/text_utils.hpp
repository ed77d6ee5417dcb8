#pragma once
// Identifier lookup, text compaction, file deletion and the split of a range over processes.
#include <cstddef>
#include <string_view>

#include "core/fixed_string.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// The offspring number whose identifier equals id, found by halving over idx(1..n), which
// orders variables.offspringid ascending by bytes; 0 when there is none.
void locateoffspring(const int4* idx, int4 n, const FString<20>& id, int4& pos);

// Compacts the text str(1..len): blanks go, and every comma is followed by one blank.
// str(1..n) holds the result; characters after position n are left as they were. A result
// longer than the buffer is cut at its end (n = len).
void cleanstring(char* str, std::size_t len, int4& n);

template <std::size_t N>
void cleanstring(FString<N>& str, int4& n) {
  cleanstring(str.data(), N, n);
}

// Deletes the file named by name without its trailing blanks, when it exists.
void opendeletefile(std::string_view name);

// range(1..2): the first and last item of 1..n that process variables.threadid of
// variables.numthreads takes; the first n mod numthreads processes take one item more.
void setthreadtask(int4 n, int4* range);

}  // namespace kinrad
