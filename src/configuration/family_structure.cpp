#include "configuration/configuration_internal.hpp"

namespace kinrad {

void publish_family_structure(int4 /*wantstructure*/) {}

}  // namespace kinrad
