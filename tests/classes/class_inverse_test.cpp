// The inverse of the class covariance matrix, held against dense matrices
// built here from the definitions: the additive relationships of the
// pedigree, the covariance matrix F of the written classes and its inverse,
// and T' R^-1 T from each class's regression on the ancestor classes of its
// class pedigree line. The program runs as a user runs it, on small folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_program.h"
#include "splitmix.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

using Matrix = std::vector<std::vector<double>>;

Matrix zeros(size_t n) { return Matrix(n, std::vector<double>(n, 0.0)); }

// Cholesky of a symmetric positive definite matrix: its inverse and the log
// of its determinant.
Matrix inverse_of(const Matrix& m, double* log_determinant = nullptr) {
  const size_t n = m.size();
  Matrix l = zeros(n);
  double log_det = 0.0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j <= i; ++j) {
      double s = m[i][j];
      for (size_t k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
      if (i == j) {
        EXPECT_GT(s, 0.0) << "not positive definite at " << i;
        l[i][i] = std::sqrt(s);
        log_det += std::log(s);
      } else {
        l[i][j] = s / l[j][j];
      }
    }
  }
  Matrix inv = zeros(n);
  for (size_t c = 0; c < n; ++c) {
    std::vector<double> y(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
      double s = i == c ? 1.0 : 0.0;
      for (size_t k = 0; k < i; ++k) s -= l[i][k] * y[k];
      y[i] = s / l[i][i];
    }
    for (size_t i = n; i-- > 0;) {
      double s = y[i];
      for (size_t k = i + 1; k < n; ++k) s -= l[k][i] * inv[k][c];
      inv[i][c] = s / l[i][i];
    }
  }
  if (log_determinant != nullptr) *log_determinant = log_det;
  return inv;
}

// The largest difference, relative to the largest entry of `expected`.
double relative_difference(const Matrix& actual, const Matrix& expected) {
  double largest = 0.0;
  double difference = 0.0;
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t j = 0; j < expected.size(); ++j) {
      largest = std::max(largest, std::abs(expected[i][j]));
      difference = std::max(difference, std::abs(actual[i][j] - expected[i][j]));
    }
  }
  return largest > 0.0 ? difference / largest : difference;
}

// A pedigree: parents of animals 1..n (0 unknown), and the animals with records.
struct Pedigree {
  std::vector<int32_t> sire{0};
  std::vector<int32_t> dam{0};
  std::vector<int32_t> recorded;
  int32_t n() const { return static_cast<int32_t>(sire.size()) - 1; }
};

// Additive relationships of animals 0..n (row and column 0 stay 0).
Matrix relationships(const Pedigree& p) {
  const int32_t n = p.n();
  std::vector<int32_t> order;
  std::vector<char> placed(static_cast<size_t>(n) + 1, 0);
  while (static_cast<int32_t>(order.size()) < n) {
    for (int32_t a = 1; a <= n; ++a) {
      if (!placed[a] && (p.sire[a] == 0 || placed[p.sire[a]]) && (p.dam[a] == 0 || placed[p.dam[a]])) {
        placed[a] = 1;
        order.push_back(a);
      }
    }
  }
  Matrix a = zeros(static_cast<size_t>(n) + 1);
  std::vector<int32_t> done;
  for (const int32_t x : order) {
    const int32_t s = p.sire[x];
    const int32_t d = p.dam[x];
    a[x][x] = 1.0 + 0.5 * a[s][d];
    for (const int32_t y : done) a[x][y] = a[y][x] = 0.5 * (a[y][s] + a[y][d]);
    done.push_back(x);
  }
  return a;
}

