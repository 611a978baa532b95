// End-to-end runs on real, public pedigrees kept beside the repository, in
// ../shared/realdata. Each set folder holds the program's inputs (par.txt,
// ped.txt, data.txt, answers) and fexact.txt, the exact inbreeding of every
// animal computed by independent means. The program runs on a scratch copy
// of the inputs; the checks read its files back and compare them with what
// the pedigree itself implies, without any of the program's own routines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "e2e/run_program.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

const fs::path kRealData = PARCLAS_REALDATA_DIR;

// ---- text helpers -------------------------------------------------------

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < line.size();) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    const size_t end = std::min(line.find(' ', i), line.size());
    out.push_back(line.substr(i, end - i));
    i = end;
  }
  return out;
}

std::optional<int64_t> to_integer(std::string_view word) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// Every word of the line as an integer; nullopt when one is not.
std::optional<std::vector<int64_t>> integers(std::string_view line) {
  std::vector<int64_t> out;
  for (const std::string_view w : words(line)) {
    const auto v = to_integer(w);
    if (!v) return std::nullopt;
    out.push_back(*v);
  }
  return out;
}

// The digit runs of a console line, as numbers.
std::vector<int64_t> numbers_in(const std::string& line) {
  std::vector<int64_t> out;
  for (size_t i = 0; i < line.size();) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j]))) ++j;
    out.push_back(*to_integer(std::string_view(line).substr(i, j - i)));
    i = j;
  }
  return out;
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Collects the faults of one check and reports their number and the first few.
class Faults {
 public:
  explicit Faults(std::string what) : what_(std::move(what)) {}
  Faults(const Faults&) = delete;
  Faults& operator=(const Faults&) = delete;
  ~Faults() {
    if (count_ == 0) return;
    std::string list;
    for (const std::string& s : shown_) list += "\n  " + s;
    ADD_FAILURE() << what_ << ": " << count_ << " faults; the first:" << list;
  }
  template <typename... Parts>
  void add(const Parts&... parts) {
    if (++count_ > 10) return;
    std::ostringstream s;
    (s << ... << parts);
    shown_.push_back(s.str());
  }

 private:
  std::string what_;
  std::vector<std::string> shown_;
  int64_t count_ = 0;
};

// ---- the inputs of a set --------------------------------------------------

struct SetInputs {
  std::string par_name, data_name, ped_name;
  int passes = 0;
  int record_length = 0;
  int animal_column = 0;
};

SetInputs read_inputs(const fs::path& dir) {
  SetInputs in;
  const auto answers = lines_of(read_file(dir / "answers"));
  in.par_name = trimmed(answers.at(0));
  in.passes = static_cast<int>(to_integer(trimmed(answers.at(1))).value());
  const auto par = lines_of(read_file(dir / in.par_name));
  in.data_name = trimmed(par.at(0));
  in.ped_name = trimmed(par.at(1));
  const auto counts = integers(par.at(3)).value();
  in.record_length = static_cast<int>(counts.at(1));
  in.animal_column = static_cast<int>(integers(par.at(3 + counts.at(0))).value().at(0));
  return in;
}

// The pedigree as the relationship file gives it: parents as written, and
// the identifier as the first 16 characters of the last field, blank-padded.
struct Pedigree {
  std::vector<int32_t> sire{0}, dam{0};
  std::vector<std::string> id{""};
  std::unordered_map<std::string, int32_t> animal_of;
  int32_t size() const { return static_cast<int32_t>(sire.size()) - 1; }
};

