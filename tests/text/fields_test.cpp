#include "text/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace parclas {
namespace {

struct Split {
  int count;
  std::vector<std::string> text;  // fields 1..count
  std::vector<int32_t> value;     // entries 1..capacity
};

// Splits `line` as the relationship file load does, into buffers whose
// numeric entries start at `previous`.
Split split(const std::string& line, int32_t previous = -9) {
  constexpr int kCapacity = 50;
  constexpr int kWidth = 16;
  char text[(kCapacity + 1) * kWidth];
  int32_t value[kCapacity + 1];
  for (int32_t& v : value) v = previous;
  Split s;
  s.count = split_fields(line, text, kWidth, value, kCapacity);
  for (int k = 1; k <= s.count && k <= kCapacity; ++k) s.text.emplace_back(text + k * kWidth, kWidth);
  s.value.assign(value, value + kCapacity + 1);
  return s;
}

std::string padded(const std::string& s) { return s + std::string(16 - s.size(), ' '); }

TEST(FieldSplitter, BlanksSeparateFields) {
  const Split s = split("   12  -7 00123   ab\tc ");
  ASSERT_EQ(s.count, 4);
  EXPECT_EQ(s.text[0], padded("12"));
  EXPECT_EQ(s.text[3], padded("ab\tc"));
  EXPECT_EQ(s.value[1], 12);
  EXPECT_EQ(s.value[2], -7);
  EXPECT_EQ(s.value[3], 123);
  EXPECT_EQ(s.value[4], 0);
  EXPECT_EQ(split(std::string(80, ' ')).count, 0);
  EXPECT_EQ(split("").count, 0);
}

TEST(FieldSplitter, NumericValueOfAField) {
  const std::pair<const char*, int32_t> cases[] = {
      {"12", 12}, {"-7", -7}, {"00123", 123}, {"12ab", 12}, {"1.5", 1},
      {"XY-12", 0}, {"-", 0}, {"+3", 0}, {"--5", 0}, {"-0", 0},
      {"2147483647", 2147483647},
      // Ten digits beyond the 32-bit range wrap around.
      {"4294967297", 1}, {"2147483648", -2147483647 - 1}, {"9999999999", 1410065407},
  };
  for (const auto& [field, value] : cases) EXPECT_EQ(field_number(field), value) << field;
}

TEST(FieldSplitter, LongFieldsAreCutAndGetNoNumber) {
  const Split s = split("1234567890 12345678901 ABCDEFGHIJKLMNOPQR", 77);
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(s.value[1], 1234567890);
  EXPECT_EQ(s.value[2], 77);  // 11 characters: the entry keeps what it held
  EXPECT_EQ(s.value[3], 77);
  EXPECT_EQ(s.text[1], padded("12345678901"));
  EXPECT_EQ(s.text[2], "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(split("ABCDEFGHIJKLMNOP").text[0], "ABCDEFGHIJKLMNOP");
}

TEST(FieldSplitter, AFieldEndingInTheLastColumnCounts) {
  std::string line(80, ' ');
  line.replace(0, 1, "5");
  line.replace(74, 6, "ID7890");
  const Split s = split(line);
  ASSERT_EQ(s.count, 2);
  EXPECT_EQ(s.text[1], padded("ID7890"));
}

TEST(IntegerSplicer, WritesSingleBlanksBetweenNumbers) {
  char out[5 * kSplicedWidth];
  const int32_t values[] = {12, -3, 0, 4500};
  const int p = splice_integers(out, values);
  EXPECT_EQ(std::string(out, p), "12 -3 0 4500");
  EXPECT_EQ(splice_integers(out, std::span<const int32_t>()), 0);
  const int32_t one[] = {7};
  EXPECT_EQ(std::string(out, splice_integers(out, one)), "7");
  const int32_t extremes[] = {-2147483647 - 1, 2147483647};
  EXPECT_EQ(std::string(out, splice_integers(out, extremes)), "-2147483648 2147483647");
}

}  // namespace
}  // namespace parclas
