#include "text/format.h"

#include <gtest/gtest.h>

namespace parclas {
namespace {

std::string integer(int32_t v, int w, int m = 1) {
  std::string s;
  put_integer(s, v, w, m);
  return s;
}

std::string fixed(float v, int w, int d) {
  std::string s;
  put_fixed(s, v, w, d);
  return s;
}

std::string list_integer(int32_t v) {
  std::string s;
  put_list_integer(s, v);
  return s;
}

std::string list_real(float v) {
  std::string s;
  put_list_real(s, v);
  return s;
}

std::vector<std::string> lines(const Format& f, std::initializer_list<Item> items) {
  std::string text;
  std::vector<size_t> ends;
  f.apply(items, text, ends);
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end : ends) {
    out.push_back(text.substr(start, end - start));
    start = end;
  }
  return out;
}

TEST(IntegerField, RightAlignedWithAsterisksOnOverflow) {
  EXPECT_EQ(integer(-1234567, 8), "-1234567");
  EXPECT_EQ(integer(123456789, 8), "********");
  EXPECT_EQ(integer(-99, 3), "-99");
  EXPECT_EQ(integer(-100, 3), "***");
  EXPECT_EQ(integer(0, 7), "      0");
  EXPECT_EQ(integer(5, 12), "           5");
  EXPECT_EQ(integer(-2147483647 - 1, 11), "-2147483648");
  EXPECT_EQ(integer(-2147483647 - 1, 10), "**********");
}

// The field written into a character buffer is the Iw field, for values of
// every length and sign, and widths that fit and that do not.
TEST(IntegerField, IntoABufferAsIntoALine) {
  for (const int32_t v : {0, 7, -7, 10, 99, -100, 12345678, 123456789, -12345678, 2147483647,
                          -2147483647 - 1}) {
    for (const int width : {1, 3, 8, 11, 12}) {
      char field[16];
      put_integer_field(field, v, width);
      EXPECT_EQ(std::string(field, static_cast<size_t>(width)), integer(v, width)) << v;
    }
  }
}

TEST(IntegerField, MinimumDigits) {
  EXPECT_EQ(integer(7, 4, 2), "  07");
  EXPECT_EQ(integer(5, 4, 2), "  05");
  EXPECT_EQ(integer(0, 4, 2), "  00");
  EXPECT_EQ(integer(123, 4, 2), " 123");
  EXPECT_EQ(integer(100, 4, 2), " 100");
  EXPECT_EQ(integer(-5, 4, 2), " -05");
}

TEST(FixedField, RoundsAndAligns) {
  EXPECT_EQ(fixed(3.04f, 7, 1), "    3.0");
  EXPECT_EQ(fixed(123.4f, 5, 2), "*****");
  EXPECT_EQ(fixed(0.1234f, 8, 3), "   0.123");
  EXPECT_EQ(fixed(1.5f, 8, 3), "   1.500");
  EXPECT_EQ(fixed(0.7f, 4, 1), " 0.7");
  EXPECT_EQ(fixed(0.25f, 5, 2), " 0.25");
  EXPECT_EQ(fixed(0.0f, 8, 3), "   0.000");
  EXPECT_EQ(fixed(2.6f, 7, 1), "    2.6");
  EXPECT_EQ(fixed(-1.25f, 6, 2), " -1.25");
}

TEST(FixedField, DropsLeadingZeroOnlyWhenNeeded) {
  EXPECT_EQ(fixed(0.7f, 3, 1), "0.7");
  EXPECT_EQ(fixed(0.7f, 2, 1), ".7");
  EXPECT_EQ(fixed(-0.7f, 3, 1), "-.7");
  EXPECT_EQ(fixed(0.7f, 1, 1), "*");
}

TEST(FixedField, HalfwayValuesRoundToEven) {
  // 0.125 and 0.375 are exact in binary: ties go to the even digit.
  EXPECT_EQ(fixed(0.125f, 5, 2), " 0.12");
  EXPECT_EQ(fixed(0.375f, 5, 2), " 0.38");
  // 0.0625 of a year's average prints with three decimals as 0.062.
  EXPECT_EQ(fixed(0.0625f, 8, 3), "   0.062");
}

TEST(ListItems, IntegersTakeTwelveCharacters) {
  EXPECT_EQ(list_integer(5), "           5");
  EXPECT_EQ(list_integer(-500000), "     -500000");
}

TEST(ListItems, RealsTakeFifteenCharacters) {
  EXPECT_EQ(list_real(0.5f), "  0.5000000    ");
  EXPECT_EQ(list_real(12.5f), "   12.50000    ");
  EXPECT_EQ(list_real(0.0123f), "  1.2300000E-02");
  EXPECT_EQ(list_real(0.0f), "  0.0000000E+00");
  EXPECT_EQ(list_real(0.05f), "  5.0000001E-02");
  EXPECT_EQ(list_real(1234567.0f), "   1234567.    ");
  EXPECT_EQ(list_real(12345678.0f), "  1.2345678E+07");
  EXPECT_EQ(list_real(-0.25f), " -0.2500000    ");
  EXPECT_EQ(list_real(0.099999994f), "  9.9999994E-02");
  EXPECT_EQ(list_real(9999999.0f), "   9999999.    ");
  EXPECT_EQ(list_real(10000000.0f), "  1.0000000E+07");
  EXPECT_EQ(list_real(0.99999994f), "  0.9999999    ");
}

TEST(Layout, LiteralsFieldsAndText) {
  EXPECT_EQ(lines(Format("(' read',I8,' pedigree records')"), {3}),
            std::vector<std::string>{" read       3 pedigree records"});
  EXPECT_EQ(lines(Format("(' file ',A,' incomplete')"), {"par.txt             "}),
            std::vector<std::string>{" file par.txt              incomplete"});
  EXPECT_EQ(lines(Format("(I8,1X,A,1X,A)"), {12, "abc", "de"}),
            std::vector<std::string>{"      12 abc de"});
  EXPECT_EQ(lines(Format("(A5,A2)"), {"ab", "xyz"}), std::vector<std::string>{"   abxy"});
  EXPECT_EQ(lines(Format("(I3,I3,F4.1,I2)"), {5, 8, 0.7f, 1}),
            std::vector<std::string>{"  5  8 0.7 1"});
}

TEST(Layout, SlashStartsANewLine) {
  EXPECT_EQ(lines(Format("(/' Inbreeding')"), {}),
            (std::vector<std::string>{"", " Inbreeding"}));
  EXPECT_EQ(lines(Format("(I2/I2)"), {1, 2}), (std::vector<std::string>{" 1", " 2"}));
}

TEST(Layout, StopsAtTheFirstFieldWithoutAnItem) {
  // Literals before that field are still written.
  EXPECT_EQ(lines(Format("(' a',I8,' b')"), {1}), std::vector<std::string>{" a       1 b"});
  EXPECT_EQ(lines(Format("(5I8)"), {1500, 40}),
            std::vector<std::string>{"    1500      40"});
  EXPECT_EQ(lines(Format("(' hash matrix too small')"), {}),
            std::vector<std::string>{" hash matrix too small"});
  EXPECT_EQ(lines(Format("(' x',I2,' y',I2)"), {}), std::vector<std::string>{" x"});
}

TEST(Layout, ReversionRestartsAtTheLastTopLevelGroup) {
  std::initializer_list<Item> items25 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                         14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  const auto tens = lines(Format("(10I8)"), items25);
  ASSERT_EQ(tens.size(), 3u);
  EXPECT_EQ(tens[0].size(), 80u);
  EXPECT_EQ(tens[1].size(), 80u);
  EXPECT_EQ(tens[2], "      21      22      23      24      25");

  std::initializer_list<Item> items20 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                         11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  const auto thirteen = lines(Format("(13I6)"), items20);
  ASSERT_EQ(thirteen.size(), 2u);
  EXPECT_EQ(thirteen[0].size(), 78u);
  EXPECT_EQ(thirteen[1].size(), 42u);

  // With a group, the header is written once and the group repeats.
  EXPECT_EQ(lines(Format("(' h',(I2))"), {1, 2, 3}),
            (std::vector<std::string>{" h 1", " 2", " 3"}));
  EXPECT_EQ(lines(Format("(' h',2(I2))"), {1, 2, 3}),
            (std::vector<std::string>{" h 1 2", " 3"}));
}

TEST(Layout, RealToIntegerTruncatesAndSaturates) {
  EXPECT_EQ(truncate_to_integer(3.9f), 3);
  EXPECT_EQ(truncate_to_integer(-1.5f), -1);
  EXPECT_EQ(truncate_to_integer(2.9f), 2);
  EXPECT_EQ(truncate_to_integer(3.0e9f), 2147483647);
  EXPECT_EQ(truncate_to_integer(-3.0e9f), -2147483647 - 1);
}

}  // namespace
}  // namespace parclas
