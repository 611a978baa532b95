// The family limit through whole runs, in-process: every stage of the driver
// in a run folder, with the limit set as the command line sets it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "e2e/run_program.h"
#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

struct InProcessRun {
  std::unique_ptr<RunTables> tables = std::make_unique<RunTables>();
  std::unique_ptr<InbreedingWork> work = std::make_unique<InbreedingWork>();
  std::string console;
  int status = 0;

  InProcessRun(const fs::path& dir, const std::string& answers, int32_t family_limit) {
    Capacities capacity;
    capacity.family = family_limit;
    tables->reset(capacity, InbreedingMethod::Family);
    work->reset();
    std::istringstream in(answers);
    std::ostringstream out;
    std::ostringstream err;
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    {
      TextIO io(in, out, err);
      Run run{io, *tables, *work};
      try {
        for (const Stage& stage : run_stages()) stage.run(run);
        status = io.close_all();
      } catch (const RunEnd& end) {
        io.close_all();
        status = end.status;
      }
    }
    fs::current_path(before);
    console = out.str() + err.str();
  }
};

struct LimitRow {
  const char* name;
  int32_t limit;  // 0: no limit
  int32_t chain;  // animals, and members of the largest family
  bool stops;
};

void PrintTo(const LimitRow& row, std::ostream* os) { *os << row.name; }

class FamilyLimit : public ::testing::TestWithParam<LimitRow> {};

// A chain (animal k has sire k - 1): the family of the last animal holds
// the whole chain.
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
  const InProcessRun run(dir.path(), "par.txt\n1\n", row.limit);
  if (row.stops) {
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.console.ends_with("\n Inbreeding\n increase fammax in HAINB\n")) << run.console;
  } else {
    EXPECT_EQ(run.status, 0) << run.console;
    std::string largest = std::to_string(row.chain);
    largest.insert(0, 4 - largest.size(), ' ');
    EXPECT_NE(run.console.find(" families of size max, ave:" + largest), std::string::npos)
        << run.console;
    EXPECT_EQ(run.tables->largest_family, row.chain);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, FamilyLimit,
                         ::testing::Values(LimitRow{"five_fit", 5, 5, false},
                                           LimitRow{"six_stop_at_five", 5, 6, true},
                                           LimitRow{"six_hundred_fit_under_no_limit", 0, 600, false},
                                           LimitRow{"six_hundred_stop_by_default", fammax, 600, true},
                                           LimitRow{"six_hundred_fit_under_600", 600, 600, false}),
                         [](const auto& row_info) { return std::string(row_info.param.name); });

// The real pedigrees with families over 500 members run to their end with no
// limit, every animal at the thousandths of its exact inbreeding.
TEST(FamilyLimitRealPedigrees, NoLimitGivesTheExactThousandths) {
  const fs::path sets = fs::path(PARCLAS_SOURCE_DIR) / "../shared/realdata";
  if (!fs::exists(sets)) GTEST_SKIP() << "no real pedigrees beside the repository";
  for (const char* name : {"hinterwald_clean", "ggtutorial"}) {
    SCOPED_TRACE(name);
    const ScratchDir dir(std::string("family-limit-real-") + name);
    for (const char* file : {"par.txt", "ped.txt", "data.txt"}) {
      fs::copy_file(sets / name / file, dir.path() / file);
    }
    const InProcessRun run(dir.path(), "par.txt\n0\n", 0);
    ASSERT_EQ(run.status, 0) << run.console;
    EXPECT_GT(run.tables->largest_family, fammax);
    std::ifstream exact(sets / name / "fexact.txt");
    std::string line;
    int32_t checked = 0;
    while (std::getline(exact, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      int32_t animal = 0;
      std::string fraction;
      std::string decimal;
      int32_t thousandths = 0;
      fields >> animal >> fraction >> decimal >> thousandths;
      ASSERT_TRUE(animal >= 1 && animal <= run.tables->largest_animal) << line;
      EXPECT_EQ(run.tables->pedigree[animal].inbreeding, thousandths) << "animal " << animal;
      ++checked;
    }
    EXPECT_EQ(checked, run.tables->largest_animal);
  }
}

}  // namespace
}  // namespace parclas
