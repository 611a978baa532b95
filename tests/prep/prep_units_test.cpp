// The parts of parclas-prep whose mistakes would not show in a small file:
// the family-limit count against a plain count of ancestor sets on random
// pedigrees, the reading of lines and fields, and the names and codes it
// knows.
#include <gtest/gtest.h>

#include <cstdio>
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
  using V = std::vector<std::string>;
  struct Row {
    const char* line;
    Separator separator;
    V fields;
    bool bad_quote;
  };
  const Row rows[] = {
      {"  a \t b  c ", Separator::Blank, {"a", "b", "c"}, false},
      {"\"cow 1\" \"say \"\"hi\"\"\" x", Separator::Blank, {"cow 1", "say \"hi\"", "x"}, false},
      {"a;;\"b;c\" ; d ", Separator::Semicolon, {"a", "", "b;c", "d"}, false},
      {"a\t\t", Separator::Tab, {"a", "", ""}, false},
      {"\" A \";\"  \";B ", Separator::Semicolon, {"A", "", "B"}, false},
      {"\"open, quote", Separator::Comma, {"open, quote"}, true},
      {"\"ab\"cd,e", Separator::Comma, {"ab", "e"}, true},
      {"\"ab\"x y", Separator::Blank, {"ab", "x", "y"}, true},
      {"ab\"c,d", Separator::Comma, {"ab\"c", "d"}, false},
      {"   ", Separator::Comma, {}, false},
  };
  for (const Row& r : rows) {
    const auto f = s.split(r.line, r.separator);
    EXPECT_EQ(V(f.begin(), f.end()), r.fields) << r.line;
    EXPECT_EQ(s.bad_quote(), r.bad_quote) << r.line;
  }
}

// The lines a file reads as, or its failure.
std::vector<std::string> lines_of_file(const std::string& bytes, std::string& failure) {
  const std::string path = ::testing::TempDir() + "prep-lines.txt";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  LineReader reader;
  std::vector<std::string> lines;
  if (reader.open(path)) {
    for (std::string_view line; reader.next(line);) lines.emplace_back(line);
  }
  failure = reader.failure();
  std::remove(path.c_str());
  if (failure.starts_with(path)) failure.replace(0, path.size(), "FILE");
  return lines;
}

std::string utf16(const std::u16string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t u : text) {
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += little ? std::string{lo, hi} : std::string{hi, lo};
  }
  return out;
}

TEST(LineReader, EncodingsAndLineEnds) {
  std::string failure;
  using V = std::vector<std::string>;
  EXPECT_EQ(lines_of_file("a\nb\r\nc", failure), (V{"a", "b", "c"}));
  EXPECT_EQ(lines_of_file("a\rb\rc\r", failure), (V{"a", "b", "c"}));
  EXPECT_EQ(lines_of_file("a\nb\rc\n", failure), (V{"a", "b", "c"}));
  EXPECT_EQ(lines_of_file("\xEF\xBB\xBF" "a\n", failure), (V{"a"}));
  EXPECT_EQ(lines_of_file(utf16(u"T\u00e4r\u20ac\U0001F404\r\nx", true), failure),
            (V{"T\xC3\xA4r\xE2\x82\xAC\xF0\x9F\x90\x84", "x"}));
  EXPECT_EQ(failure, "");
  // Over several blocks, in both byte orders, with characters of every
  // length cut anywhere by the block ends.
  std::u16string big;
  std::string expected;
  for (int k = 0; k < 120000; ++k) {
    big += u"id\u00e4\u4e2d\U0001F404;" + std::u16string(1, static_cast<char16_t>(u'0' + k % 10)) + u"\n";
    expected += std::string("id\xC3\xA4\xE4\xB8\xAD\xF0\x9F\x90\x84;") + static_cast<char>('0' + k % 10) + "\n";
  }
  for (const bool little : {true, false}) {
    std::string joined;
    for (const auto& l : lines_of_file(utf16(big, little), failure)) joined += l + "\n";
    EXPECT_EQ(joined, expected) << little;
    EXPECT_EQ(failure, "");
  }
  lines_of_file(std::string("ab\ncd\ne\0f\n", 10), failure);
  EXPECT_EQ(failure, "FILE:3: a NUL byte: binary file, or UTF-16 without byte-order mark");
  lines_of_file(utf16(u"ab\n", true) + std::string("\x3D\xD8", 2) + "x", failure);
  EXPECT_EQ(failure, "FILE:2: the file ends inside a UTF-16 character");
}

