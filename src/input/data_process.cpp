#include "input/data_process.hpp"

namespace kinrad {

// No preprocessing yet.
void dataprocess() {}

}  // namespace kinrad