// Animals in birth order, then numbered at random. Without matings of
// relatives every pair of parents is unrelated; with them, parents come from
// a few breeders of the last generations, so matings of relatives abound.
Pedigree draw_pedigree(SplitMix64& rng, int animals, bool relatives, int unknown_percent,
                       int breeders = 8) {
  auto below = [&](int n) { return static_cast<int>(rng.next() % static_cast<uint64_t>(n)); };
  Pedigree birth;
  const int founders = 4 + below(4);
  for (int k = 1; k <= animals; ++k) {
    int32_t s = 0;
    int32_t d = 0;
    if (k > founders) {
      const int window = relatives ? breeders : k - 1;
      auto pick = [&] { return static_cast<int32_t>(k - 1 - below(std::min(window, k - 1))); };
      s = below(100) < unknown_percent ? 0 : pick();
      d = below(100) < unknown_percent ? 0 : pick();
      if (!relatives && s != 0 && d != 0) {
        const Matrix a = relationships(birth);
        for (int tries = 0; tries < 30 && (s == d || a[s][d] != 0.0); ++tries) d = pick();
        if (s == d || a[s][d] != 0.0) d = 0;
      }
    }
    birth.sire.push_back(s);
    birth.dam.push_back(d);
  }
  std::vector<int32_t> number(static_cast<size_t>(animals) + 1, 0);
  for (int k = 1; k <= animals; ++k) number[k] = k;
  for (int k = animals; k > 1; --k) std::swap(number[k], number[1 + below(k)]);
  Pedigree p;
  p.sire.assign(static_cast<size_t>(animals) + 1, 0);
  p.dam.assign(static_cast<size_t>(animals) + 1, 0);
  for (int k = 1; k <= animals; ++k) {
    p.sire[number[k]] = number[birth.sire[k]];
    p.dam[number[k]] = number[birth.dam[k]];
    if (below(100) < 60) p.recorded.push_back(number[k]);
  }
  return p;
}

// The pedigree of a relationship file (animal, sire, dam first).
Pedigree read_pedigree(const fs::path& file) {
  Pedigree p;
  for (const std::string& l : lines_of(read_file(file))) {
    std::istringstream s(l);
    int32_t a = 0, sire = 0, dam = 0;
    s >> a >> sire >> dam;
    if (static_cast<size_t>(a) >= p.sire.size()) {
      p.sire.resize(static_cast<size_t>(a) + 1, 0);
      p.dam.resize(static_cast<size_t>(a) + 1, 0);
    }
    p.sire[a] = sire;
    p.dam[a] = dam;
  }
  return p;
}

// Writes the run folder: identifiers A<number>, records (herd 1, animal).
void write_folder(const fs::path& dir, const Pedigree& p) {
  std::ostringstream ped;
  for (int32_t a = 1; a <= p.n(); ++a) {
    const int code = (p.sire[a] != 0) + (p.dam[a] != 0);
    ped << a << ' ' << p.sire[a] << ' ' << p.dam[a] << ' ' << 3 - code << ' ' << 1 + a % 50 << " A"
        << a << '\n';
  }
  std::ostringstream data;
  for (const int32_t a : p.recorded) data << "1 " << a << '\n';
  write_file(dir / "ped.txt", ped.str());
  write_file(dir / "data.txt", data.str());
  write_file(dir / "par.txt", "data.txt\nped.txt\ntest\n2 2\n1 1 0\n2 " + std::to_string(p.n()) +
                                  " -1\n");
}

// The classes a run wrote: members of each class (0 = unknown for an own
// class), the distinct ancestor positions of each class pedigree line.
struct RunClasses {
  int32_t count = 0;
  std::vector<std::pair<int32_t, int32_t>> members;  // by class number
  std::map<int32_t, std::vector<int32_t>> line;      // class -> the 8 positions
};

