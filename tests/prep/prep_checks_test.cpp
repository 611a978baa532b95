// parclas-prep on small hand-made herdbook files: one row per reading rule
// and per check, with the exit status, the report lines and the files a
// reader can verify by eye.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_program.h"
#include "prep/prep.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

struct PrepCase {
  const char* name;
  const char* pedigree;             // written to herdbook.txt
  const char* data;                 // written to records.txt when not empty
  std::vector<std::string> args;    // PED and DATA stand for the two files
  int status;
  std::vector<std::string> report;  // lines of report.txt, or of the error stream after a stop
                                    // (PEDFILE stands for the pedigree file's path)
  const char* ped_txt = nullptr;    // expected ped.txt when given
  const char* other_file = nullptr; // and one more file, "name\ncontent"
};

void PrintTo(const PrepCase& c, std::ostream* os) { *os << c.name; }

class PrepCheck : public ::testing::TestWithParam<PrepCase> {};

TEST_P(PrepCheck, StatusReportAndFiles) {
  const PrepCase& c = GetParam();
  ScratchDir scratch(std::string("prep-") + c.name);
  const fs::path ped = scratch.path() / "herdbook.txt";
  const fs::path data = scratch.path() / "records.txt";
  const fs::path out = scratch.path() / "out";
  write_file(ped, c.pedigree);
  if (*c.data != '\0') write_file(data, c.data);
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(a == "PED" ? ped.string() : a == "DATA" ? data.string() : a);
  args.insert(args.end(), {"--out", out.string()});
  std::ostringstream console;
  std::ostringstream errors;
  ASSERT_EQ(prep::run_prep(args, console, errors), c.status) << errors.str();
  const std::string report = c.status == 0 ? read_file(out / "report.txt") : errors.str();
  for (std::string line : c.report) {
    if (const size_t at = line.find("PEDFILE"); at != std::string::npos) line.replace(at, 7, ped.string());
    EXPECT_NE(report.find(line + "\n"), std::string::npos) << "missing line: " << line << "\n" << report;
  }
  if (c.status != 0) {
    EXPECT_FALSE(fs::exists(out)) << "a stopped preparation wrote its output folder";
    return;
  }
  for (const char* name : {"ped.txt", "data.txt", "par.txt", "answers", "animals.txt", "levels.txt"}) {
    EXPECT_TRUE(fs::exists(out / name)) << name;
  }
  EXPECT_EQ(read_file(out / "answers"), "par.txt\n2\n");
  if (c.ped_txt != nullptr) {
    EXPECT_EQ(read_file(out / "ped.txt"), c.ped_txt);
  }
  if (c.other_file != nullptr) {
    const std::string file = c.other_file;
    const size_t nl = file.find('\n');
    EXPECT_EQ(read_file(out / file.substr(0, nl)), file.substr(nl + 1)) << file.substr(0, nl);
  }
}

const std::vector<std::string> kPed = {"--pedigree", "PED"};

std::vector<std::string> with(std::vector<std::string> more) {
  more.insert(more.begin(), kPed.begin(), kPed.end());
  return more;
}

