// The family limit through a whole run, in-process: every stage of the
// driver on a run folder whose pedigree is a chain (animal k has sire k - 1),
// so that the family of the last animal holds the whole chain.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "driver/driver.h"
#include "e2e/run_program.h"
#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

struct LimitRow {
  const char* name;
  int32_t limit;  // 0: no limit
  int32_t chain;  // animals, and members of the largest family
  bool stops;
};

void PrintTo(const LimitRow& row, std::ostream* os) { *os << row.name; }

class FamilyLimit : public ::testing::TestWithParam<LimitRow> {};

TEST_P(FamilyLimit, StopsOnlyBeyondTheLimit) {
  const LimitRow& row = GetParam();
  const ScratchDir dir(std::string("family-limit-") + row.name);
  std::string ped;
  std::string data;
  for (int32_t k = 1; k <= row.chain; ++k) {
    ped += std::to_string(k) + " " + std::to_string(k - 1) + " 0 2 " + std::to_string(1 + k / 10) +
           " C" + std::to_string(k) + "\n";
    data += "1 " + std::to_string(k) + "\n";
  }
  write_file(dir.path() / "ped.txt", ped);
  write_file(dir.path() / "data.txt", data);
  write_file(dir.path() / "par.txt", "data.txt\nped.txt\nchain\n2 2\n1 1 0\n2 " +
                                         std::to_string(row.chain) + " -1\n");

  auto tables = std::make_unique<RunTables>();
  auto work = std::make_unique<InbreedingWork>();
  Capacities capacity;
  capacity.family = row.limit;
  tables->reset(capacity, InbreedingMethod::Family);
  work->reset();
  std::istringstream in("par.txt\n1\n");
  std::ostringstream out;
  std::ostringstream err;
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  int status = 0;
  {
    TextIO io(in, out, err);
    parclas::Run run{io, *tables, *work};
    try {
      for (const Stage& stage : run_stages()) stage.run(run);
      status = io.close_all();
    } catch (const RunEnd& end) {
      io.close_all();
      status = end.status;
    }
  }
  fs::current_path(before);

  const std::string console = out.str();
  if (row.stops) {
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(console.ends_with("\n Inbreeding\n increase fammax in HAINB\n")) << console;
  } else {
    EXPECT_EQ(status, 0) << console << err.str();
    std::string largest = std::to_string(row.chain);
    largest.insert(0, 4 - largest.size(), ' ');
    EXPECT_NE(console.find(" families of size max, ave:" + largest), std::string::npos) << console;
    EXPECT_EQ(tables->largest_family, row.chain);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, FamilyLimit,
                         ::testing::Values(LimitRow{"five_fit", 5, 5, false},
                                           LimitRow{"six_stop_at_five", 5, 6, true},
                                           LimitRow{"six_hundred_fit_under_no_limit", 0, 600, false},
                                           LimitRow{"six_hundred_stop_by_default", fammax, 600, true},
                                           LimitRow{"six_hundred_fit_under_600", 600, 600, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace parclas
