#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// Copies the configuration archive of run krun.
void savearchive(int4 krun);
// With two or more complete runs, picks the best run and reloads its archive.
void selectrun(int4& firstq);

}  // namespace kinrad
