// The inbreeding computation holds every value of the straightforward one:
// random pedigrees of many shapes go through both, and every animal's stored
// thousandths, its single-precision coefficient (bit for bit) and the console
// (summary line or stop message) must agree. The kernel is also compared on
// its own, member by member, on random family tables.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "inbreeding/inbreeding.h"
#include "inbreeding/random_pedigree.h"
#include "inbreeding/reference_inbreeding.h"
#include "run/run.h"

namespace parclas {
namespace {

using testing_support::draw;
using testing_support::Pedigree;
using testing_support::Random;
using testing_support::Shape;

// Both computations on one run's tables.
class InbreedingIdentity : public ::testing::Test {
 protected:
  struct Outcome {
    std::string console;
    std::vector<int32_t> values;
    std::vector<uint32_t> coefficients;
    bool stopped = false;
    int32_t largest_family = 0;
  };

  Outcome run_one(const Pedigree& p, bool fast, int32_t family_limit) {
    std::copy(p.rows.begin(), p.rows.end(), tables_->pedigree.data());
    tables_->capacity.family = family_limit;
    std::istringstream in;
    std::ostringstream console;
    TextIO io(in, console, console);
    parclas::Run run{io, *tables_, *work_};
    const float prior[kYears] = {};
    Outcome out;
    try {
      if (fast) {
        hainb(run, p.n, prior);
      } else {
        reference::hainb(run, *reference_, p.n, prior, family_limit);
      }
    } catch (const RunEnd&) {
      out.stopped = true;
    }
    out.console = console.str();
    out.largest_family = tables_->largest_family;
    if (!out.stopped) {
      for (int32_t a = 1; a <= p.n; ++a) {
        out.values.push_back(tables_->pedigree[a].inbreeding);
        const float f = fast ? work_->coefficient[a] : reference_->coefficient[a];
        out.coefficients.push_back(std::bit_cast<uint32_t>(f));
      }
    }
    return out;
  }

