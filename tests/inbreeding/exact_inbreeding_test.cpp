// The exact inbreeding against Meuwissen and Luo's method and against the
// family method, on random pedigrees and on the real pedigrees of
// ../shared/realdata; and the inbreeding stage run with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "inbreeding/exact_inbreeding.h"
#include "inbreeding/inbreeding.h"
#include "inbreeding/random_pedigree.h"
#include "inbreeding/reference_inbreeding.h"
#include "inbreeding/reference_meuwissen_luo.h"
#include "run/run.h"

namespace parclas {
namespace {

using testing_support::Pedigree;
using testing_support::Random;
using testing_support::Shape;

// The inbreeding stage in exact mode: the heading, the method's line in
// place of the family summary, the thousandths and the yearly table.
TEST(ExactInbreedingStage, StoresThousandthsAndReportsTheYears) {
  std::istringstream in;
  std::ostringstream out;
  TextIO io(in, out, out);
  auto tables = std::make_unique<RunTables>();
  tables->reset(Capacities{}, InbreedingMethod::Exact);
  auto work = std::make_unique<InbreedingWork>();
  parclas::Run run{io, *tables, *work};
  // Parents numbered after their offspring: 1 and 2 are full sibs, children
  // of 5 and 6; 3 is their son, 4 the son of 3 and his dam 2.
  PedigreeRow* ped = tables->pedigree;
  ped[1] = {5, 6, 3, 0};
  ped[2] = {5, 6, 3, 0};
  ped[3] = {1, 2, 4, 0};
  ped[4] = {3, 2, 5, 0};
  ped[5] = {0, 0, 1, 0};
  ped[6] = {0, 0, 1, 0};
  tables->largest_animal = 6;
  report_inbreeding(run);
  EXPECT_EQ(ped[3].inbreeding, 250);
  EXPECT_EQ(ped[4].inbreeding, 375);
  EXPECT_EQ(work->coefficient[4], 0.375f);
  EXPECT_EQ(out.str(),
            "\n Inbreeding\n"
            "   exact inbreeding (indirect method) of         6 animals\n"
            " average inbreeding=  0.1041667    \n"
            "  year    #   average inbreeding\n"
            "  03      2   0.000\n"
            "  04      1   0.250\n"
            "  05      1   0.375\n");

  out.str("");
  ped[6] = {4, 0, 1, 0};  // 1 -> 6 -> 4 -> 3 -> 1 and 2 -> 6 -> 4 -> 2; 5 is outside
  EXPECT_THROW(report_inbreeding(run), RunEnd);
  EXPECT_EQ(out.str(), "\n Inbreeding\n pedigree loop: animal is its own ancestor:            1\n");
}

// Pedigree depth (0 without known parents) by repeated sweeps.
std::vector<int32_t> depths(const Pedigree& p) {
  std::vector<int32_t> depth(p.rows.size(), 0);
  for (bool changed = true; changed;) {
    changed = false;
    for (int32_t a = 1; a <= p.n; ++a) {
      int32_t d = 0;
      for (const int32_t parent : {p.rows[a].sire, p.rows[a].dam}) {
        if (parent != 0) d = std::max(d, depth[parent] + 1);
      }
      changed = changed || d != depth[a];
      depth[a] = d;
    }
  }
  return depth;
}

class ExactInbreeding : public ::testing::Test {
 protected:
  // What a comparison covered, so that no shape passes by checking nothing.
  struct Seen {
    int loops = 0;
    int animals = 0;
    int deep_animals = 0;      // parents' depths adding up to more than 21
    int family_animals = 0;    // compared with the family method
  };

  // The family method's stored thousandths and coefficients, or nothing when
  // it stops (a loop or a family over fammax).
  static bool family_method(const Pedigree& p, bool program, std::vector<int32_t>& stored,
                            std::vector<float>& coefficient) {
    std::copy(p.rows.begin(), p.rows.end(), tables_->pedigree.data());
    std::istringstream in;
    std::ostringstream console;
    TextIO io(in, console, console);
    parclas::Run run{io, *tables_, *work_};
    const float prior[kYears] = {};
    try {
      if (program) {
        hainb(run, p.n, prior);
      } else {
        reference::hainb(run, *reference_, p.n, prior);
      }
    } catch (const RunEnd&) {
      return false;
    }
    stored.assign(p.rows.size(), 0);
    coefficient.assign(p.rows.size(), 0.0f);
    for (int32_t a = 1; a <= p.n; ++a) {
      stored[a] = tables_->pedigree[a].inbreeding;
      coefficient[a] = program ? work_->coefficient[a] : reference_->coefficient[a];
    }
    return true;
  }

