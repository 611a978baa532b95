#include "classes/combination_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "text/text_io.h"

namespace parclas {
namespace {

class CombinationTableTest : public ::testing::Test {
 protected:
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  TextIO io{in, out, err};
  RunTables tables = [] {
    RunTables t;
    t.reset(Capacities{}, InbreedingMethod::Family);
    return t;
  }();
  Combination* table = tables.combination.data();
  int32_t count = 0;

  AddResult add(int32_t a, int32_t b) {
    return add_pair(io, a, b, pair_table(tables), count);
  }
  // Puts a pair on a row by hand, as a search would have left it.
  void occupy(int32_t row, int32_t a, int32_t b) {
    table[row].member1 = a;
    table[row].member2 = b;
    tables.pair_index.keys[tables.pair_index.slot_of(row)] = PairIndex::key_of(a, b);
  }
  int32_t find(int32_t a, int32_t b) {
    return find_pair(io, a, b, pair_table(tables), count);
  }
};

TEST_F(CombinationTableTest, APairLandsOnTheRowOfItsHash) {
  // (7, 3) is ordered to (3, 7): 3 x 433 + 7 x 53 = 1670, first row 1671.
  int32_t a = 7;
  int32_t b = 3;
  const AddResult r = add_pair(io, a, b, pair_table(tables), count);
  EXPECT_EQ(r.row, 1671);
  EXPECT_TRUE(r.is_new);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(table[1671].member1, 3);
  EXPECT_EQ(table[1671].member2, 7);
  EXPECT_EQ(find(3, 7), 1671);
  EXPECT_EQ(find(7, 3), 1671);
  const AddResult again = add(3, 7);
  EXPECT_EQ(again.row, 1671);
  EXPECT_FALSE(again.is_new);
  EXPECT_EQ(count, 1);
}

TEST_F(CombinationTableTest, RowsOfTheWorkedExample) {
  const struct {
    int32_t a, b, row;
  } pairs[] = {{5, 6, 2484}, {1, 6, 752}, {1, 3, 593}, {1, 4, 646}, {3, 5, 1565},
               {4, 5, 1998}, {2, 6, 1185}, {2, 3, 1026}, {2, 4, 1079}};
  for (const auto& p : pairs) EXPECT_EQ(add(p.a, p.b).row, p.row) << p.a << "," << p.b;
  EXPECT_EQ(count, 9);
}

TEST_F(CombinationTableTest, CollidingPairsTakeTheNextRowsOfTheProbe) {
  // (1, 500) and (54, 67) both hash to 26933.
  EXPECT_EQ(add(1, 500).row, 26934);
  EXPECT_EQ(add(54, 67).row, 26934 + 17);
  EXPECT_EQ(find(1, 500), 26934);
  EXPECT_EQ(find(54, 67), 26951);
  EXPECT_EQ(add(5, 5).row, 5 * 433 + 5 * 53 + 1);  // an animal with itself is a pair too
}

TEST_F(CombinationTableTest, AbsentPairsAndEliminatedRows) {
  EXPECT_EQ(find(2, 9), 0);
  EXPECT_EQ(count, 0);
  const int32_t first = add(1, 500).row;
  const int32_t second = add(54, 67).row;
  eliminate_row(pair_table(tables), first);  // occupied, but matches nothing
  EXPECT_EQ(table[first].member1, -1);
  EXPECT_EQ(find(1, 500), 0);
  EXPECT_EQ(find(54, 67), second);
  // (0, 0) starts at row 1 and stops at the first empty row.
  EXPECT_EQ(find(0, 0), 0);
}

TEST_F(CombinationTableTest, ProbesWrapAroundTheEndOfTheTable) {
  // (28, 9205) hashes to 499,989, first row 499,990; with that row taken the
  // next one examined is row 7.
  occupy(499990, 9, 9);
  EXPECT_EQ(add(28, 9205).row, 7);
  EXPECT_EQ(find(28, 9205), 7);
}

TEST_F(CombinationTableTest, TwoThousandTakenRowsStopTheRun) {
  // Occupy the whole probe sequence of (3, 7) with another pair.
  int32_t r = 1671;
  for (int k = 0; k < kProbeLimit; ++k) {
    occupy(r, 1, 1);
    r = (r - 1 + kProbeStep) % kCombinationRows + 1;
  }
  int status = -1;
  try {
    add(3, 7);
  } catch (const RunEnd& end) {
    status = end.status;
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out.str(), " hash matrix too small\n      500000           8           2\n");
  EXPECT_EQ(count, 0);
}

// The index holds the rows in the order a search examines them: the slot
// after a row's slot is the row 17 further on, from row 1 again after the
// last, for any row count that is not a multiple of 17.
TEST(PairIndex, ConsecutiveSlotsAreRowsSeventeenApart) {
  for (const int32_t rows : {1, 2, 16, 18, 1999, 500000, 1000000, 16000000, 256000000}) {
    PairIndex index;
    index.set_rows(rows);
    for (const int32_t row : {1, 2, rows / 2 + 1, rows - 17, rows - 1, rows}) {
      if (row < 1 || row > rows) continue;
      const int32_t next = (row - 1 + kProbeStep) % rows + 1;
      EXPECT_EQ(index.row_at(index.slot_of(row)), row) << rows;
      EXPECT_EQ(index.slot_of(next), (index.slot_of(row) + 1) % static_cast<uint32_t>(rows))
          << rows;
    }
  }
}

TEST(PairOrder, OrdpairSwapsOnlyDescendingPairs) {
  int32_t a = 9;
  int32_t b = 2;
  order_pair(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 9);
  order_pair(a, b);
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 9);
}

}  // namespace
}  // namespace parclas
