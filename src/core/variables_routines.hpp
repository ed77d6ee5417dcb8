#pragma once
// The small routines of the main module that every phase calls.
#include <optional>
#include <string>
#include <string_view>

#include "core/kinds.hpp"

namespace kinrad {

// One tick of a progress display: every step-th call writes a "." record (GUI) or overwrites
// the screen line with the text, or with the next spinner character when no text is given.
void writeprogress(int4& counter, int4 step, std::optional<std::string_view> text = std::nullopt);
// x written with the edit format fmt, without leading and trailing blanks.
std::string rtoc(real8 x, std::string_view fmt);
// The decimal digits of i, without blanks.
std::string itoc(int4 i);
// True exactly for a NaN.
bool isnanq(real8 x);
// Natural logarithm, with -1e300 (impossible) for arguments at or below 1e-300.
real8 logx(real8 x);
// Column of candidate j of sex s in the candidates' genotype table: the second sex's candidates
// follow the first's.
int4 candidate_column(int4 s, int4 j);
// The likelihood engine's thresholds at precision k >= 1: prec1 = prec2 = 0.1^(2k) and prec3 a
// tenth of that.
void set_precision_thresholds(int4 k);

}  // namespace kinrad
