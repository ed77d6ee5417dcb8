#include "likelihood/likelihood.hpp"

namespace kinrad {

// No unpacked copy yet.
void setgtype2() {}

}  // namespace kinrad