Pedigree read_pedigree(const fs::path& file) {
  Pedigree p;
  for (const std::string& line : lines_of(read_file(file))) {
    const auto w = words(line);
    const auto animal = to_integer(w.at(0)).value();
    if (animal != p.size() + 1) throw std::runtime_error("animals are not numbered 1..N in order");
    p.sire.push_back(static_cast<int32_t>(to_integer(w.at(1)).value()));
    p.dam.push_back(static_cast<int32_t>(to_integer(w.at(2)).value()));
    std::string id(w.back().substr(0, 16));
    id.resize(16, ' ');
    if (!p.animal_of.emplace(id, static_cast<int32_t>(animal)).second) {
      throw std::runtime_error("identifier used twice: " + id);
    }
    p.id.push_back(id);
  }
  for (int32_t a = 1; a <= p.size(); ++a) {
    if (p.sire[a] < 0 || p.sire[a] > p.size() || p.dam[a] < 0 || p.dam[a] > p.size()) {
      throw std::runtime_error("a parent without a line of its own");
    }
  }
  return p;
}

std::vector<std::vector<int64_t>> read_records(const fs::path& file) {
  std::vector<std::vector<int64_t>> records;
  for (const std::string& line : lines_of(read_file(file)))
    records.push_back(integers(line).value());
  return records;
}

// expected_thousandths per animal number; nullopt for animals without a value.
std::vector<std::optional<int64_t>> read_exact_inbreeding(const fs::path& file) {
  std::vector<std::optional<int64_t>> f{std::nullopt};
  for (const std::string& line : lines_of(read_file(file))) {
    if (line.empty() || line[0] == '#') continue;
    const auto w = words(line);
    if (to_integer(w.at(0)).value() != static_cast<int64_t>(f.size())) {
      throw std::runtime_error("fexact.txt is not in animal order");
    }
    f.push_back(to_integer(w.at(3)));
  }
  return f;
}

// Copies the inputs of a set into `work` and runs the program there with
// the command line `arguments`.
Outcome run_set(const fs::path& set, const SetInputs& in, const fs::path& work,
                const std::vector<std::string>& arguments = {}) {
  for (const std::string& name : {in.par_name, in.ped_name, in.data_name}) {
    write_file(work / name, read_file(set / name));
  }
  RunOptions options;
  options.arguments = arguments;
  return run_program(work, read_file(set / "answers"), options);
}

// A set run with one way of computing inbreeding: the family method within
// its default limit, without a family limit, or the exact method.
struct SetRun {
  const char* set;
  std::vector<std::string> arguments;
  const char* label;
};

void PrintTo(const SetRun& run, std::ostream* out) { *out << run.set << " " << run.label; }

std::vector<SetRun> set_runs(const std::vector<const char*>& within_limit,
                             const std::vector<const char*>& every_set) {
  std::vector<SetRun> runs;
  for (const char* set : within_limit) runs.push_back({set, {}, "default"});
  for (const char* set : every_set) runs.push_back({set, {"--max-family", "auto"}, "no_family_limit"});
  for (const char* set : every_set) runs.push_back({set, {"--inbreeding", "exact"}, "exact"});
  return runs;
}

std::string set_run_name(const ::testing::TestParamInfo<SetRun>& info) {
  return std::string(info.param.set) + "_" + info.param.label;
}

// ---- the classes the pedigree implies --------------------------------------

using PairKey = int64_t;  // lower animal number in the high half

PairKey key_of(int32_t a, int32_t b) {
  if (a > b) std::swap(a, b);
  return (static_cast<int64_t>(a) << 32) | static_cast<uint32_t>(b);
}
int32_t lower(PairKey k) { return static_cast<int32_t>(k >> 32); }
int32_t upper(PairKey k) { return static_cast<int32_t>(k & 0xffffffff); }

// The eight ancestor pairs of (m1, m2), m1 the lower animal number, from the
// two members' parent columns: members with the other's parents first, then
// the parents of one with the parents of the other.
std::array<std::array<int32_t, 2>, 8> ancestor_pairs(int32_t m1, int32_t m2,
                                                     const std::array<int32_t, 4>& p) {
  const int32_t s1 = p[0], d1 = p[1], s2 = p[2], d2 = p[3];
  return {{{m1, s2}, {m1, d2}, {m2, s1}, {m2, d1}, {s1, s2}, {s1, d2}, {d1, s2}, {d1, d2}}};
}

