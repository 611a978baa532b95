// Bad input, one row per way a run can go wrong: the built program runs in a
// scratch folder on the row's files and answers, and the row states the end
// of the console, the read-error report, the exit status and every file the
// run must leave behind. Files of the row that the run must not change are
// compared byte for byte; a file that is neither expected nor an unchanged
// input fails the row.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "e2e/run_program.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

using Files = std::map<std::string, std::string>;

// Lines as the program writes them to files.
std::string crlf(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& line : lines) s += line + "\r\n";
  return s;
}

// The worked example: nine animals, three records, every output known.
const std::string kPar = "data.txt\nped.txt\nworked example\n1 2\n2 9 -1\n";
const std::string kPed =
    "1 0 0 3 1 A1\n2 0 0 3 1 A2\n3 0 0 3 1 A3\n4 0 0 3 1 A4\n5 1 2 1 2 A5\n"
    "6 3 4 1 2 A6\n7 5 6 1 3 A7\n8 5 6 1 3 A8\n9 1 6 1 3 A9\n";
const std::string kData = "1 7\n1 8\n1 9\n";
const std::string kAnswers = "par.txt\n5\n";

const std::string kCoefficients = crlf(
    {"1 0 0 1000 A1              ", "2 0 0 1000 A2              ", "3 0 0 1000 A3              ",
     "4 0 0 1000 A4              ", "5 1 2 2000 A5              ", "6 3 4 2000 A6              ",
     "7 5 6 2000 A7              ", "8 5 6 2000 A8              ", "9 1 6 2000 A9              "});
const std::string kClassPedigree =
    crlf({"1 6 7 0 0 0 0 0 0 3", "2 8 9 0 0 0 0 0 0 3", "3 6 8 0 0 0 0 0 0 3",
          "4 7 9 0 0 0 0 0 0 3", "5 3 4 1 2 6 7 8 9 255"});
const std::string kClassIds = crlf(
    {"       6 A1               A3              ", "       7 A1               A4              ",
     "       1 A1               A6              ", "       8 A2               A3              ",
     "       9 A2               A4              ", "       2 A2               A6              ",
     "       3 A3               A5              ", "       4 A4               A5              ",
     "       5 A5               A6              "});
const std::string kRecoded = crlf({"1 7 0 5", "1 8 0 5", "1 9 0 1"});
const std::string kNewPar = crlf(
    {"domrecdata.txt                                ", "dped.txt                                 ",
     "worked example                          ", "  3  2 0.7 1", "       2       9      -1",
     "       3      -1       0", "       4       9      10", "       9       5"});

// The outputs of the worked example after a complete run.
Files complete_outputs() {
  return {{"dped.txt", kCoefficients},
          {"domdped.txt", kClassPedigree},
          {"domidped.txt", kClassIds},
          {"domrecdata.txt", kRecoded},
          {"dompar.txt", kNewPar}};
}

// The five outputs, created empty by the opening of the file set.
Files empty_outputs() {
  return {{"dped.txt", ""},
          {"domdped.txt", ""},
          {"domidped.txt", ""},
          {"domrecdata.txt", ""},
          {"dompar.txt", ""}};
}

// Output files left over from an earlier run.
Files sentinels() {
  Files f;
  for (const char* name :
       {"dped.txt", "domdped.txt", "domidped.txt", "domrecdata.txt", "dompar.txt"}) {
    f[name] = std::string("left from an earlier run: ") + name + "\r\n";
  }
  return f;
}

Files worked(Files changes = {}) {
  Files f{{"par.txt", kPar}, {"ped.txt", kPed}, {"data.txt", kData}};
  for (auto& [name, content] : changes) f[name] = content;
  return f;
}

Files all_but(Files a, const std::string& name) {
  a.erase(name);
  return a;
}

Files merged(Files a, const Files& b) {
  for (const auto& [name, content] : b) a[name] = content;
  return a;
}

// `text` with its line `n` (1-based) replaced.
std::string with_line(const std::string& text, int n, const std::string& line) {
  std::string out;
  size_t at = 0;
  for (int k = 1; at < text.size(); ++k) {
    const size_t lf = text.find('\n', at);
    out += k == n ? line + "\n" : text.substr(at, lf + 1 - at);
    at = lf + 1;
  }
  return out;
}

std::string pedigree_with_line(int n, const std::string& line) { return with_line(kPed, n, line); }

// The console of the worked example from its start up to the "files: " line.
const std::string kHead = "  PARCLAS Feb 08, 1999\n Oru parameter file?\n max recursions?\n";
const std::string kFilesLine =
    " files: par.txt             ped.txt             data.txt            \n";
const std::string kWorkedEnd =
    " created            5 dominance pedigrees\n           4 classes have no parent classes\n";
const std::string kWorkedConsole =
    read_file(fs::path(PARCLAS_SOURCE_DIR) / "tests/e2e/cases/worked_example/console");
const std::string kLoadLines =
    " ID in pedigree file assumed in position            6\n"
    " read       9 pedigree records\n"
    " largest animal no is           9 and pedigree contained           0 holes\n"
    " zeroed           0           0 groups for parent 1 and 2\n";

