#pragma once
// The count of global operator new calls made so far by this test executable. Only the
// executables that check for allocations link support/counting_new.cpp, which replaces every
// form of the global new and delete; the others keep the library's allocator.

namespace kinrad::testing_support {

long allocation_count();

}  // namespace kinrad::testing_support