  static void compare(const Pedigree& p, Seen& seen) {
    std::vector<float> exact(p.rows.size(), -1.0f);
    std::vector<double> ml(p.rows.size(), -1.0);
    const ExactOutcome fast = exact_inbreeding(p.rows, p.n, exact);
    const ExactOutcome slow = reference::meuwissen_luo(p.rows, p.n, ml);
    ASSERT_EQ(fast.loop, slow.loop);
    if (fast.loop) {
      EXPECT_EQ(fast.loop_animal, slow.loop_animal);
      ++seen.loops;
      return;
    }
    for (int32_t a = 1; a <= p.n; ++a) {
      ASSERT_EQ(std::bit_cast<uint32_t>(exact[a]), std::bit_cast<uint32_t>(static_cast<float>(ml[a])))
          << "animal " << a << ": " << exact[a] << " against " << ml[a];
    }
    seen.animals += p.n;
    // One thread or two: the same doubles.
    std::vector<double> one(p.rows.size(), -1.0);
    std::vector<double> two(p.rows.size(), -1.0);
    exact_inbreeding(p.rows, p.n, one, 1);
    exact_inbreeding(p.rows, p.n, two, 2);
    for (int32_t a = 1; a <= p.n; ++a) {
      ASSERT_EQ(std::bit_cast<uint64_t>(one[a]), std::bit_cast<uint64_t>(two[a])) << "animal " << a;
      ASSERT_EQ(static_cast<float>(one[a]), exact[a]) << "animal " << a;
    }

    const std::vector<int32_t> depth = depths(p);
    for (const bool program : {true, false}) {
      std::vector<int32_t> stored;
      std::vector<float> family;
      if (!family_method(p, program, stored, family)) continue;
      for (int32_t a = 1; a <= p.n; ++a) {
        const int32_t sum = depth[p.rows[a].sire] + depth[p.rows[a].dam];
        if (sum > kExactDepthSum) {
          seen.deep_animals += program ? 1 : 0;
          continue;
        }
        ASSERT_EQ(truncate_to_integer(exact[a] * 1000.0f), stored[a]) << "animal " << a;
        ASSERT_EQ(std::bit_cast<uint32_t>(exact[a]), std::bit_cast<uint32_t>(family[a]))
            << "animal " << a << (program ? " (program)" : " (reference)");
        ++seen.family_animals;
      }
    }
  }

  static void SetUpTestSuite() {
    tables_ = std::make_unique<RunTables>();
    tables_->reset(Capacities{}, InbreedingMethod::Family);
    work_ = std::make_unique<InbreedingWork>();
    reference_ = std::make_unique<reference::Work>();
  }
  static void TearDownTestSuite() {
    tables_.reset();
    work_.reset();
    reference_.reset();
  }