// Which pairs the run must store, fill, keep and eliminate, worked out
// pass by pass over sets of pairs.
struct ClassModel {
  struct Entry {
    bool recorded = false;      // sire x dam of a recorded animal
    bool never_filled = false;  // a pair of an animal with itself added as an ancestor
    bool filled = false;
    std::array<int32_t, 4> parents{};  // sire and dam of member1, then of member2
    int64_t references = 0;            // 1 per parental, 2 per grand-parental reference
    bool has_grandparents() const {
      return filled && (parents[0] | parents[1] | parents[2] | parents[3]) != 0;
    }
    bool eliminated() const { return !recorded && references == 1 && !has_grandparents(); }
  };
  std::unordered_map<PairKey, Entry> pairs;
  std::vector<int64_t> added_per_pass;  // passes that added something
  int64_t recorded = 0;
  int64_t own_classes = 0;
  std::vector<int64_t> own_class;               // by animal number; 0 = none
  std::vector<std::array<int32_t, 2>> columns;  // parent columns as the expansion reads them

  template <typename Pred>
  int64_t count(Pred pred) const {
    int64_t n = 0;
    for (const auto& [key, e] : pairs) n += pred(e) ? 1 : 0;
    return n;
  }
};

ClassModel model_classes(const Pedigree& ped, const std::vector<std::vector<int64_t>>& records,
                         int animal_column, int passes) {
  ClassModel m;
  m.own_class.assign(ped.size() + 1, 0);
  m.columns.resize(ped.size() + 1);
  for (int32_t a = 1; a <= ped.size(); ++a) m.columns[a] = {ped.sire[a], ped.dam[a]};
  std::vector<PairKey> frontier;
  for (const auto& record : records) {
    const auto a = static_cast<int32_t>(record.at(animal_column - 1));
    if (ped.sire[a] != 0 && ped.dam[a] != 0) {
      // A recorded animal's parents are held lower number first from here on.
      m.columns[a] = {std::min(ped.sire[a], ped.dam[a]), std::max(ped.sire[a], ped.dam[a])};
      const PairKey k = key_of(ped.sire[a], ped.dam[a]);
      auto [it, added] = m.pairs.try_emplace(k);
      it->second.recorded = true;
      if (added) frontier.push_back(k);
    } else if (m.own_class[a] == 0) {
      m.own_class[a] = ++m.own_classes;
    }
  }
  m.recorded = static_cast<int64_t>(m.pairs.size());
  for (int pass = 1; pass <= passes && !frontier.empty(); ++pass) {
    std::vector<PairKey> next;
    for (const PairKey k : frontier) {
      ClassModel::Entry& e = m.pairs.at(k);
      if (e.never_filled) continue;
      const int32_t m1 = lower(k), m2 = upper(k);
      e.filled = true;
      e.parents = {m.columns[m1][0], m.columns[m1][1], m.columns[m2][0], m.columns[m2][1]};
      for (const auto& [x, y] : ancestor_pairs(m1, m2, e.parents)) {
        if (x == 0 || y == 0) continue;
        auto [it, added] = m.pairs.try_emplace(key_of(x, y));
        if (!added) continue;
        it->second.never_filled = x == y;
        next.push_back(it->first);
      }
    }
    if (!next.empty()) m.added_per_pass.push_back(static_cast<int64_t>(next.size()));
    frontier = std::move(next);
  }
  for (auto& [k, e] : m.pairs) {
    if (!e.has_grandparents()) continue;
    int position = 0;
    for (const auto& [x, y] : ancestor_pairs(lower(k), upper(k), e.parents)) {
      ++position;
      if (x != 0 && y != 0) m.pairs.at(key_of(x, y)).references += position <= 4 ? 1 : 2;
    }
  }
  return m;
}

// ---- the class files as written ---------------------------------------------