const PrepCase kCases[] = {
    // Reading
    {"header_parents_after_offspring", "id sire dam born\nC A B 2001\nA 0 0 1995\nB 0 0 1996\n", "", kPed, 0,
     {"pedigree columns: id=id sire=sire dam=dam birth=born"},
     "1 0 0 3 1 A\n2 0 0 3 2 B\n3 1 2 1 7 C\n",
     "par.txt\ndata.txt\nped.txt\nparclas-prep of herdbook.txt\n2 2\n1 1 0\n2 3 -1\n"},
    {"r_quotes_row_names_dam_before_sire", "\"id\" \"dam\" \"sire\"\n\"1\" \"c1\" NA NA\n\"2\" \"c2\" NA NA\n\"3\" \"k\" \"c1\" \"c2\"\n",
     "", kPed, 0, {"pedigree file: PEDFILE (blank separated, header line, row names)"},
     "1 0 0 3 1 c1\n2 0 0 3 1 c2\n3 2 1 1 2 k\n", "data.txt\n1 1\n1 2\n1 3\n"},
    {"semicolons_empty_fields_more_missing_codes", "animal;father;mother;birth\nY;X;;2003\nX;;-;2000\n", "",
     with({"--missing", "-"}), 0, {"pedigree columns: id=animal sire=father dam=mother birth=birth"},
     "1 0 0 3 1 X\n2 1 0 2 4 Y\n"},
    {"no_header_tabs_birth_dates", "A\t0\t0\t03.05.1990\nB\tA\t0\t1994-01-02\n", "", kPed, 0,
     {"pedigree columns: id=column 1 sire=column 2 dam=column 3 birth=column 4"}, "1 0 0 3 1 A\n2 1 0 2 5 B\n"},
    {"columns_chosen_by_name", "Tier,Mutter,Vater\nK,M,V\n", "", with({"--columns", "id=Tier,sire=Vater,dam=Mutter"}), 0,
     {"parents without a line, added as founders: 2"}, "1 0 0 3 1 V\n2 0 0 3 1 M\n3 1 2 1 2 K\n"},
    {"names_holding_known_words_zeros_unknown", "animal_number,sire_no,dam_no\nA,000,\nB,A,0000\n", "", kPed, 0,
     {"pedigree columns: id=animal_number sire=sire_no dam=dam_no birth=none"}, "1 0 0 3 1 A\n2 1 0 2 2 B\n"},
    {"identifier_with_blanks", "id,sire,dam\n\"cow 1\",,\n\"cow 2\",\"bull x\",\n", "", kPed, 0,
     {"identifiers with blanks, written with '_' in ped.txt: 3", "  cow 2 -> cow_2"},
     "1 0 0 3 1 cow_1\n2 0 0 3 1 bull_x\n3 2 0 2 2 cow_2\n", "animals.txt\n1 cow 1\n2 bull x\n3 cow 2\n"},
    {"long_identifiers_cut_and_numbered", "id sire dam\nABCDEFGHIJKLMNOPQR 0 0\nABCDEFGHIJKLMNOPXY 0 0\n", "", kPed, 0,
     {"identifiers longer than 16 characters, cut in ped.txt: 2", "shortened identifiers that collided, numbered: 1",
      "  ABCDEFGHIJKLMNOPXY -> ABCDEFGHIJKLMN~2"},
     "1 0 0 3 1 ABCDEFGHIJKLMNOP\n2 0 0 3 1 ABCDEFGHIJKLMN~2\n",
     "animals.txt\n1 ABCDEFGHIJKLMNOPQR\n2 ABCDEFGHIJKLMNOPXY\n"},
    // Checks
    {"identical_duplicates_merged", "id sire dam\nA 0 0\nB A 0\nB A 0\n", "", kPed, 0,
     {"duplicate lines merged: 1", "  B (lines 3 and 4)"}, "1 0 0 3 1 A\n2 1 0 2 2 B\n"},
    {"conflicting_duplicates_stop", "id sire dam\nS 0 0\nB S 0\nB 0 S\n", "", kPed, 1,
     {"duplicate identifiers with conflicting parents or birth years: 1 (error)", "  B (lines 3 and 4)"}},
    {"own_parent_link_removed", "id sire dam\nA A 0\n", "", kPed, 0,
     {"animals that are their own parent, link removed: 1 (warning)", "  A (sire)"}, "1 0 0 3 1 A\n"},
    {"loop_stops", "id sire dam born\nA B 0 2000\nB A 0 2005\n", "", kPed, 1,
     {"pedigree loops (--break-loops cuts them): 1 (error)",
      "  A (2000) -> sire B (2005) -> sire A (2000); youngest parent: sire B of A"}},
    {"loop_broken_at_youngest_parent", "id sire dam born\nA B 0 2000\nB A 0 2005\n", "", with({"--break-loops"}), 0,
     {"pedigree loops, cut at the link to the youngest parent: 1 (warning)"}, "1 0 0 3 1 A\n2 1 0 2 6 B\n"},
    {"parent_younger_warning", "id sire dam born\nS 0 0 2005\nC S 0 2000\n", "", kPed, 0,
     {"parents born after their offspring: 1 (warning)", "  C (2000): sire S (2005)"}, "1 0 0 3 6 S\n2 1 0 2 1 C\n"},
    {"parent_younger_strict", "id sire dam born\nS 0 0 2005\nC S 0 2000\n", "", with({"--strict"}), 1,
     {"parents born after their offspring: 1 (error)"}},
    {"sire_and_dam", "id sire dam\nX 0 0\nA X 0\nB 0 X\n", "", kPed, 0,
     {"identifiers used both as sire and as dam: 1 (warning)", "  X"}},
    {"parents_without_line", "id sire dam\nC S D\n", "", kPed, 0,
     {"parents without a line, added as founders: 2", "  S", "  D"}, "1 0 0 3 1 S\n2 0 0 3 1 D\n3 1 2 1 2 C\n"},
    {"parent_named_like_unknown_code", "id sire dam\nA - ?\nB - NULL\n", "", kPed, 0,
     {"parents without a line named like an unknown-parent code (--missing CODE): 3 (warning)", "  -", "  ?",
      "  NULL"}},
    {"more_unknown_codes_given", "id sire dam\nA - ?\nB - NULL\n", "", with({"--missing", "-,?,NULL"}), 0, {},
     "1 0 0 3 1 A\n2 0 0 3 1 B\n"},
    {"birth_year_estimated", "id sire dam born\nS 0 0 NA\nC S 0 2000\nD C 0 2004\n", "", kPed, 0,
     {"birth years estimated from relatives (interval 4 years): 1", "  S 2000"},
     "1 0 0 3 1 S\n2 1 0 2 1 C\n3 2 0 2 5 D\n"},
    // Coding and limits
    {"span_over_100_years", "id sire dam born\nA 0 0 1900\nB A 0 2001\n", "", kPed, 1,
     {"  birth years 1900..2001 need 102 year values with 1 year(s) per value"}},
    {"years_per_value", "id sire dam born\nA 0 0 1900\nB A 0 2001\n", "", with({"--years-per-value", "2"}), 0, {},
     "1 0 0 3 1 A\n2 1 0 2 51 B\n"},
    {"groups_by_birth_year", "id sire dam born\nA 0 0 2000\nB 0 0 2004\nC A 0 2006\n", "", with({"--groups", "year:5"}),
     0, {"unknown parents as groups 4..5"}, "1 4 4 3 1 A\n2 4 4 3 5 B\n3 1 5 2 7 C\n"},
    {"family_limit_reported", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n", "",
     with({"--max-family", "3"}), 0,
     {"animals with at least 3 ancestors (family over 3 members; --trim cuts old links): 1 (warning)", "  C"}},
    {"family_limit_trimmed", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n", "",
     with({"--max-family", "3", "--trim"}), 0,
     {"trimmed: parents of the animals born before 1996 removed, 2 links cut",
      "animals with at least 3 ancestors (family over 3 members; --trim cuts old links): 0"},
     "1 0 0 3 1 G1\n2 0 0 3 1 G2\n3 0 0 3 6 P\n4 0 0 3 6 M\n5 3 4 1 11 C\n"},
    {"family_limit_auto", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n", "",
     with({"--max-family", "auto", "--trim"}), 0, {"family limit: auto (PARCLAS sizes families itself); not checked"},
     "1 0 0 3 1 G1\n2 0 0 3 1 G2\n3 0 0 3 6 M\n4 1 2 1 6 P\n5 4 3 1 11 C\n"},
    // Data file
    {"data_classes_scaled_added_animal", "id sire dam\nA 0 0\nB A 0\n",
     "id;herd;year;milk\nB;H2;2010;7001,5\nA;H1;2009;6500.25\nX;H2;2010;NA\n",
     with({"--data", "DATA", "--scale", "milk=10"}), 0,
     {"data animals missing from the pedigree, added as founders: 1", "  X", "data columns with unknown values, written as 0: 1",
      "  milk: 1"},
     "1 0 0 3 1 A\n2 0 0 3 1 X\n3 1 0 2 2 B\n", "data.txt\n1 3 2010 70015\n2 1 2009 65003\n1 2 2010 0\n"},
    {"data_parameter_and_levels", "id sire dam\nA 0 0\nB A 0\n", "id;herd;year;milk\nB;H2;2010;7001,5\nA;H1;2009;6500.25\n",
     with({"--data", "DATA", "--scale", "milk=10"}), 0, {"  data column herd: class effect"}, nullptr,
     "par.txt\ndata.txt\nped.txt\nparclas-prep of herdbook.txt\n2 4\n1 2 0\n2 2 -1\n"},
    {"data_decimals_need_scale", "id sire dam\nA 0 0\n", "id;milk\nA;1.5\n", with({"--data", "DATA"}), 1,
     {"parclas-prep: data column milk has numbers with decimals (first at line 2): give --scale milk=FACTOR"}},
    // Command line and unreadable input
    {"unknown_option", "id sire dam\nA 0 0\n", "", with({"--frobnicate"}), 2, {"parclas-prep: unknown option --frobnicate"}},
    {"unreadable_pedigree", "", "", {"--pedigree", "/nonexistent/herdbook.txt"}, 1,
     {"parclas-prep: cannot open /nonexistent/herdbook.txt"}},
};

INSTANTIATE_TEST_SUITE_P(Prep, PrepCheck, ::testing::ValuesIn(kCases),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

TEST(PrepCommandLine, MissingOutputFolderIsABadCommandLine) {
  std::ostringstream console;
  std::ostringstream errors;
  EXPECT_EQ(prep::run_prep({"--pedigree", "x.txt"}, console, errors), prep::kBadCommand);
  EXPECT_EQ(errors.str().rfind("parclas-prep: option --out is required\nusage: parclas-prep", 0), 0u) << errors.str();
}

}  // namespace
}  // namespace parclas
