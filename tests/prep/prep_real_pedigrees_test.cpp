// The raw public pedigrees of ../shared/realdata/raw, prepared by
// parclas-prep and run through PARCLAS: every animal's inbreeding, read from
// the recoded data file and matched by original identifier through
// animals.txt, must equal the exact value in the corresponding set's
// fexact.txt. Skips when the folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "e2e/run_program.h"
#include "prep/prep.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

const fs::path kRealData = PARCLAS_REALDATA_DIR;

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

long number(const std::string& s) {
  long v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// A pedigree by identifier: parents' identifiers, "" when unknown.
using Parents = std::unordered_map<std::string, std::pair<std::string, std::string>>;

// The set's own files: expected thousandths and parents, by identifier.
struct ExpectedSet {
  std::unordered_map<std::string, std::string> thousandths;  // "NA" inside loops
  Parents parents;
};

ExpectedSet read_set(const fs::path& set) {
  std::map<long, std::string> id_of;
  std::vector<std::vector<std::string>> ped;
  for (const auto& line : lines_of(read_file(set / "ped.txt"))) {
    auto w = words(line);
    if (w.size() < 6) continue;
    id_of[number(w[0])] = w.back();
    ped.push_back(w);
  }
  ExpectedSet e;
  for (const auto& w : ped) {
    auto parent = [&](const std::string& s) { return id_of.count(number(s)) ? id_of[number(s)] : std::string(); };
    e.parents[w.back()] = {parent(w[1]), parent(w[2])};
  }
  for (const auto& line : lines_of(read_file(set / "fexact.txt"))) {
    const auto w = words(line);
    if (w.size() >= 4 && w[0] != "#") e.thousandths[id_of[number(w[0])]] = w[3];
  }
  return e;
}

// The prepared folder's pedigree by original identifier.
Parents read_prepared(const fs::path& dir, const std::map<long, std::string>& id_of) {
  Parents p;
  for (const auto& line : lines_of(read_file(dir / "ped.txt"))) {
    const auto w = words(line);
    auto parent = [&](const std::string& s) {
      const auto it = id_of.find(number(s));
      return it == id_of.end() ? std::string() : it->second;
    };
    p[id_of.at(number(w[0]))] = {parent(w[1]), parent(w[2])};
  }
  return p;
}

size_t ancestor_count(const Parents& p, const std::string& id) {
  std::set<std::string> seen;
  std::vector<std::string> todo{id};
  while (!todo.empty()) {
    const std::string x = todo.back();
    todo.pop_back();
    const auto it = p.find(x);
    if (it == p.end()) continue;
    for (const auto& q : {it->second.first, it->second.second}) {
      if (!q.empty() && seen.insert(q).second) todo.push_back(q);
    }
  }
  return seen.size();
}

// A raw file rewritten as herdbook systems and spreadsheets export it.
using Messy = std::string (*)(const std::string& text);

std::vector<std::vector<std::string>> tab_fields(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : lines_of(text)) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    rows.push_back(f);
  }
  return rows;
}

std::string utf16_le(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (const char c : text) out += std::string{c, '\0'};
  return out;
}

// Every NA another of the default unknown codes.
std::string varied_codes(const std::string& text) {
  static const char* const codes[] = {"unknown", "?", "UNK", "-", "NULL", "none", "N/A", "", ".", "0", "na"};
  std::string out;
  size_t k = 0;
  for (auto& row : tab_fields(text)) {
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "\t" : "") + (row[i] == "NA" ? codes[k++ % std::size(codes)] : row[i]);
    out += "\n";
  }
  return out;
}

// Semicolons, every field quoted with blanks inside the quotes, CR LF, the
// header in German, the columns in another order.
std::string german_spreadsheet(const std::string& text) {
  const std::map<std::string, std::string> german = {{"Indiv", "Tier"}, {"Sire", "Vater"}, {"Dam", "Mutter"},
                                                     {"Born", "Geburtsjahr"}, {"Sex", "Geschlecht"}, {"Breed", "Rasse"}};
  std::string out;
  bool header = true;
  for (auto row : tab_fields(text)) {
    std::rotate(row.begin(), row.begin() + 3, row.end());
    for (size_t i = 0; i < row.size(); ++i) {
      const auto it = german.find(row[i]);
      out += (i ? ";" : "") + std::string("\" ") + (header && it != german.end() ? it->second : row[i]) + "\"";
    }
    out += "\r\n";
    header = false;
  }
  return out;
}