struct ClassFiles {
  std::vector<PairKey> pair_of{0};  // by class number
  std::unordered_map<PairKey, int64_t> class_of;
  std::vector<std::vector<int64_t>> pedigree_lines;
};

// Reads the class identifier file (I8, blank, 16-character identifier, blank,
// 16-character identifier) back into animal pairs through the identifiers.
ClassFiles read_class_files(const fs::path& id_file, const fs::path& pedigree_file,
                            const Pedigree& ped) {
  ClassFiles c;
  const auto lines = lines_of(read_file(id_file));
  c.pair_of.assign(lines.size() + 1, 0);
  Faults faults("class identifier file " + id_file.filename().string());
  for (const std::string& line : lines) {
    if (line.size() != 42 || line[8] != ' ' || line[25] != ' ') {
      faults.add("layout: [", line, "]");
      continue;
    }
    const auto number = to_integer(trimmed(line.substr(0, 8)));
    const auto first = ped.animal_of.find(line.substr(9, 16));
    const auto second = ped.animal_of.find(line.substr(26, 16));
    if (!number || *number < 1 || *number > static_cast<int64_t>(lines.size())) {
      faults.add("class number out of 1..", lines.size(), ": [", line, "]");
    } else if (first == ped.animal_of.end() || second == ped.animal_of.end()) {
      faults.add("identifier not in the pedigree: [", line, "]");
    } else if (first->second > second->second) {
      faults.add("member with the higher animal number first: [", line, "]");
    } else if (c.pair_of[*number] != 0) {
      faults.add("class number twice: [", line, "]");
    } else {
      const PairKey k = key_of(first->second, second->second);
      c.pair_of[*number] = k;
      if (!c.class_of.emplace(k, *number).second) faults.add("pair twice: [", line, "]");
    }
  }
  for (const std::string& line : lines_of(read_file(pedigree_file))) {
    const auto items = integers(line);
    if (!items || items->size() != 10 || words(line).size() != 10 || line.find("  ") != line.npos ||
        line.front() == ' ' || line.back() == ' ') {
      faults.add("class pedigree line layout: [", line, "]");
      continue;
    }
    c.pedigree_lines.push_back(*items);
  }
  return c;
}

// ---- sets that run to the end ---------------------------------------------

class RealPedigreeRun : public ::testing::TestWithParam<SetRun> {};

