#include "program/run_archive.hpp"

namespace kinrad {

// No archive yet.
void savearchive(int4) {}
void selectrun(int4&) {}

}  // namespace kinrad