struct Case {
  std::string name;
  Files files;                   // the folder before the run
  std::string input = kAnswers;  // the console answers
  std::string console_tail;      // the console ends with exactly these lines
  std::string errors;            // the read-error report, the folder shown as $WORK
  int status = 0;
  Files after;  // files that the run creates or changes, with their bytes
  std::function<void(const fs::path&)> setup;  // extra set-up of the folder
  bool needs_permissions = false;              // run as an unprivileged user under root
  RunOptions options;

  Case(std::string n, Files f) : name(std::move(n)), files(std::move(f)) {}
  Case& answers(std::string a) {
    input = std::move(a);
    return *this;
  }
  Case& tail(std::string t) {
    console_tail = std::move(t);
    return *this;
  }
  // The read-error report NUMBER: TEXT on UNIT for FILE, and exit status NUMBER.
  Case& fails(int number, const char* text, int unit, const std::string& file) {
    errors = "severe (" + std::to_string(number) + "): " + text + ", unit " + std::to_string(unit) +
             ", file " + file + "\n";
    status = number;
    return *this;
  }
  // A plain stop: the message as the last console line, exit status 1.
  Case& stops() {
    status = 1;
    return *this;
  }
  Case& leaves(Files f) {
    after = std::move(f);
    return *this;
  }
  Case& prepare(std::function<void(const fs::path&)> f) {
    setup = std::move(f);
    return *this;
  }
  Case& limit_file_size(long bytes) {
    options.file_size_limit = bytes;
    return *this;
  }
  Case& limit_memory(long bytes, std::vector<std::string> arguments) {
    options.memory_limit = bytes;
    options.arguments = std::move(arguments);
    return *this;
  }
  // An error line of the program's own on the error stream, and its status.
  Case& reports(std::string line, int exit_status) {
    errors = std::move(line);
    status = exit_status;
    return *this;
  }
  Case& console_to(std::string path) {
    options.console_path = std::move(path);
    return *this;
  }
  Case& permissions() {
    needs_permissions = true;
    return *this;
  }
};

void PrintTo(const Case& row, std::ostream* os) { *os << row.name; }

