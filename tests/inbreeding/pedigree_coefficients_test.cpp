// The pedigree coefficient file holds, for every animal, the inverse of its
// Mendelian sampling variance in thousandths: 4 / (2 - Fs - Fd) with both
// parents known, 4 / (3 - F) with one, 1 with none. A mixed-model program
// builds the inverse relationship matrix from it by Henderson's rules, so the
// test does exactly that and checks A^-1 A = I on a small inbred pedigree.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "e2e/run_program.h"

namespace parclas {
namespace {

// Animal 5 is a full-sib mating (F = 1/4); the other lines write its
// offspring in every way a breeder might.
const char* const kPedigree =
    "1 0 0 3 1 F1\n"
    "2 0 0 3 1 F2\n"
    "3 1 2 1 2 FS-3\n"
    "4 1 2 1 2 FS-4\n"
    "5 3 4 1 3 INBRED-5\n"
    "6 5 0 2 4 SIRE-ZERO-DAM\n"
    "7 0 5 2 4 ZERO-SIRE-DAM\n"
    "8 5 20 2 4 GROUP-DAM\n"
    "9 5 5 1 4 SELFED\n"
    "10 5 5 2 4 SELFED-CODE2\n"
    "11 6 7 4 5 CODE4-BOTH\n"
    "12 0 0 0 5 CODE0-NONE\n"
    "13 6 0 2 5 OUTBRED-SIRE\n"
    "14 5 0 9 5 CODE9-ONE\n"
    "15 0 0 2 5 CODE2-NONE\n";

// Hand-checked: F5 = 0.25, F9 = F10 = 0.625, every other animal 0.
const char* const kCoefficients[] = {
    "1 0 0 1000",   // founder
    "2 0 0 1000",   //
    "3 1 2 2000",   // 4 / 2
    "4 1 2 2000",   //
    "5 3 4 2000",   // parents not inbred
    "6 5 0 1454",   // 4 / (3 - 0.25): the known parent counts once
    "7 0 5 1454",   //
    "8 5 20 1454",  // a group dam: the same value
    "9 5 5 2666",   // 4 / (2 - 0.25 - 0.25)
    "10 5 5 2666",  // code 2 naming one parent twice: as code 1
    "11 6 7 2000",  // code 4 with both parents: as code 1
    "12 0 0 1000",  // code 0 without parents: as code 3
    "13 6 0 1333",  // 4 / 3
    "14 5 0 1454",  // code 9 with one parent: as code 2
    "15 0 0 1000",  // code 2 without parents: as code 3
};

constexpr int kAnimals = 15;

struct CoefficientLine {
  int animal, sire, dam, coefficient;
};

class PedigreeCoefficients : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const ScratchDir work("coefficients");
    write_file(work.path() / "par.txt", "data.txt\nped.txt\ncoefficients\n1 2\n2 15 -1\n");
    write_file(work.path() / "ped.txt", kPedigree);
    write_file(work.path() / "data.txt", "1 5\n1 9\n");
    outcome_ = new Outcome(run_program(work.path(), "par.txt\n1\n"));
    std::istringstream file(read_file(work.path() / "dped.txt"));
    lines_ = new std::vector<std::string>;
    for (std::string line; std::getline(file, line);) lines_->push_back(line);
  }
  static void TearDownTestSuite() {
    delete outcome_;
    delete lines_;
  }
  static CoefficientLine parsed(const std::string& line) {
    CoefficientLine c{};
    std::istringstream(line) >> c.animal >> c.sire >> c.dam >> c.coefficient;
    return c;
  }
  static inline Outcome* outcome_ = nullptr;
  static inline std::vector<std::string>* lines_ = nullptr;
};

TEST_F(PedigreeCoefficients, EveryWayOfWritingTheParentsGivesTheVarianceOfItsAnimal) {
  ASSERT_EQ(outcome_->status, 0) << outcome_->console << outcome_->errors;
  ASSERT_EQ(lines_->size(), std::size(kCoefficients));
  for (size_t k = 0; k < lines_->size(); ++k) {
    const std::string& line = (*lines_)[k];
    EXPECT_EQ(line.substr(0, std::string(kCoefficients[k]).size() + 1),
              std::string(kCoefficients[k]) + " ")
        << "line " << k + 1;
    EXPECT_EQ(line.back(), '\r');
  }
}

TEST_F(PedigreeCoefficients, RebuildTheInverseRelationshipMatrix) {
  ASSERT_EQ(outcome_->status, 0);
  auto known = [](int parent) { return parent >= 1 && parent <= kAnimals ? parent - 1 : -1; };
  // A by the tabular method in double precision (parents have lower numbers).
  std::vector<std::vector<double>> a(kAnimals, std::vector<double>(kAnimals, 0.0));
  std::vector<CoefficientLine> line;
  for (const std::string& text : *lines_) line.push_back(parsed(text));
  for (int i = 0; i < kAnimals; ++i) {
    const int s = known(line[i].sire);
    const int d = known(line[i].dam);
    for (int j = 0; j < i; ++j) {
      a[i][j] = a[j][i] = ((s >= 0 ? a[j][s] : 0.0) + (d >= 0 ? a[j][d] : 0.0)) / 2;
    }
    a[i][i] = 1.0 + (s >= 0 && d >= 0 ? a[s][d] / 2 : 0.0);
  }
  // A^-1 by Henderson's rules from the file's coefficients.
  std::vector<std::vector<double>> inverse(kAnimals, std::vector<double>(kAnimals, 0.0));
  for (int i = 0; i < kAnimals; ++i) {
    const double delta = line[i].coefficient / 1000.0;
    const int s = known(line[i].sire);
    const int d = known(line[i].dam);
    std::vector<std::pair<int, double>> row{{i, 1.0}};
    if (s >= 0) row.emplace_back(s, -0.5);
    if (d >= 0) row.emplace_back(d, -0.5);
    for (const auto& [r, x] : row) {
      for (const auto& [c, y] : row) inverse[r][c] += delta * x * y;
    }
  }
  // The coefficients are thousandths cut toward zero: a few thousandths off.
  double worst = 0.0;
  for (int i = 0; i < kAnimals; ++i) {
    for (int j = 0; j < kAnimals; ++j) {
      double product = 0.0;
      for (int k = 0; k < kAnimals; ++k) product += inverse[i][k] * a[k][j];
      worst = std::max(worst, std::fabs(product - (i == j ? 1.0 : 0.0)));
    }
  }
  EXPECT_LT(worst, 0.005);
}

}  // namespace
}  // namespace parclas