// The lines below the header in another order, some of them twice.
std::string shuffled(const std::string& text) {
  std::vector<std::string> lines = lines_of(text);
  std::string out = lines.front() + "\n";
  lines.erase(lines.begin());
  std::vector<std::string> mixed;
  for (size_t i = 0; i < lines.size(); ++i) {
    mixed.push_back(lines[(i * 7919) % lines.size()]);  // 7919 is prime: each line once
    if (i % 97 == 0) mixed.push_back(mixed.back());
  }
  for (const auto& l : mixed) out += l + "\n";
  return out;
}

// One line in the middle with a field too many.
std::string field_too_many(const std::string& text) {
  std::vector<std::string> lines = lines_of(text);
  lines[lines.size() / 2] += "\tx";
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

struct RealCase {
  const char* name;
  const char* set;
  std::vector<std::string> args;  // raw files are relative to raw/
  bool records_for_all;           // no data file: every animal has one record
  bool families_over_500;         // needs PARCLAS's --max-family auto
  bool trimmed;                   // links cut: compare only where the ancestry is whole
  Messy messy = nullptr;          // rewrites the pedigree file first
  const char* stop = nullptr;     // the preparation stops with a message holding this
};

void PrintTo(const RealCase& c, std::ostream* os) { *os << c.name; }

class PrepRealPedigree : public ::testing::TestWithParam<RealCase> {};

TEST_P(PrepRealPedigree, InbreedingByOriginalIdentifier) {
  const RealCase& c = GetParam();
  const fs::path raw = kRealData / "raw";
  if (!fs::is_directory(raw)) GTEST_SKIP() << "real pedigrees not found at " << kRealData;
  ScratchDir scratch(std::string("prep-") + c.name);
  const fs::path out = scratch.path() / "run";
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(a.find('.') != std::string::npos && fs::exists(raw / a) ? (raw / a).string() : a);
  if (c.messy != nullptr) {
    write_file(scratch.path() / "herdbook.txt", c.messy(read_file(args.at(1))));
    args.at(1) = (scratch.path() / "herdbook.txt").string();
  }
  args.insert(args.end(), {"--out", out.string()});
  std::ostringstream console;
  std::ostringstream errors;
  const int status = prep::run_prep(args, console, errors);
  if (c.stop != nullptr) {
    EXPECT_EQ(status, prep::kStopped);
    EXPECT_NE((console.str() + errors.str()).find(c.stop), std::string::npos) << console.str() << errors.str();
    EXPECT_FALSE(fs::exists(out));
    return;
  }
  ASSERT_EQ(status, prep::kPrepared) << console.str() << errors.str();

  // PARCLAS runs with the options the preparation's last line gives.
  const std::string& said = console.str();
  const size_t run_at = said.rfind("\nrun: cd ");
  ASSERT_NE(run_at, std::string::npos) << said;
  const size_t from = said.find(" && parclas", run_at) + 11;
  RunOptions options;
  options.arguments = words(said.substr(from, said.find(" < answers", from) - from));
  if (c.families_over_500) {
    EXPECT_EQ(options.arguments, (std::vector<std::string>{"--max-family", "auto"})) << said;
  }
  const Outcome run = run_program(out, read_file(out / "answers"), options);
  ASSERT_EQ(run.status, 0) << run.console << run.errors;

  std::map<long, std::string> id_of;
  for (const auto& line : lines_of(read_file(out / "animals.txt"))) {
    const size_t blank = line.find(' ');
    id_of[number(line.substr(0, blank))] = line.substr(blank + 1);
  }
  const auto par = lines_of(read_file(out / "par.txt"));
  const size_t effects = static_cast<size_t>(number(words(par.at(3))[0]));
  const size_t animal_column = static_cast<size_t>(number(words(par.at(3 + effects))[0]));

  const ExpectedSet expected = read_set(kRealData / c.set);
  const Parents prepared = c.trimmed ? read_prepared(out, id_of) : Parents{};
  std::set<std::string> recorded;
  size_t compared = 0;
  for (const auto& line : lines_of(read_file(out / "domrecdata.txt"))) {
    const auto w = words(line);
    ASSERT_GE(w.size(), animal_column + 2) << line;
    const std::string& id = id_of.at(number(w[animal_column - 1]));
    const std::string& f = w[w.size() - 2];
    recorded.insert(id);
    ASSERT_TRUE(expected.thousandths.count(id)) << id;
    const std::string& want = expected.thousandths.at(id);
    if (want == "NA") continue;
    if (c.trimmed && ancestor_count(prepared, id) != ancestor_count(expected.parents, id)) {
      EXPECT_LE(number(f), number(want)) << id;  // fewer paths, never more inbreeding
      continue;
    }
    EXPECT_EQ(f, want) << c.name << ": animal " << id;
    ++compared;
  }
  if (c.records_for_all) {
    EXPECT_EQ(recorded.size(), id_of.size());
  }
  EXPECT_GT(compared, 0u);
}

const RealCase kCases[] = {
    {"mrode2", "mrode2", {"--pedigree", "Mrode2.tab"}, true, false, false},
    {"mrode9", "mrode9", {"--pedigree", "Mrode9.tab"}, true, false, false},
    {"fg90", "fg90", {"--pedigree", "FG90.tab"}, true, false, false},
    {"warcolak", "warcolak", {"--pedigree", "warcolak.tab"}, true, false, false},
    {"pedcows", "pedcows", {"--pedigree", "pedCows.txt"}, true, false, false},
    {"pedcows_milk", "pedcows", {"--pedigree", "pedCows.txt", "--data", "milk.txt"}, false, false, false},
    {"example", "hinterwald_example", {"--pedigree", "ExamplePed.txt"}, true, false, false},
    {"hinterwald", "hinterwald_clean", {"--pedigree", "PedigWithErrors.txt", "--break-loops"}, true, true, false},
    {"hinterwald_trim_phen", "hinterwald_clean",
     {"--pedigree", "PedigWithErrors.txt", "--break-loops", "--trim", "--data", "Phen.txt", "--scale", "BV=100",
      "--scale", "NC=1000"},
     false, false, true},
    {"ggtutorial", "ggtutorial", {"--pedigree", "ggTutorial.tab"}, true, true, false},
    {"ggtutorial_trim", "ggtutorial", {"--pedigree", "ggTutorial.tab", "--trim"}, true, false, true},
    // Messy writings of the same files
    {"pedcows_utf16", "pedcows", {"--pedigree", "pedCows.txt"}, true, false, false, utf16_le},
    {"example_unknown_codes", "hinterwald_example", {"--pedigree", "ExamplePed.txt"}, true, false, false, varied_codes},
    {"hinterwald_german_spreadsheet", "hinterwald_clean", {"--pedigree", "PedigWithErrors.txt", "--break-loops"}, true,
     true, false, german_spreadsheet},
    {"hinterwald_shuffled", "hinterwald_clean", {"--pedigree", "PedigWithErrors.txt", "--break-loops"}, true, true, false,
     shuffled},
    {"hinterwald_loops_stop", "hinterwald_clean", {"--pedigree", "PedigWithErrors.txt"}, true, false, false, nullptr,
     "pedigree loops (--break-loops cuts them): 1 (error)"},
    {"example_field_too_many_stops", "hinterwald_example", {"--pedigree", "ExamplePed.txt"}, true, false, false,
     field_too_many, "herdbook.txt:591: 8 fields, the header has 7"},
};

INSTANTIATE_TEST_SUITE_P(Raw, PrepRealPedigree, ::testing::ValuesIn(kCases),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

}  // namespace
}  // namespace parclas