RunClasses read_classes(const fs::path& dir, const Pedigree& p, size_t animal_column = 2) {
  RunClasses k;
  std::map<std::string, int32_t> number;  // identifier -> animal
  for (const std::string& l : lines_of(read_file(dir / "ped.txt"))) {
    std::istringstream s(l);
    std::vector<std::string> fields;
    for (std::string f; s >> f;) fields.push_back(f);
    number[fields.back()] = std::stoi(fields.front());
  }
  std::map<int32_t, std::pair<int32_t, int32_t>> pairs;
  for (const std::string& l : lines_of(read_file(dir / "domidped.txt"))) {
    auto animal = [&](size_t at) {
      std::string id = l.substr(at, 16);
      id.erase(id.find_last_not_of(' ') + 1);
      return number.at(id);
    };
    pairs[std::stoi(l.substr(0, 8))] = {animal(9), animal(26)};
  }
  const int32_t pair_count = static_cast<int32_t>(pairs.size());
  std::map<int32_t, int32_t> own;  // own class -> its animal
  for (const std::string& l : lines_of(read_file(dir / "domrecdata.txt"))) {
    std::istringstream s(l);
    std::vector<int32_t> fields;
    for (int32_t v; s >> v;) fields.push_back(v);
    if (fields.back() > pair_count) own[fields.back()] = fields[animal_column - 1];
  }
  k.count = pair_count + static_cast<int32_t>(own.size());
  k.members.assign(static_cast<size_t>(k.count) + 1, {0, 0});
  for (const auto& [c, m] : pairs) k.members[c] = m;
  for (const auto& [c, animal] : own) {
    k.members[c] = {p.sire[animal] != 0 ? p.sire[animal] : p.dam[animal], 0};
  }
  for (const std::string& l : lines_of(read_file(dir / "domdped.txt"))) {
    std::istringstream s(l);
    int32_t c;
    s >> c;
    std::vector<int32_t> positions(8);
    for (int32_t& v : positions) s >> v;
    k.line[c] = positions;
  }
  return k;
}

// F over the written classes, 0-based. An own class (P, unknown) has
// variance 1 + F_P (a(P, P)), or 1 without P, and no covariances.
Matrix class_covariances(const RunClasses& k, const Matrix& a) {
  Matrix f = zeros(static_cast<size_t>(k.count));
  for (int32_t c = 1; c <= k.count; ++c) {
    for (int32_t d = 1; d <= k.count; ++d) {
      const auto [x, y] = k.members[c];
      const auto [u, v] = k.members[d];
      if (y == 0 || v == 0) {
        if (c == d) f[c - 1][c - 1] = x != 0 ? a[x][x] : 1.0;
        continue;
      }
      f[c - 1][d - 1] = a[x][u] * a[y][v] + a[x][v] * a[y][u];
    }
  }
  return f;
}

// T' R^-1 T from the definition of each rule, and the sum of log r.
Matrix defined_inverse(const RunClasses& k, const Matrix& f, bool exact, double& log_det) {
  const size_t n = static_cast<size_t>(k.count);
  Matrix m = zeros(n);
  log_det = 0.0;
  for (int32_t c = 1; c <= k.count; ++c) {
    std::map<int32_t, double> b;  // ancestor class -> coefficient
    double r = exact ? f[c - 1][c - 1] : 1.0;
    if (k.line.count(c)) {
      const std::vector<int32_t>& positions = k.line.at(c);
      int parental = 0;
      int grand = 0;
      for (int q = 0; q < 8; ++q) {
        if (positions[q] == 0) continue;
        (q < 4 ? parental : grand) += 1;
        b[positions[q]] += q < 4 ? 0.5 : -0.25;
      }
      if (exact && !b.empty()) {
        std::vector<int32_t> anc;
        for (const auto& [p, unused] : b) anc.push_back(p);
        Matrix v = zeros(anc.size());
        for (size_t i = 0; i < anc.size(); ++i) {
          for (size_t j = 0; j < anc.size(); ++j) v[i][j] = f[anc[i] - 1][anc[j] - 1];
        }
        const Matrix vi = inverse_of(v);
        for (size_t i = 0; i < anc.size(); ++i) {
          double bi = 0.0;
          for (size_t j = 0; j < anc.size(); ++j) bi += vi[i][j] * f[anc[j] - 1][c - 1];
          b[anc[i]] = bi;
          r -= bi * f[anc[i] - 1][c - 1];
        }
      } else if (!exact) {
        r = 1.0 - parental / 4.0 + grand / 16.0;
      }
    }
    std::vector<std::pair<size_t, double>> vc{{static_cast<size_t>(c - 1), 1.0}};
    for (const auto& [p, coefficient] : b) vc.push_back({static_cast<size_t>(p - 1), -coefficient});
    for (const auto& [i, vi] : vc) {
      for (const auto& [j, vj] : vc) m[i][j] += vi * vj / r;
    }
    log_det += std::log(r);
  }
  return m;
}

