// Golden end-to-end cases: every folder under cases/ holds the inputs of one
// run (in/), the console answers (stdin), the command line (arguments, one
// per line, optional), the expected console (console),
// read-error report (errors, optional), exit status (status, optional) and
// every file the run must leave behind that differs from in/ (out/).
// The runner copies in/ to a scratch folder, runs the program there and
// compares every byte. On a mismatch it writes the actual output into the
// build tree, at golden-actual/<case>/<name>.actual, and names that path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "e2e/run_program.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

const fs::path kCases = fs::path(PARCLAS_SOURCE_DIR) / "tests/e2e/cases";
const fs::path kActual = PARCLAS_ACTUAL_DIR;

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCases)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

// Where the actual content of the case file `expected` goes on a mismatch.
fs::path actual_path(const fs::path& expected) {
  fs::path path = kActual / fs::relative(expected, kCases);
  path += ".actual";
  return path;
}

void write_actual(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  write_file(path, content);
}

// Compares `actual` with the file `expected`; on a difference writes the
// actual content into the build tree and reports both.
void expect_same(const fs::path& expected, const std::string& actual, const std::string& what) {
  const fs::path sidecar = actual_path(expected);
  const std::string wanted = fs::exists(expected) ? read_file(expected) : std::string();
  if (wanted == actual) {
    fs::remove(sidecar);
    return;
  }
  write_actual(sidecar, actual);
  ADD_FAILURE() << what << " differs; expected " << expected << ", actual written to " << sidecar
                << "\n--- expected\n"
                << wanted << "\n--- actual\n"
                << actual;
}

TEST_P(Golden, MatchesByteForByte) {
  const fs::path dir = kCases / GetParam();
  const ScratchDir work("golden-" + GetParam());
  if (fs::exists(dir / "in")) fs::copy(dir / "in", work.path(), fs::copy_options::recursive);
  RunOptions options;
  if (fs::exists(dir / "arguments")) {
    std::istringstream arguments(read_file(dir / "arguments"));
    for (std::string a; std::getline(arguments, a);) options.arguments.push_back(a);
  }
  const Outcome outcome = run_program(work.path(), read_file(dir / "stdin"), options);

  expect_same(dir / "console", outcome.console, "console");
  expect_same(dir / "errors", outcome.errors, "read-error report");
  const std::string status = fs::exists(dir / "status") ? read_file(dir / "status") : "0\n";
  EXPECT_EQ(std::to_string(outcome.status) + "\n", status) << "exit status";

  std::set<std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(work.path())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), work.path()).string();
    seen.insert(name);
    const std::string actual = read_file(entry.path());
    if (fs::exists(dir / "out" / name)) {
      expect_same(dir / "out" / name, actual, name);
    } else if (fs::exists(dir / "in" / name)) {
      EXPECT_EQ(actual, read_file(dir / "in" / name)) << name << " was changed";
    } else {
      const fs::path sidecar = actual_path(dir / "out" / name);
      write_actual(sidecar, actual);
      ADD_FAILURE() << "unexpected file " << name << " (written to " << sidecar << ")";
    }
  }
  if (fs::exists(dir / "out")) {
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
      if (!entry.is_regular_file()) continue;
      const std::string name = fs::relative(entry.path(), dir / "out").string();
      EXPECT_TRUE(seen.count(name)) << "missing output file " << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(case_names()),
                         [](const auto& row_info) {
                           std::string name = row_info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace parclas
