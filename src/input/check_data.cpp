#include "input/check_data.hpp"

namespace kinrad {

// No data copy yet.
void checkdata() {}

}  // namespace kinrad
