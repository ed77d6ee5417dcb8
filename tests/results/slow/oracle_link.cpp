// The likelihood engine's brute-force reference, for the sample builder of the error-rate tests.
#include "likelihood/oracle.cpp"  // NOLINT(bugprone-suspicious-include)