  static std::unique_ptr<RunTables> tables_;
  static std::unique_ptr<InbreedingWork> work_;
  static std::unique_ptr<reference::Work> reference_;
};

std::unique_ptr<RunTables> ExactInbreeding::tables_;
std::unique_ptr<InbreedingWork> ExactInbreeding::work_;
std::unique_ptr<reference::Work> ExactInbreeding::reference_;

// Most sires replaced by a few popular ones ("AI sires") born earlier, so
// that a few parents have hundreds of mates; the numbers then put in random
// order. Needs a pedigree numbered parents first.
Pedigree with_popular_sires(Pedigree p, int sires, Random& rng) {
  const int32_t step = std::max(1, p.n / (4 * sires));
  for (int32_t a = 1; a <= p.n; ++a) {
    if (p.rows[a].sire == 0 || !rng.chance(80)) continue;
    const int32_t choices = std::min(sires, (a - 1) / step);
    if (choices > 0) p.rows[a].sire = 1 + step * rng.below(choices);
  }
  std::vector<int32_t> number(p.rows.size());
  for (int32_t a = 0; a <= p.n; ++a) number[a] = a;
  for (int32_t k = p.n; k > 1; --k) std::swap(number[k], number[1 + rng.below(k)]);
  Pedigree q;
  q.n = p.n;
  q.rows.assign(p.rows.size(), PedigreeRow{});
  for (int32_t a = 1; a <= p.n; ++a) {
    q.rows[number[a]] = PedigreeRow{number[p.rows[a].sire], number[p.rows[a].dam], p.rows[a].year, 0};
  }
  return q;
}

Shape shape_of(int generations, int per_generation, int breeders, int unknown_percent,
               int close_percent, int reach_back, bool shuffled, int loop_percent) {
  Shape s;
  s.generations = generations;
  s.per_generation = per_generation;
  s.breeders = breeders;
  s.unknown_percent = unknown_percent;
  s.close_percent = close_percent;
  s.reach_back = reach_back;
  s.shuffled = shuffled;
  s.loop_percent = loop_percent;
  s.odd_year_percent = 10;
  return s;
}

TEST_F(ExactInbreeding, RandomPedigreesAgreeWithMeuwissenLuoAndTheFamilyMethod) {
  struct Case {
    const char* name;
    Shape shape;
    int pedigrees;
    bool deep;   // many animals beyond the depth where single precision is exact
    bool loops;  // some pedigrees with a loop
    int popular_sires = 0;  // with_popular_sires
  };
  // Animals are numbered in random order (parents after offspring) unless
  // said otherwise.
  const Case cases[] = {
      {"shallow herds", shape_of(6, 10, 6, 20, 5, 2, true, 0), 100, false, false},
      {"shallow herds in birth order", shape_of(6, 10, 6, 40, 5, 2, false, 0), 50, false, false},
      {"deep small lines", shape_of(35, 5, 4, 8, 5, 2, true, 0), 80, true, false},
      {"very deep lines", shape_of(60, 3, 3, 5, 10, 4, true, 0), 30, true, false},
      {"full sibs, parent x offspring, selfing", shape_of(20, 4, 2, 3, 60, 2, true, 0), 100, true,
       false},
      {"wide generations", shape_of(8, 60, 40, 10, 5, 3, true, 0), 20, false, false},
      {"loops", shape_of(10, 8, 6, 20, 10, 2, true, 100), 60, false, true},
      // Keys with hundreds of mates, batched with their like, next to
      // parents with a mate or two; deep enough for keys that go alone.
      {"popular sires", shape_of(12, 300, 60, 10, 3, 3, false, 0), 6, false, false, 4},
      {"popular sires, deep", shape_of(55, 40, 8, 5, 5, 2, false, 0), 6, true, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seen seen;
    for (int k = 0; k < c.pedigrees; ++k) {
      Random rng(0xE7AC7 + 1000 * static_cast<uint64_t>(&c - cases) + static_cast<uint64_t>(k));
      Pedigree p = testing_support::draw(c.shape, rng);
      if (c.popular_sires > 0) p = with_popular_sires(std::move(p), c.popular_sires, rng);
      if (c.loops && k % 2 == 0) {
        const int32_t a = 1 + rng.below(p.n);  // a second loop: an animal its own dam
        p.rows[a].dam = a;
      }
      SCOPED_TRACE("pedigree " + std::to_string(k) + " of " + std::to_string(p.n) + " numbers");
      compare(p, seen);
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(seen.family_animals, 0);
    if (c.deep) {
      EXPECT_GT(seen.deep_animals, 100);
    }
    EXPECT_EQ(seen.loops > 0, c.loops) << seen.loops << " loops";
  }
}

// Every real pedigree: the stored thousandths are those of the exact values
// in fexact.txt; a pedigree with a loop names the smallest animal number that
// is its own ancestor.
TEST(ExactInbreedingRealPedigrees, MatchTheExactValues) {
  namespace fs = std::filesystem;
  const fs::path root = PARCLAS_REALDATA_DIR;
  if (!fs::is_directory(root)) GTEST_SKIP() << "no real pedigrees: " << root << " is absent";
  const std::map<std::string, int32_t> loop_animal = {{"hinterwald_errors", 890}};
  int sets = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    const fs::path ped_file = entry.path() / "ped.txt";
    const fs::path exact_file = entry.path() / "fexact.txt";
    if (!fs::is_regular_file(ped_file) || !fs::is_regular_file(exact_file)) continue;
    const std::string set = entry.path().filename().string();
    SCOPED_TRACE(set);
    ++sets;
    std::vector<PedigreeRow> rows(1, PedigreeRow{});
    std::ifstream ped(ped_file);
    for (std::string line; std::getline(ped, line);) {
      std::istringstream fields(line);
      int32_t animal = 0;
      PedigreeRow row{};
      ASSERT_TRUE(fields >> animal >> row.sire >> row.dam) << line;
      ASSERT_EQ(animal, static_cast<int32_t>(rows.size())) << "animals 1..N in order";
      rows.push_back(row);
    }
    const auto n = static_cast<int32_t>(rows.size() - 1);
    std::vector<std::string> expected(rows.size());
    std::ifstream exact(exact_file);
    for (std::string line; std::getline(exact, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      int32_t animal = 0;
      std::string fraction, decimal;
      ASSERT_TRUE(fields >> animal >> fraction >> decimal) << line;
      ASSERT_TRUE(animal >= 1 && animal <= n) << line;
      fields >> expected[animal];
    }

    std::vector<float> f(rows.size(), -1.0f);
    const ExactOutcome outcome = exact_inbreeding(rows, n, f);
    const auto loop = loop_animal.find(set);
    if (loop != loop_animal.end()) {
      EXPECT_TRUE(outcome.loop);
      EXPECT_EQ(outcome.loop_animal, loop->second);
      EXPECT_EQ(expected[loop->second], "NA");
      continue;
    }
    ASSERT_FALSE(outcome.loop) << "loop at " << outcome.loop_animal;
    int faults = 0;
    for (int32_t a = 1; a <= n && faults < 10; ++a) {
      const std::string value = std::to_string(truncate_to_integer(f[a] * 1000.0f));
      if (value != expected[a]) {
        ADD_FAILURE() << "animal " << a << ": " << value << ", fexact.txt " << expected[a];
        ++faults;
      }
    }
  }
  EXPECT_GT(sets, 0) << "no set in " << root;
}

}  // namespace
}  // namespace parclas
