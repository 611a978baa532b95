// The parts of parclas-prep whose mistakes would not show in a small file:
// the family-limit count against a plain count of ancestor sets on random
// pedigrees, and the reading of fields.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "prep/conventions.h"
#include "prep/family_limit.h"
#include "prep/pedigree.h"
#include "prep/table_reader.h"
#include "prep/values.h"
#include "splitmix.h"

namespace parclas::prep {
namespace {

// A random pedigree of n animals in birth order; parents from the animals
// born before, often the same few sires, sometimes sire = dam.
Pedigree random_pedigree(uint32_t n, uint64_t seed, std::vector<int32_t>& year) {
  SplitMix64 random = SplitMix64::seeded(seed, 1);
  auto next = [&](uint32_t below) { return static_cast<uint32_t>(random.remainder_below(below)); };
  Pedigree p;
  year.clear();
  for (uint32_t a = 0; a < n; ++a) {
    p.animal("a" + std::to_string(a), Origin::Line);
    year.push_back(static_cast<int32_t>(a / 10));
    if (a < 5 || next(10) == 0) continue;
    p.sire[a] = static_cast<int32_t>(next(5) == 0 ? next(5) : next(a));
    p.dam[a] = next(20) == 0 ? p.sire[a] : static_cast<int32_t>(next(a));
  }
  return p;
}

size_t plain_ancestor_count(const Pedigree& p, const std::vector<int32_t>& year, int32_t cut_before, uint32_t a) {
  std::set<uint32_t> seen;
  std::vector<uint32_t> todo{a};
  while (!todo.empty()) {
    const uint32_t x = todo.back();
    todo.pop_back();
    if (year[x] < cut_before) continue;
    for (const int32_t q : {p.sire[x], p.dam[x]}) {
      if (q != kUnknown && seen.insert(static_cast<uint32_t>(q)).second) todo.push_back(static_cast<uint32_t>(q));
    }
  }
  return seen.size();
}

TEST(FamilyLimit, MarksExactlyTheAnimalsWithTooManyAncestors) {
  std::vector<int32_t> year;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    const Pedigree p = random_pedigree(400, seed, year);
    const std::vector<uint32_t> order = parents_first_order(p);
    for (const uint32_t limit : {1u, 7u, 40u, 150u}) {
      for (const int32_t cut_before : {INT32_MIN, 12, 30}) {
        const auto over = animals_over_limit(p, order, year, cut_before, limit, false);
        for (uint32_t a = 0; a < p.size(); ++a) {
          ASSERT_EQ(over[a] != 0, plain_ancestor_count(p, year, cut_before, a) >= limit)
              << "seed " << seed << " limit " << limit << " cut " << cut_before << " animal " << a;
        }
      }
    }
    // The earliest fitting year: everything fits there, not one year before.
    const int32_t y = earliest_fitting_year(p, order, year, 40);
    auto fits = [&](int32_t cut) {
      for (uint32_t a = 0; a < p.size(); ++a) {
        if (plain_ancestor_count(p, year, cut, a) >= 40) return false;
      }
      return true;
    };
    EXPECT_TRUE(fits(y)) << seed;
    if (y > 0) {
      EXPECT_FALSE(fits(y - 1)) << seed;
    }
  }
}

TEST(FieldSplitter, QuotesSeparatorsAndBlanks) {
  FieldSplitter s;
  auto fields = [&](std::string_view line, Separator sep) {
    const auto f = s.split(line, sep);
    return std::vector<std::string>(f.begin(), f.end());
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(fields("  a \t b  c ", Separator::Blank), (V{"a", "b", "c"}));
  EXPECT_EQ(fields("\"cow 1\" \"say \"\"hi\"\"\" x", Separator::Blank), (V{"cow 1", "say \"hi\"", "x"}));
  EXPECT_EQ(fields("a;;\"b;c\" ; d ", Separator::Semicolon), (V{"a", "", "b;c", "d"}));
  EXPECT_EQ(fields("a\t\t", Separator::Tab), (V{"a", "", ""}));
  EXPECT_EQ(fields("\"open, quote", Separator::Comma), (V{"open, quote"}));
  EXPECT_EQ(fields("   ", Separator::Comma), V{});
}

TEST(Values, YearsAndNumbers) {
  EXPECT_EQ(parse_year("1995"), 1995);
  EXPECT_EQ(parse_year("12"), 12);
  EXPECT_EQ(parse_year("19950503"), 1995);
  EXPECT_EQ(parse_year("03.05.1995"), 1995);
  EXPECT_EQ(parse_year("1995-05-03"), 1995);
  EXPECT_EQ(parse_year("1995.0"), 1995);
  EXPECT_EQ(parse_year("5/3/95"), std::nullopt);
  EXPECT_EQ(parse_year("spring"), std::nullopt);
  EXPECT_EQ(classify_value("42", false).kind, ValueKind::Integer);
  EXPECT_EQ(classify_value("-42", false).integer, -42);
  EXPECT_EQ(classify_value("4.5", false).kind, ValueKind::Decimal);
  EXPECT_EQ(classify_value("4,5", true).real, 4.5);
  EXPECT_EQ(classify_value("4,5", false).kind, ValueKind::Text);
  EXPECT_EQ(classify_value("276000810332898", false).kind, ValueKind::Text);  // a code, not a quantity
  EXPECT_EQ(classify_value("inf", false).kind, ValueKind::Text);
}

}  // namespace
}  // namespace parclas::prep
