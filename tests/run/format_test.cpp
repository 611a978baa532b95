#include "run/format.h"

#include <gtest/gtest.h>

namespace parclas {
namespace {

std::string integer(int32_t v, int w, int m = 1) {
  std::string s;
  put_integer(s, v, w, m);
  return s;
}

TEST(IntegerField, WidthsAndOverflow) {
  EXPECT_EQ(integer(-1234567, 8), "-1234567");
  EXPECT_EQ(integer(123456789, 8), "********");
}

}  // namespace
}  // namespace parclas
