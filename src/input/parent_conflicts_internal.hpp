#pragma once
// Parent-conflict lists: for each offspring and sex, the offspring that cannot share its parent
// of that sex because a known parent of one of the two is excluded as a parent of the other.
#include "core/kinds.hpp"

namespace kinrad {

// Upper bound, in bytes, of what the conflict lists of both sexes and their work space take,
// worked out from the known parents and exclusion lists before any list is built. Offspring
// with the same known parent and the same exclusion list get the same list and are counted
// once.
int8 parent_conflict_memory_estimate();

// Builds variables.prntconflict, prntconflictid and anyprntconflictq, and frees the two
// tables again when neither sex has a conflict. Stops through the memory flag of the error
// stop when the estimate exceeds memory_limit bytes or an allocation fails.
void build_parent_conflicts(int8 memory_limit);

}  // namespace kinrad