TEST_P(RealPedigreeRun, InbreedingClassesAndCounts) {
  const fs::path set = kRealData / GetParam().set;
  if (!fs::is_directory(set)) GTEST_SKIP() << "real pedigrees not found at " << set;
  const SetInputs in = read_inputs(set);
  const Pedigree ped = read_pedigree(set / in.ped_name);
  const auto records = read_records(set / in.data_name);
  const auto exact = read_exact_inbreeding(set / "fexact.txt");
  ASSERT_EQ(exact.size(), ped.id.size()) << "fexact.txt has one line per animal";
  for (const auto& r : records) {
    ASSERT_EQ(r.size(), static_cast<size_t>(in.record_length));
    ASSERT_TRUE(r[in.animal_column - 1] >= 1 && r[in.animal_column - 1] <= ped.size());
  }

  const ScratchDir work(std::string("real-") + GetParam().set);
  const Outcome run = run_set(set, in, work.path(), GetParam().arguments);
  ASSERT_EQ(run.status, 0) << run.errors;
  if (GetParam().arguments.empty()) {
    EXPECT_EQ(run.errors, "");
  } else if (GetParam().arguments[0] == "--max-family") {
    EXPECT_TRUE(run.errors.starts_with("sizes used: --max-animals 500000 --max-family "))
        << run.errors;
  }
  const auto console = lines_of(run.console);

  const ClassModel model = model_classes(ped, records, in.animal_column, in.passes);
  const ClassFiles classes = read_class_files(work.path() / ("domid" + in.ped_name),
                                              work.path() / ("domd" + in.ped_name), ped);
  const auto recoded = lines_of(read_file(work.path() / ("domrec" + in.data_name)));
  const int64_t class_count = static_cast<int64_t>(classes.pair_of.size()) - 1;
  const int64_t with_parent_classes = static_cast<int64_t>(classes.pedigree_lines.size());

  // Console counts against the files and against the pedigree.
  {
    auto line_with = [&](std::string_view start) {
      std::vector<std::vector<int64_t>> found;
      for (const std::string& line : console) {
        if (line.starts_with(start) || line.ends_with(start)) {
          found.push_back(numbers_in(line));
        }
      }
      return found;
    };
    auto single = [&](std::string_view start) {
      const auto found = line_with(start);
      EXPECT_EQ(found.size(), 1u) << "console lines starting or ending with [" << start << "]";
      return found.size() == 1 ? found[0] : std::vector<int64_t>{};
    };
    int64_t stored = model.recorded;
    std::vector<std::vector<int64_t>> passes;
    for (size_t p = 0; p < model.added_per_pass.size(); ++p) {
      stored += model.added_per_pass[p];
      passes.push_back({static_cast<int64_t>(p + 1), model.added_per_pass[p]});
    }
    const int64_t eliminated =
        model.count([](const ClassModel::Entry& e) { return e.eliminated(); });
    const int64_t candidates = model.count([](const ClassModel::Entry& e) {
      return !e.recorded && e.references == 1 && e.has_grandparents();
    });
    const int64_t kept_with_grandparents = model.count(
        [](const ClassModel::Entry& e) { return !e.eliminated() && e.has_grandparents(); });

    EXPECT_EQ(single(" Read "), (std::vector<int64_t>{static_cast<int64_t>(records.size())}));
    EXPECT_EQ(recoded.size(), records.size()) << "recoded data lines";
    EXPECT_EQ(single(" Created "), (std::vector<int64_t>{model.recorded, model.own_classes}));
    EXPECT_EQ(line_with(" after pass"), passes);
    EXPECT_EQ(single(" In total"), (std::vector<int64_t>{stored}));
    EXPECT_EQ(single(" eliminated"), (std::vector<int64_t>{eliminated, stored - eliminated}));
    EXPECT_EQ(single(" perhaps could eliminate"), (std::vector<int64_t>{candidates}));
    EXPECT_EQ(single(" created "), (std::vector<int64_t>{with_parent_classes}))
        << "against the class pedigree file";
    EXPECT_EQ(single(" classes have no parent classes"),
              (std::vector<int64_t>{class_count - with_parent_classes}))
        << "against the class identifier file";
    EXPECT_EQ(with_parent_classes, kept_with_grandparents);
    EXPECT_EQ(class_count, stored - eliminated);
    EXPECT_EQ(line_with(" error 234").size(), 0u);
    EXPECT_EQ(line_with(" no pedigree for animal").size(), 0u);
  }

  // The classes named in the identifier file are the pairs that survive, and
  // those with parent classes come first.
  {
    Faults faults("classes against the pairs the pedigree implies");
    for (int64_t c = 1; c <= class_count; ++c) {
      const PairKey k = classes.pair_of[c];
      const auto it = model.pairs.find(k);
      if (k == 0) continue;  // already reported as a malformed line
      if (it == model.pairs.end() || it->second.eliminated()) {
        faults.add("class ", c, " names animals ", lower(k), " and ", upper(k),
                   ", not a surviving pair");
      } else if (it->second.has_grandparents() != (c <= with_parent_classes)) {
        faults.add("class ", c, " (", lower(k), ", ", upper(k), ") ",
                   it->second.has_grandparents() ? "has" : "has no", " parent classes");
      }
    }
    for (const auto& [k, e] : model.pairs) {
      if (!e.eliminated() && !classes.class_of.contains(k)) {
        faults.add("pair (", lower(k), ", ", upper(k), ") has no class");
      }
    }
  }

  // Every class pedigree line names the classes of its eight ancestor pairs.
  {
    Faults faults("class pedigree file");
    for (size_t line = 0; line < classes.pedigree_lines.size(); ++line) {
      const auto& items = classes.pedigree_lines[line];
      const int64_t c = items[0];
      if (c != static_cast<int64_t>(line) + 1) {
        faults.add("line ", line + 1, " is for class ", c);
        continue;
      }
      const PairKey k = classes.pair_of[c];
      if (k == 0) continue;
      const int32_t m1 = lower(k), m2 = upper(k);
      const std::array<int32_t, 4> parents = {model.columns[m1][0], model.columns[m1][1],
                                              model.columns[m2][0], model.columns[m2][1]};
      int64_t mask = 0;
      int position = 0;
      for (const auto& [x, y] : ancestor_pairs(m1, m2, parents)) {
        ++position;
        int64_t expected = 0;
        if (x != 0 && y != 0) {
          const auto found = classes.class_of.find(key_of(x, y));
          if (found != classes.class_of.end()) expected = found->second;
        }
        if (items[position] != expected) {
          faults.add("class ", c, " (", m1, ", ", m2, ") position ", position, " (", x, ", ", y,
                     "): ", items[position], ", expected ", expected);
        }
        if (items[position] != 0) mask |= int64_t{1} << (position - 1);
      }
      if (items[9] != mask) faults.add("class ", c, " mask ", items[9], ", items give ", mask);
    }
  }

  // Recoded data: every record as read, the animal's exact inbreeding and its class.
  {
    Faults inbreeding("inbreeding against fexact.txt");
    Faults recoding("recoded data file");
    std::vector<bool> seen(ped.id.size(), false);
    for (size_t i = 0; i < std::min(records.size(), recoded.size()); ++i) {
      const auto& record = records[i];
      const auto items = integers(recoded[i]);
      if (!items || items->size() != record.size() + 2 ||
          !std::equal(record.begin(), record.end(), items->begin())) {
        recoding.add("line ", i + 1, ": [", recoded[i], "]");
        continue;
      }
      const auto a = static_cast<int32_t>(record[in.animal_column - 1]);
      seen[a] = true;
      const int64_t f = items->at(record.size());
      const int64_t cls = items->back();
      if (!exact[a] || f != *exact[a]) {
        inbreeding.add("animal ", a, " (", trimmed(ped.id[a]), "): ", f, ", exact ",
                       exact[a] ? std::to_string(*exact[a]) : "none");
      }
      if (ped.sire[a] != 0 && ped.dam[a] != 0) {
        const PairKey named = cls >= 1 && cls <= class_count ? classes.pair_of[cls] : 0;
        if (named != key_of(ped.sire[a], ped.dam[a])) {
          recoding.add("animal ", a, " with parents ", trimmed(ped.id[ped.sire[a]]), " and ",
                       trimmed(ped.id[ped.dam[a]]), " has class ", cls);
        }
      } else if (cls != class_count + model.own_class[a]) {
        recoding.add("animal ", a, " without two known parents has class ", cls, ", expected ",
                     class_count + model.own_class[a]);
      }
    }
    for (int32_t a = 1; a <= ped.size(); ++a) {
      if (!seen[a]) inbreeding.add("animal ", a, " has no recoded record");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, RealPedigreeRun,
    ::testing::ValuesIn(set_runs({"hinterwald_clean_fit", "hinterwald_example", "pedcows",
                                  "ggtutorial_fit", "warcolak", "mrode2", "mrode9", "fg90"},
                                 {"hinterwald_clean", "hinterwald_clean_sorted",
                                  "hinterwald_clean_fit", "hinterwald_example", "pedcows",
                                  "ggtutorial", "ggtutorial_fit", "warcolak", "mrode2", "mrode9",
                                  "fg90"})),
    set_run_name);

// ---- sets that must stop --------------------------------------------------

struct Stop {
  const char* set;
  const char* last_line;
  std::vector<std::string> arguments = {};
  const char* label = "default";
};

void PrintTo(const Stop& stop, std::ostream* out) { *out << stop.set << " " << stop.label; }

class RealPedigreeStop : public ::testing::TestWithParam<Stop> {};

TEST_P(RealPedigreeStop, LastConsoleLineIsTheMessage) {
  const fs::path set = kRealData / GetParam().set;
  if (!fs::is_directory(set)) GTEST_SKIP() << "real pedigrees not found at " << set;
  const SetInputs in = read_inputs(set);
  const ScratchDir work(std::string("real-") + GetParam().set);
  const Outcome run = run_set(set, in, work.path(), GetParam().arguments);
  EXPECT_EQ(run.status, 1);
  if (GetParam().arguments.empty()) {
    EXPECT_EQ(run.errors, "");
  }
  const std::string last = std::string(GetParam().last_line) + "\n";
  ASSERT_GE(run.console.size(), last.size());
  EXPECT_EQ(run.console.substr(run.console.size() - last.size()), last)
      << "console ends with\n"
      << run.console.substr(run.console.rfind('\n', run.console.size() - 2) + 1);
  // The stop comes before any output file receives a line.
  for (const std::string& name : {"domd" + in.ped_name, "domid" + in.ped_name, "d" + in.ped_name,
                                  "domrec" + in.data_name, "dom" + in.par_name}) {
    EXPECT_TRUE(fs::exists(work.path() / name)) << name;
    EXPECT_EQ(read_file(work.path() / name), "") << name;
  }
}

// List-directed lines: one blank before the leading text, integers in 12 characters.
INSTANTIATE_TEST_SUITE_P(
    Sets, RealPedigreeStop,
    ::testing::Values(Stop{"hinterwald_errors",
                           " pedigree loop: animal is its own ancestor:          890"},
                      Stop{"hinterwald_clean", " increase fammax in HAINB"},
                      Stop{"hinterwald_clean_sorted", " increase fammax in HAINB"},
                      Stop{"ggtutorial", " increase fammax in HAINB"},
                      Stop{"hinterwald_errors",
                           " pedigree loop: animal is its own ancestor:          890",
                           {"--max-family", "auto"},
                           "no_family_limit"},
                      Stop{"hinterwald_errors",
                           " pedigree loop: animal is its own ancestor:          890",
                           {"--inbreeding", "exact"},
                           "exact"}),
    [](const auto& row_info) { return std::string(row_info.param.set) + "_" + row_info.param.label; });

// The script the README gives users to find the animals behind these stops
// lists every family over 500 members and every member of a loop.
TEST(FamiliesScript, ListsTheAnimalsThatStopARun) {
  const fs::path ped = kRealData / "hinterwald_errors" / "ped.txt";
  if (!fs::exists(ped)) GTEST_SKIP() << "real pedigrees not found at " << kRealData;
  const ScratchDir work("families-script");
  const fs::path listing = work.path() / "listing";
  const std::string command = "awk -f '" +
                              (fs::path(PARCLAS_SOURCE_DIR) / "scripts/families.awk").string() +
                              "' '" + ped.string() + "' > '" + listing.string() + "'";
  const int status = std::system(command.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "awk not found";
  ASSERT_EQ(status, 0) << command;
  EXPECT_EQ(read_file(listing),
            "family too large 563 276000814068171 514\n"
            "own ancestor 890 276000802875148\n"
            "own ancestor 1149 276000811476506\n"
            "own ancestor 4584 276000802918754\n"
            "family too large 4755 276000813798399 511\n"
            "own ancestor 4764 276000802938197\n"
            "family too large 5118 276000814047526 579\n"
            "family too large 5366 276000813134331 514\n"
            "family too large 5417 276000813389023 527\n"
            "own ancestor 6209 276000890878480\n");
}

}  // namespace
}  // namespace parclas
