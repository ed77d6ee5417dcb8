// Replacements of the global operator new and delete that count every allocation, for the
// tests that check a warm loop allocates nothing. Linked only into the executables that count.
#include "support/counting_new.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

long kinrad::testing_support::allocation_count() {
  return allocations.load();
}

// The replacements below pair malloc with free by design; once inlined into the test factories,
// g++ sees the replaced new beside the sized delete and reports a mismatch that is not there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The nothrow forms too (the temporary buffer of std::stable_sort takes one and gives it back
// through the plain delete): every form of new below pairs with the deletes below.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++allocations;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  ++allocations;
  return std::malloc(n == 0 ? 1 : n);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