// The inverse file: its entries, in order, row >= column, each once.
struct InverseFile {
  Matrix matrix;
  bool has_log_determinant = false;
  double log_determinant = 0.0;
  int64_t entries = 0;
};

InverseFile read_inverse(const fs::path& file, int32_t classes, bool gin) {
  InverseFile inv;
  inv.matrix = zeros(static_cast<size_t>(classes));
  std::vector<std::string> lines = lines_of(read_file(file));
  if (gin) {
    EXPECT_FALSE(lines.empty());
    inv.has_log_determinant = true;
    inv.log_determinant = std::stod(lines.front());
    lines.erase(lines.begin());
  }
  std::pair<int32_t, int32_t> previous{0, 0};
  for (const std::string& l : lines) {
    std::istringstream s(l);
    int32_t i = 0, j = 0;
    double v = 0.0;
    s >> i >> j >> v;
    EXPECT_TRUE(s && s.eof()) << "line '" << l << "'";
    EXPECT_TRUE(i >= j && j >= 1 && i <= classes) << l;
    EXPECT_LT(previous, std::make_pair(i, j)) << "not sorted by row, then column: " << l;
    EXPECT_NE(v, 0.0) << l;
    previous = {i, j};
    inv.matrix[i - 1][j - 1] = inv.matrix[j - 1][i - 1] = v;
    ++inv.entries;
  }
  return inv;
}

// Whether every pair class with a known parent of a member has a class
// pedigree line: then the exact rule gives the inverse of F itself.
bool every_class_with_parents_has_a_line(const RunClasses& k, const Pedigree& p) {
  for (int32_t c = 1; c <= k.count; ++c) {
    const auto [x, y] = k.members[c];
    if (y == 0 || k.line.count(c)) continue;
    if (p.sire[x] || p.dam[x] || p.sire[y] || p.dam[y]) return false;
  }
  return true;
}

struct Checked {
  InverseFile file;
  Matrix defined;
  double defined_log_det = 0.0;
  RunClasses classes;
  Matrix f;
  std::string errors;
};

