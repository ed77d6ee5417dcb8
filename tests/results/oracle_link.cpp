// The likelihood engine's brute-force reference, built into the results tests as well: the
// error-rate objective is checked against it.
#include "likelihood/oracle.cpp"  // NOLINT(bugprone-suspicious-include)