  // Returns the number of pedigrees that ran to the end.
  int compare(const Shape& shape, int pedigrees, uint64_t seed, int32_t family_limit = fammax) {
    int completed = 0;
    for (int k = 0; k < pedigrees; ++k) {
      Random rng(seed * 1000 + static_cast<uint64_t>(k));
      const Pedigree p = draw(shape, rng);
      const Outcome fast = run_one(p, true, family_limit);
      const Outcome slow = run_one(p, false, family_limit);
      SCOPED_TRACE("seed " + std::to_string(seed) + ", pedigree " + std::to_string(k) + ", " +
                   std::to_string(p.n) + " numbers, family limit " + std::to_string(family_limit));
      EXPECT_EQ(fast.console, slow.console);
      EXPECT_EQ(fast.stopped, slow.stopped);
      EXPECT_EQ(fast.values, slow.values);
      EXPECT_EQ(fast.coefficients, slow.coefficients);
      if (::testing::Test::HasFailure()) return completed;
      completed += fast.stopped ? 0 : 1;
      if (!fast.stopped) largest_family_ = std::max(largest_family_, fast.largest_family);
    }
    return completed;
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

  int32_t largest_family_ = 0;  // of the completed runs
  static std::unique_ptr<RunTables> tables_;
  static std::unique_ptr<InbreedingWork> work_;
  static std::unique_ptr<reference::Work> reference_;
};

std::unique_ptr<RunTables> InbreedingIdentity::tables_;
std::unique_ptr<InbreedingWork> InbreedingIdentity::work_;
std::unique_ptr<reference::Work> InbreedingIdentity::reference_;

TEST_F(InbreedingIdentity, ShallowHerdsWithHolesAndUnknownParents) {
  Shape shape;
  EXPECT_EQ(compare(shape, 300, 1), 300);
  shape.shuffled = false;
  shape.unknown_percent = 40;
  EXPECT_EQ(compare(shape, 100, 2), 100);
}

// Thirty to forty-five generations of a small line: families of a few hundred
// members, values rounded in single precision and dependent on member order.
TEST_F(InbreedingIdentity, DeepLines) {
  Shape shape;
  shape.generations = 30;
  shape.per_generation = 5;
  shape.breeders = 4;
  shape.unknown_percent = 8;
  EXPECT_GT(compare(shape, 120, 3), 100);
  shape.generations = 45;
  shape.per_generation = 3;
  shape.reach_back = 4;
  shape.shuffled = false;
  EXPECT_GT(compare(shape, 60, 4), 50);
  // Full sibs of deep lines in the year of an ancestor, or earlier.
  shape.generations = 30;
  shape.per_generation = 4;
  shape.reach_back = 2;
  shape.odd_year_percent = 25;
  EXPECT_GT(compare(shape, 80, 12), 60);
}

// Repeated full-sib, parent-offspring and self matings in tiny lines.
TEST_F(InbreedingIdentity, CloseMatings) {
  Shape shape;
  shape.generations = 20;
  shape.per_generation = 4;
  shape.breeders = 2;
  shape.unknown_percent = 3;
  shape.close_percent = 60;
  EXPECT_GT(compare(shape, 250, 5), 200);
}

// Parents of the same year as their offspring, or later; years outside
// 1..100 (unknown parents without a group).
TEST_F(InbreedingIdentity, ParentsNotEarlierAndYearsOutsideTheGroups) {
  Shape shape;
  shape.generations = 12;
  shape.per_generation = 6;
  shape.breeders = 4;
  shape.odd_year_percent = 30;
  shape.close_percent = 20;
  EXPECT_GT(compare(shape, 250, 6), 200);
}

// Loops and oversized families stop both computations with the same message.
TEST_F(InbreedingIdentity, StopsAtTheSameFamily) {
  Shape shape;
  shape.generations = 10;
  shape.per_generation = 8;
  shape.loop_percent = 100;
  const int completed = compare(shape, 60, 7);
  EXPECT_LT(completed, 60);
  shape.loop_percent = 0;
  shape.generations = 14;
  shape.per_generation = 120;
  shape.breeders = 120;
  shape.unknown_percent = 2;
  shape.reach_back = 1;
  shape.hole_percent = 0;
  EXPECT_LT(compare(shape, 6, 8), 6);
}

// Other family limits, and none: the same stops at the limit, and deep
// families beyond 500 members computed alike.
TEST_F(InbreedingIdentity, OtherFamilyLimits) {
  Shape shape;
  shape.generations = 22;
  shape.per_generation = 5;
  shape.breeders = 4;
  shape.unknown_percent = 8;
  const int completed = compare(shape, 60, 9, 50);
  EXPECT_GT(completed, 10);
  EXPECT_LT(completed, 50);
  shape.generations = 24;
  shape.per_generation = 60;
  shape.breeders = 40;
  shape.unknown_percent = 2;
  shape.reach_back = 1;
  shape.hole_percent = 0;
  EXPECT_EQ(compare(shape, 2, 10, 2000), 2);
  EXPECT_EQ(compare(shape, 2, 10, 0), 2);
  EXPECT_GT(largest_family_, fammax);
  EXPECT_LE(largest_family_, 2000);
}

// Random family tables in parents-first order, with group codes inside and
// outside the group block: every member's coefficient from the whole table,
// and from the kernel asked for some members only.
TEST(TabularKernel, WantedMembersMatchTheWholeTable) {
  auto work = std::make_unique<InbreedingWork>();
  auto ref = std::make_unique<reference::Work>();
  std::istringstream in;
  std::ostringstream console;
  TextIO io(in, console, console);
  const float prior[kYears] = {};
  reference::tabular(io, *ref, ref->rentab.data(), 0, prior, kGroups, ref->member_inbreeding.data());
  tabular(io, *work, work->rentab.data(), 0, prior, kGroups, {}, work->member_inbreeding.data());
  Random rng(11);
  for (int t = 0; t < 300; ++t) {
    const int32_t n = 1 + rng.below(t % 10 == 0 ? fammax : 60);
    std::vector<FamilyMember> members(static_cast<size_t>(n) + 1);
    for (int32_t k = 1; k <= n; ++k) {
      auto parent = [&]() -> int32_t {
        if (k > 1 && !rng.chance(15)) return 1 + rng.below(k - 1);
        return rng.chance(80) ? -rng.below(kGroups) : -kGroups - 1 - rng.below(3);
      };
      members[static_cast<size_t>(k)] = {parent(), parent(), k, 0};
      if (rng.chance(5)) members[static_cast<size_t>(k)].dam = members[static_cast<size_t>(k)].sire;
    }
    std::vector<float> whole(static_cast<size_t>(n) + 1);
    reference::tabular(io, *ref, members.data(), n, prior, 0, whole.data());
    std::vector<int32_t> wanted;
    for (int32_t k = 1; k <= n; ++k) {
      if (t % 2 == 0 || rng.chance(10)) wanted.push_back(k);
    }
    std::vector<float> some(static_cast<size_t>(n) + 1, -7.0f);
    tabular(io, *work, members.data(), n, prior, 0, wanted, some.data());
    for (const int32_t k : wanted) {
      ASSERT_EQ(std::bit_cast<uint32_t>(some[static_cast<size_t>(k)]),
                std::bit_cast<uint32_t>(whole[static_cast<size_t>(k)]))
          << "table " << t << ", member " << k << " of " << n;
    }
  }
}

}  // namespace
}  // namespace parclas