// Runs the program on `p` with the rule and the passes, and checks the file
// against T' R^-1 T from the definitions.
Checked run_and_check(const Pedigree& p, const std::string& rule, int passes,
                      const std::string& name, const std::string& label) {
  const ScratchDir work("inverse");
  write_folder(work.path(), p);
  RunOptions options;
  options.arguments = {"--class-inverse", name, "--class-inverse-rule", rule};
  const Outcome o = run_program(work.path(), "par.txt\n" + std::to_string(passes) + "\n", options);
  EXPECT_EQ(o.status, 0) << label << "\n" << o.console << o.errors;
  Checked k;
  k.errors = o.errors;
  k.classes = read_classes(work.path(), p);
  k.f = class_covariances(k.classes, relationships(p));
  const bool gin = name.ends_with(".gin");
  k.file = read_inverse(work.path() / name, k.classes.count, gin);
  k.defined = defined_inverse(k.classes, k.f, rule == "exact", k.defined_log_det);
  EXPECT_LT(relative_difference(k.file.matrix, k.defined), 1e-9) << label;
  if (gin) {
    EXPECT_NEAR(k.file.log_determinant, k.defined_log_det, 1e-9) << label;
  }
  std::ostringstream report;
  report << "class inverse: " << k.classes.count << " classes, " << k.file.entries << " non-zeros, log-determinant ";
  EXPECT_TRUE(o.errors.starts_with(report.str())) << label << "\n" << o.errors;
  EXPECT_TRUE(o.errors.ends_with(", " + name + "\n")) << o.errors;
  // Nothing but the run's own files is left in the folder.
  for (const auto& entry : fs::directory_iterator(work.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << label;
  }
  return k;
}

TEST(ClassInverse, RandomPedigreesAgainstDenseMatrices) {
  SplitMix64 rng = SplitMix64::seeded(17, 3);
  int unrelated_cases = 0;
  int inbred_cases = 0;
  for (int round = 0; round < 16; ++round) {
    const bool relatives = round % 2 == 1;
    const Pedigree p = draw_pedigree(rng, 24 + static_cast<int>(rng.next() % 20), relatives,
                                     round % 3 == 0 ? 35 : 10, round % 4 == 1 ? 8 : 30);
    for (const int passes : {0, 1, 30}) {
      const bool complete = passes == 30;
      for (const std::string rule : {"exact", "mask"}) {
        const std::string label = "round " + std::to_string(round) + ", passes " +
                                  std::to_string(passes) + ", " + rule;
        const Checked k = run_and_check(p, rule, passes, round % 2 ? "inv.gin" : "inv.giv", label);
        double log_det = 0.0;
        const Matrix f_inverse = inverse_of(k.f, &log_det);
        if (complete && (!relatives || (rule == "exact" &&
                                        every_class_with_parents_has_a_line(k.classes, p)))) {
          ++(relatives ? inbred_cases : unrelated_cases);
          EXPECT_LT(relative_difference(k.file.matrix, f_inverse), 1e-9) << label;
          EXPECT_NEAR(k.defined_log_det, log_det, 1e-9) << label;
        }
      }
    }
  }
  EXPECT_EQ(unrelated_cases, 16);
  EXPECT_GE(inbred_cases, 2);
}

// The textbook dominance pedigree: 1-4 founders, 5 = 1 x 2, 6 = 3 x 4,
// 7 = 6 x 5, 8 = unknown x 5, 9 and 10 = 3 x 8, 11 and 12 = 6 x 8, records on
// 5..12. No mating of relatives: both rules give the inverse of F.
Pedigree textbook() {
  Pedigree p;
  p.sire = {0, 0, 0, 0, 0, 1, 3, 6, 0, 3, 3, 6, 6};
  p.dam = {0, 0, 0, 0, 0, 2, 4, 5, 5, 8, 8, 8, 8};
  p.recorded = {5, 6, 7, 8, 9, 10, 11, 12};
  return p;
}

TEST(ClassInverse, TextbookPedigreeIsTheInverseOfTheClassCovariances) {
  for (const std::string rule : {"exact", "mask"}) {
    const Checked k = run_and_check(textbook(), rule, 10, "dominance.gin", rule);
    double log_det = 0.0;
    EXPECT_LT(relative_difference(k.file.matrix, inverse_of(k.f, &log_det)), 1e-12) << rule;
    EXPECT_NEAR(k.file.log_determinant, log_det, 1e-12) << rule;
    // The 5 pairs with records, 9 ancestor pairs and the own class of 8.
    EXPECT_EQ(k.classes.count, 15) << rule;
  }
}

// Matings of relatives without a pair of an animal with itself that has
// parents: 4 and 7 = 1 x 2, 5 = 1 x 3, 6 = 4 x 5 (half sibs, F = 1/8),
// 8 = 6 x 7 (F = 3/16). The exact rule gives the inverse of F, the mask does
// not.
TEST(ClassInverse, OnAnInbredPedigreeOnlyTheExactRuleIsTheInverse) {
  Pedigree p;
  p.sire = {0, 0, 0, 0, 1, 1, 4, 1, 6};
  p.dam = {0, 0, 0, 0, 2, 3, 5, 2, 7};
  p.recorded = {4, 5, 6, 7, 8};
  const Checked exact = run_and_check(p, "exact", 10, "inv.giv", "exact");
  const Checked mask = run_and_check(p, "mask", 10, "inv.giv", "mask");
  ASSERT_TRUE(every_class_with_parents_has_a_line(exact.classes, p));
  const Matrix f_inverse = inverse_of(exact.f);
  EXPECT_LT(relative_difference(exact.file.matrix, f_inverse), 1e-9);
  EXPECT_GT(relative_difference(mask.file.matrix, f_inverse), 0.01);
}

// The example herd: how many classes pair related animals or an animal with
// itself, and how far the mask is from the exact rule and the exact rule
// from the inverse of F (README, Fitting the model).
TEST(ClassInverse, ExampleHerd) {
  const fs::path herd = fs::path(PARCLAS_SOURCE_DIR) / "examples/herd";
  const Pedigree p = read_pedigree(herd / "ped.txt");
  const Matrix a = relationships(p);
  Matrix file[2];
  RunClasses k;
  for (int rule = 0; rule < 2; ++rule) {
    const ScratchDir work("inverse-herd");
    fs::copy(herd, work.path(), fs::copy_options::recursive);
    RunOptions options;
    options.arguments = {"--class-inverse", "herd.giv", "--class-inverse-rule",
                         rule == 0 ? "exact" : "mask"};
    const Outcome o = run_program(work.path(), read_file(herd / "answers"), options);
    ASSERT_EQ(o.status, 0) << o.errors;
    k = read_classes(work.path(), p, 3);
    file[rule] = read_inverse(work.path() / "herd.giv", k.count, false).matrix;
  }
  int related = 0;
  int self = 0;
  for (int32_t c = 1; c <= k.count; ++c) {
    const auto [x, y] = k.members[c];
    if (y == 0) continue;
    self += x == y;
    related += x != y && a[x][y] != 0.0;
  }
  EXPECT_EQ(k.count, 739);
  EXPECT_EQ(related, 212);
  EXPECT_EQ(self, 15);
  // Relative to the largest entry, 12: the mask is 4/7 off at (581, 581)
  // (4 against 4.571...); the exact rule misses the inverse of F where the
  // pairs of an animal with itself have no line.
  const Matrix f_inverse = inverse_of(class_covariances(k, a));
  EXPECT_NEAR(relative_difference(file[1], file[0]), 1.0 / 21.0, 1e-9);
  EXPECT_NEAR(relative_difference(file[0], f_inverse), 2.0 / 27.0, 1e-9);
}

// Every file of a folder, by name.
std::map<std::string, std::string> files_in(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = read_file(entry.path());
  }
  return files;
}

