#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace parclas {
namespace {

constexpr int32_t kGroupBlock = 100;

// A member whose parents are members p and q (1-based; 0 for an unknown
// parent of year `year`).
FamilyMember member(int32_t p, int32_t q, int32_t year = 1) {
  const int32_t group = year - kGroupBlock;
  return {p != 0 ? p : group, q != 0 ? q : group, 0, year};
}

class KernelTest : public ::testing::Test {
 protected:
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  TextIO io{in, out, err};
  std::unique_ptr<InbreedingWork> work{new InbreedingWork()};
  std::vector<float> prior = std::vector<float>(kGroupBlock, 0.0f);

  std::vector<float> run(std::vector<FamilyMember> members) {
    members.insert(members.begin(), FamilyMember{});
    const auto n = static_cast<int32_t>(members.size() - 1);
    std::vector<float> f(members.size());
    tabular(io, *work, nullptr, 0, prior, kGroupBlock, f.data());
    tabular(io, *work, members.data(), n, prior, 0, f.data());
    return std::vector<float>(f.begin() + 1, f.end());
  }
};

TEST_F(KernelTest, FullSibMatingsAndSelfing) {
  const auto f = run({member(0, 0), member(0, 0), member(1, 2), member(1, 2), member(3, 4),
                      member(5, 3), member(6, 6)});
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[3], 0.0f);
  EXPECT_EQ(f[4], 0.25f);    // offspring of full sibs
  EXPECT_EQ(f[5], 0.375f);   // that offspring mated back to one of the full sibs
  EXPECT_EQ(f[6], 0.6875f);  // that animal mated to itself: (1 + 0.375) / 2
}

TEST_F(KernelTest, UnknownParentsTakeTheirGroupsPriorInbreeding) {
  prior[4] = 0.1f;   // group 5
  prior[9] = 0.25f;  // group 10
  const auto f = run({member(0, 0, 5), member(1, 0, 10), {5 - kGroupBlock, 10 - kGroupBlock, 0, 10}});
  // In single precision 1 + 0.1 - 1 is not exactly 0.1: compare within a few units.
  EXPECT_FLOAT_EQ(f[0], 0.1f);   // both parents unknown in group 5
  EXPECT_FLOAT_EQ(f[1], 0.25f);  // one known parent, the other in group 10
  EXPECT_FLOAT_EQ(f[2], 0.25f);  // groups 5 and 10: the later group counts
}

TEST_F(KernelTest, GroupCodesOutsideTheBlockAreUnrelatedToEverything) {
  for (float& p : prior) p = 0.5f;
  // Codes pointing below the group block (a hole's year 0, a year of -20).
  const auto f = run({{-100, -100, 0, 0}, {-120, 1, 0, 0}, {2, -100, 0, 0}});
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[1], 0.0f);
  EXPECT_EQ(f[2], 0.0f);
}

TEST_F(KernelTest, CapacityStops) {
  std::vector<float> f(2);
  const FamilyMember one[2] = {{}, member(0, 0)};
  std::vector<float> wide(600, 0.0f);
  tabular(io, *work, nullptr, 0, wide, 600, f.data());
  try {
    tabular(io, *work, one, 1, wide, 0, f.data());
    ADD_FAILURE() << "no stop";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.status, 1);
  }
  EXPECT_EQ(out.str(), " MAXPED in TABULAR should be at least          601\n");
  out.str("");
  std::vector<float> wider(601, 0.0f);
  EXPECT_THROW(tabular(io, *work, nullptr, 0, wider, 601, f.data()), RunEnd);
  EXPECT_EQ(out.str(), " TABULAR: maxped should be >>          601\n");
}

TEST(FamilySort, OrdersByYearAsTheIterativeQuicksortDoes) {
  // Built breadth-first as 5, 3, 4, 1, 2 with years 94, 92, 92, 90, 90.
  FamilyMember m[6] = {{}, {3, 4, 5, 94}, {1, 2, 3, 92}, {1, 2, 4, 92}, {0, 0, 1, 90}, {0, 0, 2, 90}};
  sort_family(m, 5);
  std::vector<int32_t> order;
  for (int k = 1; k <= 5; ++k) order.push_back(m[k].animal);
  EXPECT_EQ(order, (std::vector<int32_t>{1, 2, 4, 3, 5}));
}

TEST(FamilySort, EqualYearsKeepThePartitionsOrder) {
  // All in one year: the partitions exchange the ends of each range inwards.
  FamilyMember m[7] = {{}, {0, 0, 1, 7}, {0, 0, 2, 7}, {0, 0, 3, 7},
                       {0, 0, 4, 7}, {0, 0, 5, 7}, {0, 0, 6, 7}};
  sort_family(m, 6);
  std::vector<int32_t> order;
  for (int k = 1; k <= 6; ++k) order.push_back(m[k].animal);
  EXPECT_EQ(order, (std::vector<int32_t>{4, 5, 6, 1, 2, 3}));
  // Any order of up to 500 members sorts without running out of range stack.
  std::vector<FamilyMember> big(fammax + 1);
  for (int32_t k = 1; k <= fammax; ++k) big[static_cast<size_t>(k)] = {0, 0, k, (k * 7919) % 13};
  sort_family(big.data(), fammax);
  for (int32_t k = 2; k <= fammax; ++k) EXPECT_LE(big[static_cast<size_t>(k - 1)].year, big[static_cast<size_t>(k)].year);
}

