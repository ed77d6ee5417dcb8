#pragma once
// Field editors of the formatted I/O layer: each output editor appends exactly one field of
// w characters to a text (w asterisks when the value does not fit), the way a Fortran edit
// descriptor writes it; each input editor converts one field of w characters. The large
// per-pair files call the output editors directly into a reused buffer, so none of them
// allocates beyond appending to the output.
//
// Reals are converted from their exact binary value: ties round to even on that value, so
// 0.125 with F5.2 is " 0.12" and 9.995 (just below 9.995 in binary) is " 9.99".
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/io_status.hpp"

namespace kinrad {

// Iw (m < 0) and Iw.m: at least m digits, zero-padded; with m == 0 a zero value is w blanks.
void put_i(std::string& out, std::int64_t v, int w, int m = -1);

// Fw.d: the leading zero of a magnitude below 1 is written only when it fits (F3.2 of 0.5 is
// ".50"); a negative value keeps its sign when it rounds to zero (F5.2 of -0.001 is "-0.00"),
// as does -0.0.
void put_f(std::string& out, double v, int w, int d);

// ESw.d and ESw.dEe: one nonzero digit before the point (for nonzero values). Without e the
// exponent takes two digits after the letter, or three digits with the letter dropped when it
// exceeds 99 ("-1.000-300"); with e it takes e digits after the letter, or asterisks when it
// needs more.
void put_es(std::string& out, double v, int w, int d, int e = -1);

// Ew.d and Ew.dEe: "0.ddddE+xx" with the leading zero written only when it fits; d >= 1.
void put_e(std::string& out, double v, int w, int d, int e = -1);

// Aw: the leftmost w characters of s, or s right-justified in w; w < 0 writes s whole.
void put_a(std::string& out, std::string_view s, int w = -1);

// Lw: w - 1 blanks and T or F.
void put_l(std::string& out, bool v, int w);

// n blanks.
void put_x(std::string& out, int n);

// List-directed fields, without the separator that precedes them in a record. Integers take
// the width of their kind (4, 6, 11 and 20 characters for 1, 2, 4 and 8 bytes), reals 9
// (single) or 17 (double) significant digits in a field of 16 or 25 characters: fixed form
// followed by 4 or 5 blanks for 0.1 <= |v| < 10**digits and for zero, exponent form otherwise.
void put_list_integer(std::string& out, std::int64_t v, int kind_bytes);
void put_list_real(std::string& out, double v);
void put_list_real(std::string& out, float v);
void put_list_logical(std::string& out, bool v);

// Input editors. `field` is the w characters of the field (a record shorter than the field has
// already been padded with blanks). Blanks are ignored anywhere in a numeric field, and an
// all-blank field is zero. A field that is not a valid number leaves the variable as it was
// and returns IoStatus::error.

// Iw: an optional sign and at least one digit. A value outside lo..hi (the range of the
// variable's kind) is an error.
IoStatus get_i(std::string_view field, std::int64_t& v,
               std::int64_t lo = std::numeric_limits<std::int64_t>::min(),
               std::int64_t hi = std::numeric_limits<std::int64_t>::max());

// Fw.d, Ew.d, ESw.d: an optional sign, digits with at most one point, and an optional
// exponent written with E, D or Q (either case) and an optional sign, or as a sign alone
// ("1.5+3"). Without a point the digits carry d implied decimals ("1" read with F12.8 is
// 1e-8). A mantissa without digits reads as zero; an exponent letter without digits is an
// error. A magnitude beyond the range of the type gives an infinity, one below its smallest
// subnormal gives zero. "Inf", "Infinity" and "NaN" (any case, "NaN(...)" too, after an
// optional sign) give infinities and a quiet NaN. The result is rounded correctly to the
// type of the variable (a float is not rounded through double).
IoStatus get_f(std::string_view field, int d, double& v);
IoStatus get_f(std::string_view field, int d, float& v);

}  // namespace kinrad