// A run that does not end normally leaves an existing inverse file as it
// was and nothing beside it; the other files end as they do without the
// option.
TEST(ClassInverse, ARunThatFailsLeavesTheFileAsItWas) {
  SplitMix64 rng = SplitMix64::seeded(5, 3);
  const Pedigree p = draw_pedigree(rng, 40, true, 10);
  // The largest output file besides the inverse, from a run that ends well.
  size_t largest_other = 0;
  size_t inverse_size = 0;
  {
    const ScratchDir work("inverse-sizes");
    write_folder(work.path(), p);
    RunOptions options;
    options.arguments = {"--class-inverse", "inv.giv"};
    ASSERT_EQ(run_program(work.path(), "par.txt\n10\n", options).status, 0);
    for (const auto& [name, content] : files_in(work.path())) {
      (name == "inv.giv" ? inverse_size : largest_other) =
          std::max(name == "inv.giv" ? inverse_size : largest_other, content.size());
    }
    ASSERT_GT(inverse_size, largest_other + 1);
  }
  const struct {
    const char* what;
    std::vector<std::string> arguments;
    bool missing_record_animal;
    long file_size_limit;
    int status;
    std::string console_end;  // the last console line
    std::string errors;
  } rows[] = {
      {"a stop", {"--class-inverse", "inv.giv"}, true, -1, 1, " this should not happen:245\n", ""},
      {"a failed write", {"--class-inverse", "inv.giv"}, false,
       static_cast<long>(largest_other) + 1, 38, "",
       "severe (38): error during write, unit 19, file $WORK/inv.giv.partial-"},
      {"a clash with an output", {"--class-inverse", "dped.txt"}, false, -1, 1,
       " output file clashes with another file of the run: dped.txt\n", ""},
      {"a clash with an input", {"--class-inverse", "./ped.txt"}, false, -1, 1,
       " output file clashes with another file of the run: ./ped.txt\n", ""},
      {"a folder that does not exist", {"--class-inverse", "none/inv.giv"}, false, -1, 30, "",
       "severe (30): open failure, unit 19, file $WORK/none/inv.giv\n"},
      {"a folder", {"--class-inverse", "sub"}, false, -1, 30, "",
       "severe (30): open failure, unit 19, file $WORK/sub\n"},
  };
  for (const auto& row : rows) {
    const ScratchDir work("inverse-fails");
    Pedigree q = p;
    if (row.missing_record_animal) q.recorded.push_back(q.n() + 5);
    write_folder(work.path(), q);
    write_file(work.path() / "inv.giv", "old\r\n");
    fs::create_directory(work.path() / "sub");
    const auto before = files_in(work.path());
    RunOptions options;
    options.arguments = row.arguments;
    options.file_size_limit = row.file_size_limit;
    const Outcome o = run_program(work.path(), "par.txt\n10\n", options);
    EXPECT_EQ(o.status, row.status) << row.what << "\n" << o.console << o.errors;
    EXPECT_TRUE(o.console.ends_with(row.console_end)) << row.what << "\n" << o.console;
    EXPECT_TRUE(o.errors.starts_with(row.errors)) << row.what << "\n" << o.errors;
    EXPECT_EQ(o.errors.find("class inverse:"), std::string::npos) << row.what;
    const auto after = files_in(work.path());
    EXPECT_EQ(after.at("inv.giv"), "old\r\n") << row.what;
    for (const auto& [name, content] : after) {
      EXPECT_TRUE(before.count(name) || name.starts_with("d"))  // the fixed outputs
          << row.what << ": " << name;
    }
    EXPECT_FALSE(fs::exists(work.path() / "none")) << row.what;
  }
}