// HAINB over a pedigree held in the run tables.
class FamiliesTest : public ::testing::Test {
 protected:
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  TextIO io{in, out, err};
  std::unique_ptr<RunTables> tables = [] {
    auto t = std::make_unique<RunTables>();
    t->reset(Capacities{}, InbreedingMethod::Family);
    return t;
  }();
  std::unique_ptr<InbreedingWork> work{new InbreedingWork()};
  parclas::Run run{io, *tables, *work};
  std::vector<float> prior = std::vector<float>(kGroupBlock, 0.0f);

  void animal(int32_t a, int32_t sire, int32_t dam, int32_t year) {
    tables->pedigree[a] = {sire, dam, year, 0};
  }
  int32_t inbreeding(int32_t a) const { return tables->pedigree[a].inbreeding; }
  // Runs HAINB; returns the console output, "stop" appended on a stop.
  std::string families(int32_t n) {
    try {
      hainb(run, n, prior);
    } catch (const RunEnd&) {
      return out.str() + "stop";
    }
    return out.str();
  }
};

TEST_F(FamiliesTest, FamilyExample) {
  animal(1, 0, 0, 90);
  animal(2, 0, 0, 90);
  animal(3, 1, 2, 92);
  animal(4, 1, 2, 92);
  animal(5, 3, 4, 94);
  EXPECT_EQ(families(5), "   processed      5 families of size max, ave:   5    2.6\n");
  EXPECT_EQ(inbreeding(5), 250);
  for (int32_t a = 1; a <= 4; ++a) EXPECT_EQ(inbreeding(a), 0);
}

TEST_F(FamiliesTest, CoefficientsAreTruncatedThousandths) {
  // 6 is a son of half sibs: 0.125; 7 of 6 and his dam's full sib: deeper.
  animal(1, 0, 0, 1);
  animal(2, 0, 0, 1);
  animal(3, 0, 0, 1);
  animal(4, 1, 2, 2);
  animal(5, 1, 3, 2);
  animal(6, 4, 5, 3);
  animal(7, 6, 5, 4);  // 6 x his own dam
  families(7);
  EXPECT_EQ(inbreeding(6), 125);
  // F7 = a(6,5) / 2 = (a(4,5) + a(5,5)) / 4 = (0.25 + 1) / 4 = 0.3125
  EXPECT_EQ(inbreeding(7), 312);
}

TEST_F(FamiliesTest, HolesAndAnimalsWithoutFamiliesOfTheirOwn) {
  // 3 is a hole (no line: year 0) and forms a family of its own; 1 descends
  // from 4 and 5, which come later and start no family.
  animal(1, 4, 5, 10);
  animal(2, 0, 0, 10);
  animal(4, 2, 0, 5);
  animal(5, 2, 0, 5);
  EXPECT_EQ(families(5), "   processed      2 families of size max, ave:   4    2.5\n");
  EXPECT_EQ(inbreeding(1), 125);
  EXPECT_EQ(inbreeding(3), 0);
}

TEST_F(FamiliesTest, ParentsBornInTheSameOrALaterYearStillComeFirst) {
  // The sort puts offspring 3 before its dam 2 (year 1 before year 5): the
  // family is reordered so that parents come first, and 4 (son of 3 and 2,
  // a son-mother mating) gets its true 0.25.
  animal(1, 0, 0, 1);
  animal(2, 0, 0, 5);
  animal(3, 1, 2, 1);
  animal(4, 3, 2, 6);
  families(4);
  EXPECT_EQ(inbreeding(4), 250);
}

TEST_F(FamiliesTest, APedigreeLoopNamesAnimalsThatAreTheirOwnAncestors) {
  // 3 -> 4 -> 5 -> 3 is a loop; 6 merely descends from it and 2 is outside.
  animal(1, 0, 0, 1);
  animal(2, 0, 0, 1);
  animal(3, 5, 2, 4);
  animal(4, 3, 0, 3);
  animal(5, 4, 1, 2);
  animal(6, 3, 1, 1);
  EXPECT_EQ(families(6), " pedigree loop: animal is its own ancestor:            5\nstop");
}

TEST_F(FamiliesTest, AnAnimalThatIsItsOwnParent) {
  animal(1, 0, 0, 1);
  animal(2, 2, 1, 3);
  EXPECT_EQ(families(2), " pedigree loop: animal is its own ancestor:            2\nstop");
}

TEST_F(FamiliesTest, FiveHundredMembersFitAndOneMoreStops) {
  // A chain in which animal k has sire k + 1: animal 1 has all the others as
  // ancestors, and its family is the only one.
  for (int32_t a = 1; a < 500; ++a) animal(a, a + 1, 0, 1 + (500 - a) / 10);
  animal(500, 0, 0, 1);
  EXPECT_EQ(families(500), "   processed      1 families of size max, ave: 500  500.0\n");
  out.str("");
  animal(500, 501, 0, 1);
  animal(501, 0, 0, 1);
  EXPECT_EQ(families(501), " increase fammax in HAINB\nstop");
}

TEST_F(FamiliesTest, NoFamiliesAtAll) {
  EXPECT_EQ(families(0), "   processed      0 families of size max, ave:   0    0.0\n");
}

}  // namespace
}  // namespace parclas