std::vector<Case> cases() {
  std::vector<Case> c;

  // The console answers.
  c.push_back(Case("no_answers", worked())
                  .answers("")
                  .stops()
                  .tail(" Oru parameter file?\n")
                  .fails(24, "end-of-file during read", 5, "stdin"));
  c.push_back(Case("no_second_answer", worked())
                  .answers("par.txt\n")
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(24, "end-of-file during read", 5, "stdin"));
  c.push_back(Case("passes_not_a_number", worked())
                  .answers("par.txt\nfive\n")
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(59, "list-directed I/O syntax error", 5, "stdin"));
  c.push_back(Case("passes_real", worked())
                  .answers("par.txt\n2.5\n")
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(59, "list-directed I/O syntax error", 5, "stdin"));
  c.push_back(Case("passes_too_large", worked())
                  .answers("par.txt\n3000000000\n")
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(64, "input conversion error", 5, "stdin"));
  c.push_back(Case("blank_parameter_file_name", worked())
                  .answers("   \n5\n")
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(30, "open failure", 10, "$WORK/"));

  // The parameter file.
  const std::string incomplete = " file par.txt              incomplete\n";
  c.push_back(Case("parameter_file_missing", worked())
                  .answers("nopar.txt\n5\n")
                  .tail(" max recursions?\n")
                  .fails(29, "file not found", 10, "$WORK/nopar.txt"));
  c.push_back(Case("parameter_file_empty", worked({{"par.txt", ""}})).stops()
                  .tail(incomplete));
  c.push_back(
      Case("parameter_file_blank", worked({{"par.txt", "  \n \n\n   \n \n"}})).stops()
                  .tail(incomplete));
  c.push_back(
      Case("parameter_file_ends_after_title", worked({{"par.txt", "data.txt\nped.txt\ntitle\n"}}))
          .stops()
          .tail(incomplete));
  c.push_back(Case("parameter_file_effect_missing",
                   worked({{"par.txt", "data.txt\nped.txt\nt\n2 2\n1 3 0\n"}}))
                  .stops()
                  .tail(incomplete));
  const std::string not_animal = " last effect inpar.txt              is not animal\n";
  c.push_back(Case("no_effects", worked({{"par.txt", "data.txt\nped.txt\nt\n0 2\n2 9 -1\n"}}))
                  .stops()
                  .tail(not_animal));
  c.push_back(
      Case("last_effect_kind_zero", worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n2 9 0\n"}}))
          .stops()
          .tail(not_animal));
  c.push_back(Case("animal_effect_not_last",
                   worked({{"par.txt", "data.txt\nped.txt\nt\n2 2\n2 9 -1\n1 3 0\n"}}))
                  .stops()
                  .tail(not_animal));
  std::string many = "data.txt\nped.txt\nt\n21 2\n";
  for (int k = 0; k < 20; ++k) many += "1 3 0\n";
  many += "2 9 -1\n";
  c.push_back(
      Case("too_many_effects", worked({{"par.txt", many}}))
          .stops()
          .tail(
              " max recursions?\n at most 20 effects allowed, parameter file has:           21\n"));
  c.push_back(
      Case("animal_column_zero", worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n0.9 9 -1\n"}}))
          .stops()
          .tail(" max recursions?\n animal column must be at least 1:            0\n"));
  c.push_back(
      Case("animal_column_negative", worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n-3 9 -1\n"}}))
          .stops()
          .tail(" max recursions?\n animal column must be at least 1:           -3\n"));
  c.push_back(
      Case("record_length_49", worked({{"par.txt", "data.txt\nped.txt\nt\n1 49\n2 9 -1\n"}}))
          .stops()
          .tail(" max recursions?\n record length must be at most 48:           49\n"));
  c.push_back(
      Case("animal_column_49", worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n49 9 -1\n"}}))
          .stops()
          .tail(" max recursions?\n record length must be at most 48:           49\n"));
  const std::string par_path = "$WORK/par.txt";
  // Twenty effects are allowed, and the new parameter file holds all of them.
  std::string twenty = "data.txt\nped.txt\nworked example\n20 2\n";
  for (int k = 0; k < 19; ++k) twenty += "1 3 0\n";
  twenty += "2 9 -1\n";
  std::vector<std::string> twenty_out = {"domrecdata.txt                                ",
                                         "dped.txt                                 ",
                                         "worked example                          ",
                                         " 22  2 0.7 1",
                                         "       1       3       0",
                                         "       3      -1       0"};
  for (int k = 0; k < 18; ++k) twenty_out.push_back("       1       3       0");
  twenty_out.insert(twenty_out.end(),
                    {"       2       9      -1", "       4       9      10", "       9       5"});
  std::string twenty_new;
  for (const std::string& line : twenty_out) twenty_new += line + "\r\n";
  c.push_back(Case("twenty_effects", worked({{"par.txt", twenty}}))
                  .tail(kWorkedEnd)
                  .leaves(merged(complete_outputs(), {{"dompar.txt", twenty_new}})));

  c.push_back(Case("parameter_count_not_a_number",
                   worked({{"par.txt", "data.txt\nped.txt\nt\nx 2\n2 9 -1\n"}}))
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(59, "list-directed I/O syntax error", 10, par_path));
  c.push_back(
      Case("parameter_count_real", worked({{"par.txt", "data.txt\nped.txt\nt\n1.0 2\n2 9 -1\n"}}))
          .stops()
          .tail(" max recursions?\n")
          .fails(59, "list-directed I/O syntax error", 10, par_path));
  c.push_back(Case("record_length_too_large",
                   worked({{"par.txt", "data.txt\nped.txt\nt\n1 99999999999\n2 9 -1\n"}}))
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(64, "input conversion error", 10, par_path));
  c.push_back(
      Case("effect_not_a_number", worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n2 9 minus\n"}}))
          .stops()
          .tail(" max recursions?\n")
          .fails(59, "list-directed I/O syntax error", 10, par_path));
  c.push_back(Case("effect_overflows_single_precision",
                   worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n2 1e39 -1\n"}}))
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(64, "input conversion error", 10, par_path));
  // Beyond the double range too: an overflow, not a value that underflows to 0.
  c.push_back(Case("effect_beyond_double_range",
                   worked({{"par.txt", "data.txt\nped.txt\nt\n1 2\n2 -1e400 -1\n"}}))
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(64, "input conversion error", 10, par_path));
  c.push_back(Case("parameter_file_is_a_folder", {{"ped.txt", kPed}, {"data.txt", kData}})
                  .stops()
                  .tail(" max recursions?\n")
                  .fails(30, "open failure", 10, par_path)
                  .prepare([](const fs::path& dir) { fs::create_directory(dir / "par.txt"); }));

  // Output names that would overwrite another file of the run: nothing is
  // opened, created or written.
  const std::string clash = " output file clashes with another file of the run: ";
  c.push_back(Case("data_file_named_like_an_output",
                   merged(worked({{"par.txt", "domdped.txt\nped.txt\nt\n1 2\n2 9 -1\n"},
                                  {"domdped.txt", kData}}),
                          {{"dompar.txt", "old\r\n"}}))
                  .stops()
                  .tail(" files: par.txt             ped.txt             domdped.txt         \n" +
                        clash + "domdped.txt\n"));
  c.push_back(Case("two_outputs_with_one_name",
                   {{"dped.txt", kPar}, {"ped.txt", kPed}, {"data.txt", kData}})
                  .answers("dped.txt\n5\n")
                  .stops()
                  .tail(clash + "domdped.txt\n"));
  c.push_back(Case("output_is_input_by_path",
                   worked({{"par.txt", "./dped.txt\nped.txt\nt\n1 2\n2 9 -1\n"}}))
                  .stops()
                  .tail(clash + "dped.txt\n"));
  Files linked = merged(worked(), sentinels());
  linked.erase("domrecdata.txt");
  c.push_back(Case("output_is_input_by_link", linked)
                  .stops()
                  .tail(clash + "domrecdata.txt\n")
                  .leaves({{"domrecdata.txt", kPed}})
                  .prepare([](const fs::path& dir) {
                    fs::remove(dir / "domrecdata.txt");
                    fs::create_hard_link(dir / "ped.txt", dir / "domrecdata.txt");
                  }));

  // A NUL byte cannot be part of a file name: such a name is not cut at the
  // NUL (which would make "domrecD" of both outputs below, a clash that the
  // names do not show), it cannot be opened at all.
  using namespace std::string_literals;
  c.push_back(
      Case("nul_in_a_file_name",
           {{"par.txt", "D\0a\nomrecD\0b\nt\n1 2\n2 9 -1\n"s}, {"D", kData}, {"omrecD", kPed}})
          .stops()
          .tail(" files: par.txt             omrecD\0b            D\0a                 \n"s)
          .fails(30, "open failure", 10, "$WORK/omrecD\0b"s));

  // The relationship file.
  const std::string ped_path = "$WORK/ped.txt";
  const std::string fewer = " Relationship file has fewer than 6 components:";
  const std::string ped_name_line = " ped.txt             \n";
  c.push_back(Case("pedigree_line_of_five_fields",
                   merged(worked({{"ped.txt", pedigree_with_line(5, "5 1 2 1 A5")}}), sentinels()))
                  .stops()
                  .tail(fewer + "           5\n" + ped_name_line));
  c.push_back(Case("pedigree_blank_line_at_end", worked({{"ped.txt", kPed + "   \n"}}))
                  .stops()
                  .tail(fewer + "           0\n" + ped_name_line)
                  .leaves(empty_outputs()));
  c.push_back(Case("pedigree_empty_line", worked({{"ped.txt", pedigree_with_line(3, "")}}))
                  .stops()
                  .tail(fewer + "           0\n" + ped_name_line)
                  .leaves(empty_outputs()));
  c.push_back(Case("pedigree_tab_separated", worked({{"ped.txt", "1\t0\t0\t3\t1\tA1\n"}}))
                  .stops()
                  .tail(kFilesLine + fewer + "           1\n" + ped_name_line)
                  .leaves(empty_outputs()));
  c.push_back(
      Case("animal_above_relmax",
           merged(worked({{"ped.txt", pedigree_with_line(9, "500001 1 6 1 3 A9")}}), sentinels()))
          .stops()
          .tail(" increase relmax to at least:       500001\n"));
  c.push_back(Case("animal_zero", worked({{"ped.txt", pedigree_with_line(4, "0 0 0 3 1 A4")}}))
                  .stops()
                  .tail(" animal number below 1 in relationship file:            0\n")
                  .leaves(empty_outputs()));
  c.push_back(Case("animal_negative", worked({{"ped.txt", pedigree_with_line(1, "-5 0 0 3 1 A1")}}))
                  .stops()
                  .tail(" ID in pedigree file assumed in position            6\n"
                        " animal number below 1 in relationship file:           -5\n")
                  .leaves(empty_outputs()));
  c.push_back(Case("negative_sire", worked({{"ped.txt", pedigree_with_line(5, "5 -1 2 1 2 A5")}}))
                  .stops()
                  .tail(" negative parent number in relationship file for animal:            5\n")
                  .leaves(empty_outputs()));
  c.push_back(Case("negative_dam", worked({{"ped.txt", pedigree_with_line(6, "6 3 -4 1 2 A6")}}))
                  .stops()
                  .tail(" negative parent number in relationship file for animal:            6\n")
                  .leaves(empty_outputs()));
  // The second reading of the relationship file takes fields 1 to 4 as
  // list-directed integers; the lines before the bad one are in the
  // coefficient file, the class files were not reached.
  const Files eight_coefficients = merged(
      empty_outputs(), {{"dped.txt", kCoefficients.substr(0, kCoefficients.size() / 9 * 8)}});
  c.push_back(Case("pedigree_code_not_a_number",
                   worked({{"ped.txt", pedigree_with_line(9, "9 1 6 x 3 A9")}}))
                  .stops()
                  .tail("           4 classes have no parent classes\n")
                  .fails(59, "list-directed I/O syntax error", 10, ped_path)
                  .leaves(eight_coefficients));
  c.push_back(Case("pedigree_animal_with_letters",
                   merged(worked({{"ped.txt", pedigree_with_line(9, "9a 1 6 1 3 A9")}}),
                          {{"domidped.txt", "old ids\r\n"}, {"dompar.txt", "old parameters\r\n"}}))
                  .stops()
                  .tail("           4 classes have no parent classes\n")
                  .fails(59, "list-directed I/O syntax error", 10, ped_path)
                  .leaves({{"dped.txt", eight_coefficients.at("dped.txt")},
                           {"domdped.txt", ""},
                           {"domrecdata.txt", ""}}));
  c.push_back(Case("pedigree_code_too_large",
                   worked({{"ped.txt", pedigree_with_line(9, "9 1 6 99999999999 3 A9")}}))
                  .stops()
                  .tail("           4 classes have no parent classes\n")
                  .fails(64, "input conversion error", 10, ped_path)
                  .leaves(eight_coefficients));
  // A code outside 1..3 takes the code the parents imply (here 3): no
  // division by zero, and the same line as with the right code.
  c.push_back(Case("undefined_code_takes_the_code_of_the_parents",
                   worked({{"ped.txt", pedigree_with_line(2, "2 0 0 -1 1 A2")}}))
                  .tail(kWorkedEnd)
                  .leaves(complete_outputs()));
  c.push_back(Case("relationship_file_is_a_folder", {{"par.txt", kPar}, {"data.txt", kData}})
                  .stops()
                  .tail(kFilesLine)
                  .fails(30, "open failure", 10, ped_path)
                  .prepare([](const fs::path& dir) { fs::create_directory(dir / "ped.txt"); }));

  // The data file.
  const std::string data_path = "$WORK/data.txt";
  const std::string par3 =
      "data.txt\nped.txt\nt\n1 3\n2 9 -1\n";  // records of 3, animal in column 2
  c.push_back(Case("data_animal_not_a_number",
                   merged(worked({{"data.txt", "1 7\n1 x\n1 9\n"}}), sentinels()))
                  .stops()
                  .tail(kLoadLines)
                  .fails(59, "list-directed I/O syntax error", 11, data_path));
  c.push_back(Case("data_animal_too_large", worked({{"data.txt", "1 7\n1 4294967296\n"}}))
                  .stops()
                  .tail(kLoadLines)
                  .fails(64, "input conversion error", 11, data_path)
                  .leaves(empty_outputs()));
  // A value after the animal column is read only by the second pass, which
  // stops after the records before it; the new parameter file was not reached.
  c.push_back(Case("data_value_not_a_number_in_second_pass",
                   merged(worked({{"par.txt", par3}, {"data.txt", "1 7 10\n1 8 2.5\n1 9 30\n"}}),
                          sentinels()))
                  .stops()
                  .tail("           4 classes have no parent classes\n")
                  .fails(59, "list-directed I/O syntax error", 11, data_path)
                  .leaves({{"dped.txt", kCoefficients},
                           {"domdped.txt", kClassPedigree},
                           {"domidped.txt", kClassIds},
                           {"domrecdata.txt", crlf({"1 7 10 0 5"})}}));
  c.push_back(
      Case("data_ends_early_in_second_pass",
           merged(worked({{"par.txt", par3}, {"data.txt", "1 7 10\n1 8 20\n1 9"}}), sentinels()))
          .stops()
          .tail("           4 classes have no parent classes\n")
          .fails(24, "end-of-file during read", 11, data_path)
          .leaves({{"dped.txt", kCoefficients},
                   {"domdped.txt", kClassPedigree},
                   {"domidped.txt", kClassIds},
                   {"domrecdata.txt", crlf({"1 7 10 0 5", "1 8 20 0 5"})}}));
  for (const char* animal : {"0", "500001", "-3", "10"}) {
    const std::string number(animal);
    std::string shown(12 - number.size(), ' ');
    shown += number;
    c.push_back(Case("data_animal_" + std::string(number[0] == '-' ? "negative" : animal),
                     merged(worked({{"data.txt", "1 7\n1 " + number + "\n1 9\n"}}), sentinels()))
                    .stops()
                    .tail(" this should not happen:245\n")
                    .leaves({{"dped.txt", kCoefficients},
                             {"domdped.txt", kClassPedigree},
                             {"domidped.txt", kClassIds},
                             {"domrecdata.txt", crlf({"1 7 0 5"})}}));
  }
  c.push_back(Case("data_file_is_a_folder", {{"par.txt", kPar}, {"ped.txt", kPed}})
                  .stops()
                  .tail(kFilesLine)
                  .fails(30, "open failure", 11, data_path)
                  .prepare([](const fs::path& dir) { fs::create_directory(dir / "data.txt"); }));

  // Output files that cannot be made.
  c.push_back(
      Case("output_name_is_a_folder", merged(worked(), {{"dompar.txt", "old parameters\r\n"}}))
          .stops()
          .tail(kFilesLine)
          .fails(30, "open failure", 17, "$WORK/domrecdata.txt")
          .leaves({{"domdped.txt", ""}, {"dped.txt", ""}})
          .prepare([](const fs::path& dir) { fs::create_directory(dir / "domrecdata.txt"); }));
  const std::string sub_par = "sub/data.txt\nped.txt\nt\n1 2\n2 9 -1\n";
  c.push_back(Case("output_folder_missing",
                   {{"par.txt", sub_par}, {"ped.txt", kPed}, {"sub/data.txt", kData}})
                  .stops()
                  .tail(" files: par.txt             ped.txt             sub/data.txt        \n")
                  .fails(30, "open failure", 17, "$WORK/domrecsub/data.txt")
                  .leaves({{"domdped.txt", ""}, {"dped.txt", ""}, {"dompar.txt", ""}}));
  c.push_back(Case("output_folder_not_writable",
                   {{"par.txt", sub_par}, {"ped.txt", kPed}, {"sub/data.txt", kData}})
                  .stops()
                  .tail(" files: par.txt             ped.txt             sub/data.txt        \n")
                  .fails(30, "open failure", 17, "$WORK/domrecsub/data.txt")
                  .leaves({{"domdped.txt", ""}, {"dped.txt", ""}, {"dompar.txt", ""}})
                  .prepare([](const fs::path& dir) {
                    // No file can be made in /proc, not even by root.
                    fs::create_directory_symlink("/proc", dir / "domrecsub");
                  }));
  c.push_back(
      // A device is written without being cut first, so the failed write
      // shows when the buffered lines go out at the end of the run.
      Case("output_on_a_full_device", merged(worked(), {{"dompar.txt", "old parameters\r\n"}}))
          .stops()
          .tail(kWorkedEnd)
          .fails(38, "error during write", 17, "$WORK/domrecdata.txt")
          .leaves(all_but(complete_outputs(), "domrecdata.txt"))
          .prepare([](const fs::path& dir) {
            fs::create_symlink("/dev/full", dir / "domrecdata.txt");
          }));

  // Permissions (under root the program runs as an unprivileged user).
  c.push_back(Case("relationship_file_unreadable", worked())
                  .stops()
                  .tail(kFilesLine)
                  .fails(30, "open failure", 10, ped_path)
                  .prepare([](const fs::path& dir) { ::chmod((dir / "ped.txt").c_str(), 0); })
                  .permissions());
  c.push_back(Case("output_file_read_only", merged(worked(), sentinels()))
                  .stops()
                  .tail("           4 classes have no parent classes\n")
                  .fails(38, "error during write", 16, "$WORK/dped.txt")
                  .prepare([](const fs::path& dir) { ::chmod((dir / "dped.txt").c_str(), 0444); })
                  .permissions());
  c.push_back(Case("folder_not_writable", worked())
                  .stops()
                  .tail(kFilesLine)
                  .fails(30, "open failure", 12, "$WORK/domdped.txt")
                  .prepare([](const fs::path& dir) { ::chmod(dir.c_str(), 0555); })
                  .permissions());

  // Capacity and pedigree stops (the large inputs are built by their own tests below).
  c.push_back(
      Case("pedigree_loop", merged(worked({{"ped.txt", "1 2 0 1 1 A\n2 3 0 1 1 B\n3 1 0 1 1 C\n"},
                                           {"data.txt", "1 3\n"}}),
                                   sentinels()))
          .stops()
          .tail("\n Inbreeding\n pedigree loop: animal is its own ancestor:            3\n"));
  c.push_back(
      Case("animal_is_its_own_dam",
           worked({{"ped.txt", "1 0 0 3 1 A\n2 1 2 1 2 B\n3 1 2 1 3 C\n"}, {"data.txt", "1 3\n"}}))
          .stops()
          .tail("\n Inbreeding\n pedigree loop: animal is its own ancestor:            2\n")
          .leaves(empty_outputs()));

  // A family of 501: animal k has sire k - 1, so animal 501 has 500 ancestors.
  std::string chain;
  for (int k = 1; k <= 501; ++k) {
    chain += std::to_string(k) + " " + std::to_string(k - 1) + " 0 1 " + std::to_string(k) + " C" +
             std::to_string(k) + "\n";
  }
  c.push_back(Case("family_of_501", merged(worked({{"ped.txt", chain}}), sentinels()))
                  .stops()
                  .tail("\n Inbreeding\n increase fammax in HAINB\n"));

  // A full combination table: 2000 sire x dam pairs whose first rows follow
  // one probe sequence (433 * -4 + 53 * 33 = 17, the probe step), then one
  // more pair with the hash of the first, which finds all 2000 rows taken.
  std::string parents;
  std::string records;
  auto offspring = [&](int number, int sire, int dam) {
    parents += std::to_string(number) + " " + std::to_string(sire) + " " + std::to_string(dam) +
               " 1 1 O" + std::to_string(number) + "\n";
    records += "1 " + std::to_string(number) + "\n";
  };
  for (int i = 0; i < 2000; ++i) offspring(80001 + i, 8100 - 4 * i, 10000 + 33 * i);
  offspring(82001, 8100 - 53, 10000 + 433);  // 433 * -53 + 53 * 433 = 0
  c.push_back(Case("combination_table_full",
                   merged(worked({{"ped.txt", parents}, {"data.txt", records}}), sentinels()))
                  .stops()
                  .tail(" zeroed           0           0 groups for parent 1 and 2\n"
                        " hash matrix too small\n      500000           8           2\n"));

  // Writes that fail: every file but the failed one holds its lines, and the
  // run does not end as if all went well.
  c.push_back(
      Case("file_size_limit_reached", worked())
          .limit_file_size(300)
          .stops()
          .tail(kWorkedEnd)
          .fails(38, "error during write", 18, "$WORK/domidped.txt")
          .leaves(merged(complete_outputs(), {{"domidped.txt", kClassIds.substr(0, 300)}})));
  // Four files pass the limit: the first one closed is reported, alone.
  Files cut = complete_outputs();
  for (const char* name : {"dped.txt", "domdped.txt", "domidped.txt", "dompar.txt"}) {
    cut[name].resize(100);
  }
  c.push_back(Case("several_files_over_the_size_limit", worked())
                  .limit_file_size(100)
                  .stops()
                  .tail(kWorkedEnd)
                  .fails(38, "error during write", 12, "$WORK/domdped.txt")
                  .leaves(cut));
  // A write that fails when the first 1 MiB of the recoded data file goes
  // out: the run stops there, and the new parameter file of an earlier run
  // stays as it was.
  std::string many_records;
  for (int k = 0; k < 120000; ++k) many_records += "1 7\n";
  std::string recoded_part;
  while (recoded_part.size() < (1 << 20)) recoded_part += "1 7 0 5\r\n";
  recoded_part.resize(1 << 20);
  c.push_back(Case("write_fails_in_the_middle_of_a_file",
                   merged(worked({{"data.txt", many_records}}), {{"dompar.txt", "old\r\n"}}))
                  .limit_file_size(1 << 20)
                  .stops()
                  .tail(kWorkedEnd)
                  .fails(38, "error during write", 17, "$WORK/domrecdata.txt")
                  .leaves({{"dped.txt", kCoefficients},
                           {"domdped.txt", kClassPedigree},
                           {"domidped.txt", kClassIds},
                           {"domrecdata.txt", recoded_part}}));
  // A table larger than the memory the run may have: said as such, with the
  // stage and the size asked for; the files of the set are closed empty.
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory needs more than the limit
  c.push_back(Case("not_enough_memory", worked())
                  .limit_memory(long{1} << 30, {"--max-classes", "199999999"})
                  .tail(kFilesLine)
                  .reports("parclas: out of memory in tables: about 6104 MB more were needed\n",
                           70)
                  .leaves(empty_outputs()));
#endif
  c.push_back(Case("console_on_a_full_device", worked())
                  .console_to("/dev/full")
                  .stops()
                  .tail("")
                  .fails(38, "error during write", 6, "stdout")
                  .leaves(complete_outputs()));
  return c;
}

// Line ends, very long lines (longer than the program's 1 MiB read buffer),
// missing final line feeds, empty files and files of blanks.
std::vector<Case> line_shapes() {
  std::vector<Case> c;
  auto with_crlf = [](std::string text) {
    std::string out;
    for (char ch : text) out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return out;
  };
  auto without_last_lf = [](std::string text) {
    text.pop_back();
    return text;
  };
  const std::string huge(2 << 20, 'z');

  c.push_back(Case("crlf_everywhere", {{"par.txt", with_crlf(kPar)},
                                       {"ped.txt", with_crlf(kPed)},
                                       {"data.txt", with_crlf(kData)}})
                  .answers(with_crlf(kAnswers))
                  .tail(kWorkedConsole)
                  .leaves(complete_outputs()));
  c.push_back(Case("no_final_line_feed", {{"par.txt", without_last_lf(kPar)},
                                          {"ped.txt", without_last_lf(kPed)},
                                          {"data.txt", without_last_lf(kData)}})
                  .answers(without_last_lf(kAnswers))
                  .tail(kWorkedConsole)
                  .leaves(complete_outputs()));
  // Only the first 80 characters of a relationship-file line count: an
  // identifier ending in column 80 is still the last field.
  std::string line5 = "5 1 2 1 2";
  line5 += std::string(80 - line5.size() - 2, ' ') + "A5" + "trailing text";
  std::string line9 = "9 1 6 1 3 A9";
  line9 += std::string(80 - line9.size(), ' ') + huge;
  c.push_back(Case("pedigree_lines_past_column_80",
                   worked({{"ped.txt", with_line(pedigree_with_line(9, line9), 5, line5)}}))
                  .tail(kWorkedEnd)
                  .leaves(complete_outputs()));
  c.push_back(
      Case("data_lines_longer_than_the_buffer",
           worked({{"data.txt", "1 7 " + huge + "\n1" + std::string(3 << 19, ' ') + "8\n1 9\n"}}))
          .tail(kWorkedEnd)
          .leaves(complete_outputs()));
  std::string long_title_par = kPar;
  long_title_par.insert(long_title_par.find("worked example") + 14, huge);
  Files long_title_outputs = complete_outputs();
  long_title_outputs["dompar.txt"].replace(long_title_outputs["dompar.txt"].find("worked example"),
                                           40, "worked example" + std::string(26, 'z'));
  c.push_back(Case("title_longer_than_the_buffer", worked({{"par.txt", long_title_par}}))
                  .tail(kWorkedEnd)
                  .leaves(long_title_outputs));
  c.push_back(Case("answer_longer_than_the_buffer", worked())
                  .answers("par.txt" + std::string(13, ' ') + huge + "\n5\n")
                  .tail(kWorkedEnd)
                  .leaves(complete_outputs()));

  // Empty inputs: the run goes through, and outputs left from an earlier run
  // hold only what this run wrote.
  const std::string zero_tail =
      " read       0 pedigree records\n"
      " largest animal no is           0 and pedigree contained           0 holes\n"
      " zeroed           0           0 groups for parent 1 and 2\n"
      "\n Inbreeding\n"
      "   processed      0 families of size max, ave:   0    0.0\n"
      " average inbreeding=  0.0000000E+00\n"
      "  year    #   average inbreeding\n"
      " Read            0 records\n"
      " Created            0 classes with known parents and            0 with unknown\n"
      " In total       0 combinations\n"
      " eliminated       0 combinations; left        0\n"
      " perhaps could eliminate       0 more\n"
      " created            0 dominance pedigrees\n"
      "           0 classes have no parent classes\n";
  auto new_parameters = [](const char* classes_line, const char* closing_line) {
    return crlf({"domrecdata.txt                                ",
                 "dped.txt                                 ",
                 "worked example                          ", "  3  2 0.7 1",
                 "       2       9      -1", "       3      -1       0", classes_line,
                 closing_line});
  };
  c.push_back(
      Case("empty_inputs_over_old_outputs",
           merged(worked({{"ped.txt", ""}, {"data.txt", ""}}), sentinels()))
          .tail(kHead + kFilesLine + zero_tail)
          .leaves(merged(empty_outputs(), {{"dompar.txt", new_parameters("       4       0      10",
                                                                         "       0       0")}})));
  // A missing input is never created: the run ends before any output
  // exists, and the outputs of an earlier run stay as they were. The
  // relationship file is connected first.
  const std::string no_inputs_par = "nodata.txt\nnoped.txt\nworked example\n1 2\n2 9 -1\n";
  const std::string no_inputs_files =
      " files: par.txt             noped.txt           nodata.txt          \n";
  c.push_back(Case("relationship_file_missing",
                   merged({{"par.txt", no_inputs_par}, {"nodata.txt", kData}}, sentinels()))
                  .tail(no_inputs_files)
                  .fails(29, "file not found", 10, "$WORK/noped.txt"));
  c.push_back(Case("data_file_missing",
                   merged({{"par.txt", no_inputs_par}, {"noped.txt", kPed}}, sentinels()))
                  .tail(no_inputs_files)
                  .fails(29, "file not found", 11, "$WORK/nodata.txt"));
  c.push_back(Case("both_inputs_missing", {{"par.txt", no_inputs_par}})
                  .tail(no_inputs_files)
                  .fails(29, "file not found", 10, "$WORK/noped.txt"));
  const std::string below_par = "data.txt/x\nped.txt\nt\n1 2\n2 9 -1\n";
  c.push_back(Case("input_below_a_plain_file", worked({{"par.txt", below_par}}))
                  .tail(" files: par.txt             ped.txt             data.txt/x          \n")
                  .fails(29, "file not found", 11, "$WORK/data.txt/x"));
  for (const auto& [name, blanks] :
       {std::pair<std::string, std::string>{"data_file_of_blank_lines", "   \n\n \n"},
        {"data_file_of_blanks_without_line_feed", "     "}}) {
    c.push_back(Case(name, merged(worked({{"data.txt", blanks}}), sentinels()))
                    .tail(" Read            0 records\n"
                          " Created            0 classes with known parents and            0 "
                          "with unknown\n In total       0 combinations\n"
                          " eliminated       0 combinations; left        0\n"
                          " perhaps could eliminate       0 more\n"
                          " created            0 dominance pedigrees\n"
                          "           0 classes have no parent classes\n")
                    .leaves({{"dped.txt", kCoefficients},
                             {"domdped.txt", ""},
                             {"domidped.txt", ""},
                             {"domrecdata.txt", ""},
                             {"dompar.txt",
                              new_parameters("       4       0      10", "       9       0")}}));
  }
  c.push_back(Case("pedigree_of_blanks_without_line_feed", worked({{"ped.txt", "      "}}))
                  .stops()
                  .tail(kFilesLine + " Relationship file has fewer than 6 components:           0\n"
                                     " ped.txt             \n")
                  .leaves(empty_outputs()));
  return c;
}

class FolderRun : public ::testing::TestWithParam<Case> {};

// Compares the folder after the run with what the row expects.
void expect_folder(const fs::path& dir, const Case& row) {
  std::set<std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), dir).string();
    seen.insert(name);
    const std::string actual = read_file(entry.path());
    if (row.after.count(name)) {
      EXPECT_EQ(actual, row.after.at(name)) << name;
    } else if (row.files.count(name)) {
      EXPECT_EQ(actual, row.files.at(name)) << name << " was changed";
    } else {
      ADD_FAILURE() << "unexpected file " << name << ":\n" << actual;
    }
  }
  for (const auto& [name, content] : row.after) {
    EXPECT_TRUE(seen.count(name)) << "missing file " << name;
  }
}

TEST_P(FolderRun, EndsAsDefined) {
  const Case& row = GetParam();
  const ScratchDir work("bad-" + row.name);
  RunOptions options = row.options;
  if (row.needs_permissions && ::geteuid() == 0) {
    // Root reads and writes whatever the permissions say: such a row runs
    // the program as an unprivileged user instead.
    fs::permissions(work.path(), fs::perms::all);
    if (!user_can_run_in(kNobody, work.path())) {
      GTEST_SKIP() << "running as root, and user nobody cannot run the program here";
    }
    options.user = kNobody;
  }
  for (const auto& [name, content] : row.files) {
    fs::create_directories((work.path() / name).parent_path());
    write_file(work.path() / name, content);
  }
  if (row.setup) row.setup(work.path());
  const Outcome outcome = run_program(work.path(), row.input, options);
  if (row.needs_permissions) ::chmod(work.path().c_str(), 0700);

  const std::string& console = outcome.console;
  const std::string& tail = row.console_tail;
  EXPECT_TRUE(console.size() >= tail.size() &&
              console.compare(console.size() - tail.size(), tail.size(), tail) == 0)
      << "console does not end with\n"
      << tail << "--- console\n"
      << console;
  EXPECT_EQ(outcome.errors, row.errors);
  EXPECT_EQ(outcome.status, row.status);
  expect_folder(work.path(), row);
}

std::string row_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(BadInput, FolderRun, ::testing::ValuesIn(cases()), row_name);
INSTANTIATE_TEST_SUITE_P(LineShapes, FolderRun, ::testing::ValuesIn(line_shapes()), row_name);

}  // namespace
}  // namespace parclas