// The inverse replaces the file a link leads to, with that file's
// permissions; the link stays.
TEST(ClassInverse, ALinkStaysAndItsFileIsReplaced) {
  const ScratchDir work("inverse-link");
  write_folder(work.path(), textbook());
  fs::create_directory(work.path() / "store");
  write_file(work.path() / "store/inv.giv", "old\r\n");
  fs::permissions(work.path() / "store/inv.giv", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("store/inv.giv", work.path() / "inv.giv");
  RunOptions options;
  options.arguments = {"--class-inverse", "inv.giv", "--class-inverse-rule", "mask"};
  const Outcome o = run_program(work.path(), "par.txt\n10\n", options);
  ASSERT_EQ(o.status, 0) << o.errors;
  EXPECT_TRUE(fs::is_symlink(work.path() / "inv.giv"));
  EXPECT_TRUE(read_file(work.path() / "store/inv.giv").starts_with("1 1 3\r\n"));
  EXPECT_EQ(fs::status(work.path() / "store/inv.giv").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::directory_iterator(work.path() / "store")->path().filename(), "inv.giv");
}

TEST(ClassInverse, RefusedCommandLines) {
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } rows[] = {
      {{"--class-inverse-rule", "mask"}, "option --class-inverse-rule needs --class-inverse FILE"},
      {{"--class-inverse", "x.giv", "--class-inverse-rule", "Exact"},
       "bad value for --class-inverse-rule: 'Exact' (exact or mask)"},
      {{"--class-inverse="}, "bad value for --class-inverse: '' (a file name, without blanks at its ends)"},
      {{"--class-inverse", " x.giv"},
       "bad value for --class-inverse: ' x.giv' (a file name, without blanks at its ends)"},
  };
  for (const auto& row : rows) {
    const ScratchDir work("inverse-refused");
    RunOptions options;
    options.arguments = row.arguments;
    const Outcome o = run_program(work.path(), "", options);
    EXPECT_EQ(o.status, 2) << row.message;
    EXPECT_TRUE(o.errors.starts_with("parclas: " + row.message + "\n")) << o.errors;
    EXPECT_TRUE(fs::is_empty(work.path())) << row.message;
  }
}

}  // namespace
}  // namespace parclas
