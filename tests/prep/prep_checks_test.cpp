// parclas-prep on small hand-made herdbook files: one row per reading rule
// and per check, with the exit status, the console and report lines and the
// files a reader can verify by eye. A stop must leave the output folder as
// it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_program.h"
#include "prep/prep.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

// The text in UTF-16 with its byte-order mark (ASCII text only).
std::string utf16(const std::string& text, bool little, bool mark = true) {
  std::string out = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (const char c : text) {
    out += little ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return out;
}

struct PrepCase {
  const char* name;
  std::string pedigree;           // written to herdbook.txt
  std::string data;               // written to records.txt when not empty
  std::vector<std::string> args;  // PED and DATA stand for the two files
  int status;
  // Lines of report.txt, or after a stop of the console and the error
  // stream; PEDFILE, DATAFILE and OUT stand for the paths.
  std::vector<std::string> report;
  const char* ped_txt = nullptr;     // expected ped.txt when given
  const char* other_file = nullptr;  // and one more file, "name\ncontent"
  std::vector<std::string> out_before = {};  // files in the output folder before the run
  std::vector<std::string> out_after = {};   // of them, those still there after it
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
  if (!c.data.empty()) write_file(data, c.data);
  if (!c.out_before.empty()) fs::create_directory(out);
  for (const auto& name : c.out_before) write_file(out / name, "earlier " + name + "\n");
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(a == "PED" ? ped.string() : a == "DATA" ? data.string() : a);
  args.insert(args.end(), {"--out", out.string()});
  std::ostringstream console;
  std::ostringstream errors;
  ASSERT_EQ(prep::run_prep(args, console, errors), c.status) << console.str() << errors.str();
  const std::string report = c.status == 0 ? read_file(out / "report.txt") : console.str() + errors.str();
  for (std::string line : c.report) {
    for (const auto& [name, path] : {std::pair{"PEDFILE", ped.string()}, std::pair{"DATAFILE", data.string()},
                                     std::pair{"OUT", out.string()}}) {
      for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + path.size())) {
        line.replace(at, std::string(name).size(), path);
      }
    }
    EXPECT_NE(report.find(line + "\n"), std::string::npos) << "missing line: " << line << "\n" << report;
  }
  for (const auto& name : c.out_after) {
    EXPECT_EQ(read_file(out / name), "earlier " + name + "\n") << name << " was touched";
  }
  if (c.status != 0) {
    if (c.out_before.empty()) {
      EXPECT_FALSE(fs::exists(out)) << "a stopped preparation wrote its output folder";
    } else {
      EXPECT_EQ(c.out_after, c.out_before) << "a stop must leave every earlier file";
      EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(out), fs::directory_iterator())),
                c.out_before.size());
    }
    return;
  }
  EXPECT_NE(console.str().find("\nrun: cd " + out.string() + " && parclas"), std::string::npos) << console.str();
  for (const char* name : {"ped.txt", "data.txt", "par.txt", "answers", "animals.txt", "levels.txt"}) {
    EXPECT_TRUE(fs::exists(out / name)) << name;
  }
  for (const auto& name : c.out_before) {
    const bool kept = std::find(c.out_after.begin(), c.out_after.end(), name) != c.out_after.end();
    const bool ours = fs::exists(out / name) && read_file(out / name) != "earlier " + name + "\n";
    EXPECT_TRUE(kept || ours || !fs::exists(out / name)) << name;
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

const char* const kTrio = "id sire dam born\nC A B 2001\nA 0 0 1995\nB 0 0 1996\n";
const char* const kTrioPed = "1 0 0 3 1 A\n2 0 0 3 2 B\n3 1 2 1 7 C\n";

const PrepCase kCases[] = {
    // Reading
    {"header_parents_after_offspring", kTrio, "", kPed, 0,
     {"pedigree columns: id=id sire=sire dam=dam birth=born"}, kTrioPed,
     "par.txt\ndata.txt\nped.txt\nparclas-prep of herdbook.txt\n2 2\n1 1 0\n2 3 -1\n"},
    {"r_quotes_row_names_dam_before_sire", "\"id\" \"dam\" \"sire\"\n\"1\" \"c1\" NA NA\n\"2\" \"c2\" NA NA\n\"3\" \"k\" \"c1\" \"c2\"\n",
     "", kPed, 0, {"pedigree file: PEDFILE (UTF-8, blank separated, header line, row names)"},
     "1 0 0 3 1 c1\n2 0 0 3 1 c2\n3 2 1 1 2 k\n", "data.txt\n1 1\n1 2\n1 3\n"},
    {"semicolons_empty_fields", "animal;father;mother;birth\nY;X;;2003\nX;;-;2000\n", "", kPed, 0,
     {"pedigree columns: id=animal sire=father dam=mother birth=birth"}, "1 0 0 3 1 X\n2 1 0 2 4 Y\n"},
    {"no_header_tabs_birth_dates", "A\t0\t0\t03.05.1990\nB\tA\t0\t1994-01-02\n", "", kPed, 0,
     {"pedigree columns: id=column 1 sire=column 2 dam=column 3 birth=column 4"}, "1 0 0 3 1 A\n2 1 0 2 5 B\n"},
    {"columns_chosen_by_name", "Tier,Mutter,Vater\nK,M,V\n", "", with({"--columns", "id=Tier,sire=Vater,dam=Mutter"}), 0,
     {"parents without a line, added as founders (most offspring first): 2"}, "1 0 0 3 1 M\n2 0 0 3 1 V\n3 2 1 1 2 K\n"},
    {"names_holding_known_words_zeros_unknown", "animal_number,sire_no,dam_no\nA,000,\nB,A,0000\n", "", kPed, 0,
     {"pedigree columns: id=animal_number sire=sire_no dam=dam_no birth=none"}, "1 0 0 3 1 A\n2 1 0 2 2 B\n"},
    {"identifier_with_blanks", "id,sire,dam\n\"cow 1\",,\n\"cow 2\",\"bull x\",\n", "", kPed, 0,
     {"identifiers with blanks, written with '_' in ped.txt: 3", "  cow 2 -> cow_2"},
     "1 0 0 3 1 bull_x\n2 0 0 3 1 cow_1\n3 1 0 2 2 cow_2\n", "animals.txt\n1 bull x\n2 cow 1\n3 cow 2\n"},
    {"identifiers_trimmed_quoted_or_not", "id;sire;dam\n\" A \";;\nB ; \"A \" ;\n  C;B;\"  \"\n", "", kPed, 0, {},
     "1 0 0 3 1 A\n2 1 0 2 2 B\n3 2 0 2 3 C\n"},
    {"files_joined_with_headers_and_marks", "id;sire;dam\nA;0;0\n\xEF\xBB\xBFid;sire;dam\nB;A\xC2\xA0;0\n", "", kPed, 0,
     {"PEDFILE: 1 more header lines below the first, passed over"}, "1 0 0 3 1 A\n2 1 0 2 2 B\n"},
    {"long_identifiers_cut_and_numbered", "id sire dam\nABCDEFGHIJKLMNOPQR 0 0\nABCDEFGHIJKLMNOPXY 0 0\n", "", kPed, 0,
     {"identifiers longer than 16 characters, cut in ped.txt: 2", "shortened identifiers that collided, numbered: 1",
      "  ABCDEFGHIJKLMNOPXY -> ABCDEFGHIJKLMN~2"},
     "1 0 0 3 1 ABCDEFGHIJKLMNOP\n2 0 0 3 1 ABCDEFGHIJKLMN~2\n",
     "animals.txt\n1 ABCDEFGHIJKLMNOPQR\n2 ABCDEFGHIJKLMNOPXY\n"},
    {"numbers_in_order_of_identifier_digits_by_value", "id sire dam\n10 0 0\n9 0 0\nx 0 0\n", "", kPed, 0, {},
     "1 0 0 3 1 9\n2 0 0 3 1 10\n3 0 0 3 1 x\n"},
    // Encodings and line ends: the trio read as from the plain file
    {"utf16_le_with_mark", utf16(kTrio, true), "", kPed, 0,
     {"pedigree file: PEDFILE (UTF-16 LE, blank separated, header line)"}, kTrioPed},
    {"utf16_be_with_mark_cr_lf", utf16("id\tsire\tdam\tborn\r\nC\tA\tB\t2001\r\nA\t0\t0\t1995\r\nB\t0\t0\t1996\r\n", false),
     "", kPed, 0, {"pedigree file: PEDFILE (UTF-16 BE, tab separated, header line)"}, kTrioPed},
    {"utf8_with_mark", std::string("\xEF\xBB\xBF") + kTrio, "", kPed, 0,
     {"pedigree file: PEDFILE (UTF-8 with byte-order mark, blank separated, header line)"}, kTrioPed},
    {"cr_line_ends", "id sire dam born\rC A B 2001\rA 0 0 1995\rB 0 0 1996\r", "", kPed, 0, {}, kTrioPed},
    {"utf16_without_mark_stops", utf16(kTrio, true, false), "", kPed, 1,
     {"parclas-prep: PEDFILE:1: a NUL byte: binary file, or UTF-16 without byte-order mark"}},
    {"nul_byte_stops", std::string("id sire dam\nA 0 0\nB A\0 0\n", 23), "", kPed, 1,
     {"parclas-prep: PEDFILE:3: a NUL byte: binary file, or UTF-16 without byte-order mark"}},
    {"utf16_lone_surrogate_stops", utf16("id sire dam\nA 0 0\n", true) + std::string("\x00\xD8\x41\x00", 4), "", kPed, 1,
     {"parclas-prep: PEDFILE:3: not valid UTF-16"}},
    // Every line has the table's field count
    {"field_too_many_at_the_top", "id;sire;dam\nA;0;0;x\nB;0;0\nC;A;B\n", "", kPed, 1,
     {"lines with another number of fields than the header (3; a trailing separator makes an empty field): 1 (error)",
      "  PEDFILE:2: 4 fields, the header has 3"}},
    {"field_too_few_in_the_middle_without_header", "A\t0\t0\nB\t0\t0\nC\tA\nD\tA\tB\nE\tA\tB\n", "", kPed, 1,
     {"  PEDFILE:3: 2 fields, most lines have 3"}},
    {"trailing_separator_is_a_field", "id,sire,dam\nA,0,0,\nB,0,0\n", "", kPed, 1, {"  PEDFILE:2: 4 fields, the header has 3"}},
    {"header_with_a_field_too_many", "id;sire;dam;\nA;0;0\nB;0;0\nC;A;B\n", "", kPed, 1,
     {"  PEDFILE:1: the header has 4 fields, most lines 3"}},
    {"quote_that_does_not_close", "id,sire,dam\nA,0,0\n\"B,0,0\n", "", kPed, 1, {"  PEDFILE:3: \"B,0,0"}},
    // Column names
    {"german_header", "Ohrmarke;Vater;Mutter;Geburtsdatum\nC;A;B;01.02.2001\nA;;;1995\nB;;;1996\n", "", kPed, 0,
     {"pedigree columns: id=Ohrmarke sire=Vater dam=Mutter birth=Geburtsdatum"}, kTrioPed},
    {"french_header_with_accents", "Identifiant;P\xC3\xA8re;M\xC3\xA8re;Date de naissance\nC;A;B;2001\nA;;;1995\nB;;;1996\n", "",
     kPed, 0, {"pedigree columns: id=Identifiant sire=P\xC3\xA8re dam=M\xC3\xA8re birth=Date de naissance"}, kTrioPed},
    {"partly_known_header_stops", "Nummer;Vater;Mutter\nC;A;B\n", "", kPed, 1,
     {"parclas-prep: PEDFILE:1: the header names sire=Vater, dam=Mutter but no id column (header: Nummer, Vater, "
      "Mutter): name them with --columns id=C,sire=C,dam=C"}},
    {"unknown_header_by_position", "Eins Zwei Drei\n1 0 0\n2 1 0\n", "", kPed, 0,
     {"warning: no known column names in the header of PEDFILE (Eins, Zwei, Drei): columns taken by position "
      "(--columns names them)"},
     "1 0 0 3 1 1\n2 1 0 2 2 2\n"},
    // Unknown parents
    {"default_unknown_codes", "id sire dam\nA NA n/a\nB . -\nC ? NULL\nD unknown UNK\nE None 000\nF \"\" 0\n", "", kPed, 0,
     {}, "1 0 0 3 1 A\n2 0 0 3 1 B\n3 0 0 3 1 C\n4 0 0 3 1 D\n5 0 0 3 1 E\n6 0 0 3 1 F\n"},
    {"more_unknown_codes_in_any_case", "id sire dam\nA x9 Unbek\nB X9 unbek\n", "", with({"--missing", "x9,UNBEK"}), 0, {},
     "1 0 0 3 1 A\n2 0 0 3 1 B\n"},
    {"parent_named_like_unknown_code_stops", "id sire dam\nA nan 0\nB nan -9\n", "", kPed, 1,
     {"parents without a line named like a code for an unknown parent (--missing CODE makes them unknown): 2 (error)",
      "  PEDFILE:2: 'nan', parent of 2", "  PEDFILE:3: '-9', parent of 1"}},
    {"parents_without_line_most_offspring_first", "id sire dam\nC S D\nE S 0\n", "", kPed, 0,
     {"parents without a line, added as founders (most offspring first): 2", "  S (2 offspring)", "  D (1 offspring)"},
     "1 0 0 3 1 D\n2 0 0 3 1 S\n3 2 1 1 2 C\n4 2 0 2 2 E\n"},
    // Checks
    {"identical_duplicates_merged", "id sire dam\nA 0 0\nB A 0\nB A 0\n", "", kPed, 0,
     {"duplicate lines merged: 1", "  PEDFILE:4: B, as on line 3"}, "1 0 0 3 1 A\n2 1 0 2 2 B\n"},
    {"conflicting_duplicates_stop", "id sire dam\nS 0 0\nB S 0\nB 0 S\n", "", kPed, 1,
     {"animals with a second line that gives other parents or another birth year: 1 (error)",
      "  PEDFILE:4: B, other than on line 3"}},
    {"line_without_identifier_stops", "id sire dam\nA 0 0\nNA A 0\n", "", kPed, 1,
     {"lines without identifier: 1 (error)", "  PEDFILE:3: 'NA'"}},
    {"own_parent_link_removed", "id sire dam\nA A 0\n", "", kPed, 0,
     {"animals that are their own parent, link removed: 1 (warning)", "  PEDFILE:2: A (sire)"}, "1 0 0 3 1 A\n"},
    {"same_sire_and_dam_stops", "id sire dam\nS 0 0\nX S S\n", "", kPed, 1,
     {"animals with the same identifier as sire and dam (--allow-selfing where selfing is real): 1 (error)",
      "  PEDFILE:3: X: sire and dam S"}},
    {"selfing_allowed", "id sire dam\nS 0 0\nX S S\n", "", with({"--allow-selfing"}), 0,
     {"animals with the same sire and dam (selfing accepted): 1 (warning)"}, "1 0 0 3 1 S\n2 1 1 1 2 X\n"},
    {"loop_stops", "id sire dam born\nA B 0 2000\nB A 0 2005\n", "", kPed, 1,
     {"pedigree loops (--break-loops cuts them): 1 (error)",
      "  PEDFILE:2: A (2000) -> sire B (2005) -> sire A (2000); youngest parent: sire B of A"}},
    {"loop_broken_at_youngest_parent", "id sire dam born\nA B 0 2000\nB A 0 2005\n", "", with({"--break-loops"}), 0,
     {"pedigree loops, cut at the link to the youngest parent: 1 (warning)"}, "1 0 0 3 1 A\n2 1 0 2 6 B\n"},
    {"parent_younger_warning", "id sire dam born\nS 0 0 2005\nC S 0 2000\n", "", kPed, 0,
     {"parents born after their offspring: 1 (warning)", "  PEDFILE:3: C (2000): sire S (2005)"}, "1 0 0 3 6 S\n2 1 0 2 1 C\n"},
    {"parent_younger_strict", "id sire dam born\nS 0 0 2005\nC S 0 2000\n", "", with({"--strict"}), 1,
     {"parents born after their offspring: 1 (error)"}},
    {"sire_and_dam_with_offspring", "id sire dam\nX 0 0\nA X 0\nB 0 X\nC X 0\n", "", kPed, 0,
     {"identifiers used both as sire and as dam: 1 (warning)", "  X: sire of A, C; dam of B"}},
    {"no_birth_column_warned", "id sire dam\nA 0 0\n", "", kPed, 0,
     {"warning: no birth column in PEDFILE: year values are generations + 1, and no parent is checked against its "
      "offspring's age (--columns birth=C names one)"}},
    {"birth_year_estimated", "id sire dam born\nS 0 0 NA\nC S 0 2000\nD C 0 2004\n", "", kPed, 0,
     {"birth years estimated from relatives (interval 4 years): 1", "  S 2000"},
     "1 0 0 3 1 S\n2 1 0 2 1 C\n3 2 0 2 5 D\n"},
    {"empty_pedigree_stops", "", "", kPed, 1, {"parclas-prep: PEDFILE: no animal: the file holds no line"}},
    {"header_only_pedigree_stops", "id sire dam\n", "", kPed, 1,
     {"parclas-prep: PEDFILE: no animal: no line below the header holds one"}},
    // Coding and limits
    {"span_over_100_years_names_both_ends", "id sire dam born\nA 0 0 1900\nB A 0 2001\n", "", kPed, 1,
     {"  birth years 1900..2001 need 102 year values with 1 year(s) per value; earliest A (1900, PEDFILE:2), latest "
      "B (2001, PEDFILE:3)"}},
    {"years_per_value", "id sire dam born\nA 0 0 1900\nB A 0 2001\n", "", with({"--years-per-value", "2"}), 0, {},
     "1 0 0 3 1 A\n2 1 0 2 51 B\n"},
    {"groups_by_birth_year", "id sire dam born\nA 0 0 2000\nB 0 0 2004\nC A 0 2006\n", "", with({"--groups", "year:5"}),
     0, {"unknown parents as groups 4..5"}, "1 4 4 3 1 A\n2 4 4 3 5 B\n3 1 5 2 7 C\n"},
    {"family_limit_reported_and_run_hint", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n",
     "", with({"--max-family", "3"}), 0,
     {"animals with at least 3 ancestors (family over 3 members; --trim cuts old links): 1 (warning)", "  C",
      "run: cd OUT && parclas --max-family auto < answers"}},
    {"family_limit_trimmed", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n", "",
     with({"--max-family", "3", "--trim"}), 0,
     {"trimmed: parents of the animals born before 1996 removed, 2 links cut",
      "animals with at least 3 ancestors (family over 3 members; --trim cuts old links): 0"},
     "1 0 0 3 1 G1\n2 0 0 3 1 G2\n3 0 0 3 6 M\n4 0 0 3 6 P\n5 4 3 1 11 C\n"},
    {"family_limit_auto", "id sire dam born\nG1 0 0 1990\nG2 0 0 1990\nP G1 G2 1995\nM 0 0 1995\nC P M 2000\n", "",
     with({"--max-family", "auto", "--trim"}), 0, {"family limit: auto (PARCLAS sizes families itself); not checked"},
     "1 0 0 3 1 G1\n2 0 0 3 1 G2\n3 0 0 3 6 M\n4 1 2 1 6 P\n5 4 3 1 11 C\n"},
    // Data file
    {"data_classes_scaled_added_animal_missing_value", "id sire dam\nA 0 0\nB A 0\n",
     "id;herd;year;milk\nB;H2;2010;7001,5\nA;H1;2009;6500.25\nX;H2;2010;NA\n",
     with({"--data", "DATA", "--scale", "milk=10", "--allow-unmatched"}), 0,
     {"data animals missing from the pedigree, added as founders: 1",
      "warning: data column milk: 1 unknown value, written as 0 (--missing-value N): line 4"},
     "1 0 0 3 1 A\n2 0 0 3 1 X\n3 1 0 2 2 B\n", "data.txt\n1 3 2010 70015\n2 1 2009 65003\n1 2 2010 0\n"},
    {"data_missing_value_chosen", "id sire dam\nA 0 0\nB A 0\n", "Tier;Leistung\nA;-\nB;\nA;?\nB;12\n",
     with({"--data", "DATA", "--missing-value", "-99"}), 0,
     {"warning: data column Leistung: 3 unknown values, written as -99 (--missing-value N): lines 2, 3, 4"}, nullptr,
     "data.txt\n1 -99\n2 -99\n1 -99\n2 12\n"},
    {"data_parameter_and_levels", "id sire dam\nA 0 0\nB A 0\n", "id;herd;year;milk\nB;H2;2010;7001,5\nA;H1;2009;6500.25\n",
     with({"--data", "DATA", "--scale", "milk=10"}), 0, {"  data column herd: class effect"}, nullptr,
     "par.txt\ndata.txt\nped.txt\nparclas-prep of herdbook.txt\n2 4\n1 2 0\n2 2 -1\n"},
    {"data_animal_column_by_dutch_name_not_first", "id sire dam\nA 0 0\nB A 0\n", "bedrijf;dier;melk\nH1;B;7\nH2;A;8\n",
     with({"--data", "DATA"}), 0, {"data file: DATAFILE (UTF-8, semicolon separated, header line), 2 records, animal column dier"},
     nullptr, "data.txt\n1 2 7\n2 1 8\n"},
    {"data_unknown_animal_column_name_stops", "id sire dam\nA 0 0\n", "Betrieb;Kuhnummer;Milch\nH1;A;7\n",
     with({"--data", "DATA"}), 1,
     {"parclas-prep: DATAFILE:1: no animal column among the header names (Betrieb, Kuhnummer, Milch): give "
      "--animal-column NAME"}},
    {"data_animal_column_given", "id sire dam\nA 0 0\n", "Betrieb;Kuhnummer;Milch\nH1;A;7\n",
     with({"--data", "DATA", "--animal-column", "Kuhnummer"}), 0, {}, nullptr, "data.txt\n1 1 7\n"},
    {"data_without_header_stops", "id sire dam\nA 0 0\n", "A 7\nA 8\n", with({"--data", "DATA"}), 1,
     {"parclas-prep: DATAFILE: no header line, so no column is known as the animal's: give --animal-column K (its "
      "position)"}},
    {"data_header_found_by_text_over_numbers", "id sire dam\nA 0 0\n", "Kuh Menge\nA 7\n",
     with({"--data", "DATA", "--animal-column", "1"}), 0, {}, nullptr, "data.txt\n1 7\n"},
    {"data_mostly_unmatched_stops", "id sire dam\nA 0 0\n", "id;milk\nH1;7\nH2;8\nA;9\n", with({"--data", "DATA"}), 1,
     {"parclas-prep: DATAFILE: only 1 of 3 records have an animal of the pedigree in column id (not in the pedigree: "
      "H1, H2): is it the animal's column? (--animal-column K chooses another, --allow-unmatched goes on)"}},
    {"data_field_too_many_in_the_middle", "id sire dam\nA 0 0\n", "id;herd;milk\nA;H1;7\nA;H1;7;2\nA;H2;8\n",
     with({"--data", "DATA"}), 1, {"  DATAFILE:3: 4 fields, the header has 3"}},
    {"data_text_among_numbers_stops", "id sire dam\nA 0 0\n", "id;milk\nA;7\nA;8\nA;n.v.\n", with({"--data", "DATA"}), 1,
     {"  DATAFILE:4: column milk: 'n.v.'"}},
    {"data_record_without_animal_stops", "id sire dam\nA 0 0\n", "id;milk\nA;7\nNA;8\n", with({"--data", "DATA"}), 1,
     {"data records without animal (column id): 1 (error)", "  DATAFILE:3: 'NA'"}},
    {"data_decimals_need_scale", "id sire dam\nA 0 0\n", "id;milk\nA;1.5\n", with({"--data", "DATA"}), 1,
     {"  DATAFILE: column milk: 1 numbers with decimals, lines 2: give --scale milk=FACTOR"}},
    {"data_header_only_stops", "id sire dam\nA 0 0\n", "id;milk\n", with({"--data", "DATA"}), 1,
     {"parclas-prep: DATAFILE: no record: no line below the header holds one"}},
    // The output folder
    {"output_folder_not_empty_stops", kTrio, "", kPed, 1,
     {"parclas-prep: the output folder OUT is not empty (notes.txt): give a new folder"}, nullptr, nullptr,
     {"notes.txt"}, {"notes.txt"}},
    {"earlier_preparation_kept_without_force", kTrio, "", kPed, 1,
     {"parclas-prep: the output folder OUT is not empty (ped.txt, domrecdata.txt): give a new folder, or --force to "
      "replace an earlier preparation there"},
     nullptr, nullptr, {"ped.txt", "domrecdata.txt"}, {"ped.txt", "domrecdata.txt"}},
    {"earlier_preparation_replaced_with_force", kTrio, "", with({"--force"}), 0,
     {"removed from OUT (left by an earlier preparation or PARCLAS run): ped.txt, animals.txt, domdped.txt, "
      "domrecdata.txt"},
     kTrioPed, nullptr, {"ped.txt", "animals.txt", "domdped.txt", "domrecdata.txt", "notes.txt"}, {"notes.txt"}},
    // Command line and unreadable input
    {"unknown_option", kTrio, "", with({"--frobnicate"}), 2, {"parclas-prep: unknown option: --frobnicate"}},
    {"unreadable_pedigree", "", "", {"--pedigree", "/nonexistent/herdbook.txt"}, 1,
     {"parclas-prep: cannot read /nonexistent/herdbook.txt: No such file or directory"}},
};

INSTANTIATE_TEST_SUITE_P(Prep, PrepCheck, ::testing::ValuesIn(kCases),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

TEST(PrepCommandLine, HelpVersionAndRequiredOptions) {
  std::ostringstream console;
  std::ostringstream errors;
  EXPECT_EQ(prep::run_prep({"--pedigree", "x.txt"}, console, errors), prep::kBadCommand);
  EXPECT_EQ(errors.str().rfind("parclas-prep: option --out is required\nusage: parclas-prep", 0), 0u) << errors.str();
  for (const char* option : {"--help", "--version"}) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(prep::run_prep({option}, out, err), prep::kPrepared) << option;
    EXPECT_EQ(out.str().rfind(option == std::string("--help") ? "usage: parclas-prep" : "parclas-prep ", 0), 0u);
    EXPECT_EQ(err.str(), "");
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(prep::run_prep({"--pedigree=x", "--out", "y", "--max-family=0"}, out, err), prep::kBadCommand);
  EXPECT_EQ(err.str().rfind("parclas-prep: bad value for --max-family: '0' (a whole number from 1 to 100000000, or "
                            "auto)\n",
                            0),
            0u)
      << err.str();
}

// A new output folder has the permissions the umask leaves.
TEST(PrepOutputFolder, CreatedWithTheUmasksPermissions) {
  ScratchDir scratch("prep-umask");
  write_file(scratch.path() / "ped.txt.in", kTrio);
  const mode_t old = ::umask(022);
  std::ostringstream out;
  std::ostringstream err;
  const int status = prep::run_prep(
      {"--pedigree", (scratch.path() / "ped.txt.in").string(), "--out", (scratch.path() / "run").string()}, out, err);
  ::umask(old);
  ASSERT_EQ(status, prep::kPrepared) << err.str();
  EXPECT_EQ(fs::status(scratch.path() / "run").permissions(), static_cast<fs::perms>(0755));
}

}  // namespace
}  // namespace parclas
