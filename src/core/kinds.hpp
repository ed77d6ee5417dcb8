#pragma once
// Integer and real kinds of the program. Their widths are part of the file formats, of the
// limits (at most 32767 offspring, 127 alleles a locus) and of the overflow behaviour, so they
// are fixed-width types, never plain int or long.
#include <cstdint>

// Module instances are constant-initialised where the compiler can do it for std::string
// members (g++ 12); clang++ 14 cannot, and there they are initialised dynamically, which is
// harmless because nothing reads a module during static initialisation.
#if defined(__clang__)
#define KINRAD_CONSTINIT
#else
#define KINRAD_CONSTINIT constinit
#endif

namespace kinrad {

using int1 = std::int8_t;
using int2 = std::int16_t;
using int4 = std::int32_t;
using int8 = std::int64_t;
using real4 = float;
using real8 = double;

}  // namespace kinrad
