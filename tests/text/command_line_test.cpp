#include "text/command_line.h"

#include <gtest/gtest.h>

namespace parclas {
namespace {

struct Settings {
  int64_t count = 0;
  bool flag = false;
  bool help = false;
};

constexpr OptionRow<Settings> kTable[] = {
    {"--count", "N",
     [](Settings& s, std::string_view v) {
       return read_count(v, 99, s.count) ? std::string() : "a whole number from 1 to 99";
     },
     "how many (default 0)", false, "counting:"},
    {"--flag", "",
     [](Settings& s, std::string_view) {
       s.flag = true;
       return std::string();
     },
     "a switch", false, "counting:"},
    {"--a-rather-long-option", "VALUE", [](Settings&, std::string_view) { return std::string(); },
     "first line\nsecond line"},
    {"--help", "",
     [](Settings& s, std::string_view) {
       s.help = true;
       return std::string();
     },
     "", true},
};

TEST(OptionTable, ArgumentsAndRefusals) {
  struct Case {
    std::vector<std::string> arguments;
    std::string refusal;
    int64_t count;
    bool flag;
  };
  const Case cases[] = {
      {{}, "", 0, false},
      {{"--count", "12"}, "", 12, false},
      {{"--count=7", "--flag"}, "", 7, true},
      {{"--count=", "--flag"}, "bad value for --count: '' (a whole number from 1 to 99)", 0, false},
      {{"--count", "+5"}, "bad value for --count: '+5' (a whole number from 1 to 99)", 0, false},
      {{"--count", "100"}, "bad value for --count: '100' (a whole number from 1 to 99)", 0, false},
      {{"--count"}, "option --count needs a value", 0, false},
      {{"--flag=yes"}, "option --flag takes no value", 0, false},
      {{"--frob"}, "unknown option: --frob", 0, false},
      {{"file.txt"}, "unknown option: file.txt", 0, false},
      {{"-count=3"}, "unknown option: -count=3", 0, false},
      {{"--help", "--frob"}, "", 0, false},  // nothing after --help is read
  };
  for (const Case& c : cases) {
    Settings s;
    EXPECT_EQ(apply_options<Settings>(kTable, c.arguments, s), c.refusal) << c.arguments.size();
    if (c.refusal.empty()) {
      EXPECT_EQ(s.count, c.count);
      EXPECT_EQ(s.flag, c.flag);
    }
  }
}

TEST(OptionTable, UsageFromTheTable) {
  const std::vector<HelpEntry> entries = help_entries<Settings>(kTable);
  EXPECT_EQ(synopsis("prog", entries, 40),
            "usage: prog [--count N] [--flag]\n"
            "            [--a-rather-long-option VALUE]\n"
            "            [--help]\n");
  EXPECT_EQ(option_lines(entries, 14),
            "counting:\n"
            "  --count N   how many (default 0)\n"
            "  --flag      a switch\n"
            "  --a-rather-long-option VALUE\n"
            "              first line\n"
            "              second line\n");
}

}  // namespace
}  // namespace parclas