TEST(Conventions, ColumnNamesOfEveryLanguage) {
  const std::pair<const char*, Role> known[] = {
      {"Animal_ID", Role::Id},     {"Tier", Role::Id},           {"Ohrmarke", Role::Id},
      {"identifiant", Role::Id},   {"Individuo", Role::Id},      {"matricola", Role::Id},
      {"Levensnummer", Role::Id},  {"Djur", Role::Id},           {"dyr", Role::Id},
      {"Father", Role::Sire},      {"Vater", Role::Sire},        {"P\xC3\xA8re", Role::Sire},
      {"P\xE8re", Role::Sire},     {"padre", Role::Sire},        {"Vader", Role::Sire},
      {"Far", Role::Sire},         {"is\xC3\xA4", Role::Sire},   {"Mother", Role::Dam},
      {"Mutter", Role::Dam},       {"m\xC3\xA8re", Role::Dam},   {"Madre", Role::Dam},
      {"moeder", Role::Dam},       {"Mor", Role::Dam},           {"em\xC3\xA4", Role::Dam},
      {"Birth date", Role::Birth}, {"Geburtsdatum", Role::Birth}, {"Geb.-Jahr", Role::Birth},
      {"date_naissance", Role::Birth}, {"Fecha de nacimiento", Role::Birth}, {"a\xC3\xB1o", Role::Birth},
      {"data di nascita", Role::Birth}, {"Geboortedatum", Role::Birth}, {"f\xC3\xB8" "dselsdato", Role::Birth},
      {"F\xC3\xB6" "delse\xC3\xA5r", Role::Birth}, {"syntym\xC3\xA4vuosi", Role::Birth}};
  for (const auto& [name, role] : known) {
    EXPECT_EQ(role_of(name), role) << name;
  }
  for (const char* name : {"Herd", "Betrieb", "Milch", "sex", "Breed", "BV"}) EXPECT_EQ(role_of(name), std::nullopt) << name;
  EXPECT_EQ(role_of("s", false), std::nullopt);
  EXPECT_EQ(role_of("s"), Role::Sire);
}

TEST(Conventions, UnknownCodes) {
  UnknownCodes codes;
  for (const auto code : default_unknown_codes()) {
    EXPECT_TRUE(codes.parent(code)) << code;
  }
  for (const char* code : {"", "0", "000", "NA", "na", "N/A", ".", "-", "?", "NULL", "Null", "unknown", "UNKNOWN",
                           "unk", "Unk", "none", "NONE"}) {
    EXPECT_TRUE(codes.parent(code)) << code;
  }
  for (const char* id : {"10", "N", "0A", "NA1", "nan", "DE0100000001", "-1"}) EXPECT_FALSE(codes.parent(id)) << id;
  EXPECT_FALSE(codes.value("0"));  // a value, not a code, in a data column
  EXPECT_TRUE(codes.value("n/a"));
  codes.add("Unbek");
  EXPECT_TRUE(codes.parent("UNBEK"));
  EXPECT_TRUE(codes.value("unbek"));
  for (const char* code : {"nan", "NaN", "missing", "#N/A", "---", "*", "-9", "0.0", "unbekannt", "onbekend"}) {
    EXPECT_TRUE(looks_like_unknown_code(code)) << code;
  }
  for (const char* id : {"A1", "12", "DE01", "1-2", "sire"}) EXPECT_FALSE(looks_like_unknown_code(id)) << id;
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
