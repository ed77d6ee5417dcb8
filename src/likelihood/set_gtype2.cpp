#include "likelihood/set_gtype2.hpp"

namespace kinrad {

// No unpacked copy yet.
void setgtype2() {}

}  // namespace kinrad
