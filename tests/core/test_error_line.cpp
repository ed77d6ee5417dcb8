// Error lines from pieces. Expected lines written by hand: integers in the fewest digits with a
// minus sign, fixed-length text without trailing blanks, plain text as given.
#include <gtest/gtest.h>

#include <string>

#include "core/error_line.hpp"
#include "core/fixed_string.hpp"
#include "core/modules.hpp"
#include "core/modules/variables.hpp"

namespace kinrad {
namespace {

TEST(ErrorLine, JoinsTextFixedTextAndIntegers) {
  const FString<8> id("ab");
  EXPECT_EQ(error_line("Offspring ", id, " at locus ", int4{12}, ": ", int8{-3000000000}, "!"),
            "Offspring ab at locus 12: -3000000000!");
  EXPECT_EQ(error_line(std::string("  kept "), int2{0}), "  kept 0");
  EXPECT_EQ(error_line(), "");
}

TEST(ErrorLine, SetErrorLineCutsToTheLineLength) {
  reset_all_modules();
  set_error_line(2, std::string(1000, 'x'));
  EXPECT_EQ(variables.errmsg(2).view(), std::string(999, 'x'));
  set_error_line(5, "short");
  EXPECT_EQ(variables.errmsg(5).trimmed(), "short");
}

}  // namespace
}  // namespace kinrad
