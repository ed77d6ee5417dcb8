// Screen statements reach standard output at once, whether they complete their line or leave
// it open, so that a user following a log or a pipe sees every line when it is written.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "core/format_write.hpp"

namespace kinrad {
namespace {

// Keeps what is written and counts the flushes that reach it.
class CountingBuf : public std::stringbuf {
 public:
  int syncs = 0;

 protected:
  int sync() override {
    ++syncs;
    return std::stringbuf::sync();
  }
};

TEST(ScreenFlush, EveryStatementToStandardOutputIsFlushed) {
  CountingBuf buf;
  std::streambuf* old = std::cout.rdbuf(&buf);
  fwrite(std::cout, "(A)", "a completed line");
  const int after_line = buf.syncs;
  fwrite(std::cout, "(A,$)", "an open line");
  const int after_open = buf.syncs;
  fwrite(std::cout, "(2A)", "two ", "records/");
  const int after_two = buf.syncs;
  std::cout.rdbuf(old);
  EXPECT_EQ(after_line, 1);
  EXPECT_EQ(after_open, 2);
  EXPECT_EQ(after_two, 3);
  EXPECT_EQ(buf.str(), "a completed line\nan open linetwo records/\n");
}

TEST(ScreenFlush, OtherStreamsAreNotFlushed) {
  CountingBuf buf;
  std::ostream out(&buf);
  fwrite(out, "(A)", "a file line");
  EXPECT_EQ(buf.syncs, 0);
  EXPECT_EQ(buf.str(), "a file line\n");
}

}  // namespace
}  // namespace kinrad
