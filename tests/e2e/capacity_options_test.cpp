// The command line: refused command lines, explicit capacities, and "auto"
// capacities, whose run must write exactly what a run given the sizes it
// reports writes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "e2e/run_program.h"
#include "inbreeding/inbreeding.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

const fs::path kCases = fs::path(PARCLAS_SOURCE_DIR) / "tests/e2e/cases";

using Folder = std::map<std::string, std::string>;

Folder folder_of(const fs::path& dir) {
  Folder files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), dir).string()] = read_file(entry.path());
    }
  }
  return files;
}

struct Ran {
  Outcome outcome;
  Folder after;
};

Ran run_case(const std::string& name, const std::vector<std::string>& arguments) {
  const ScratchDir work("options-" + name);
  fs::copy(kCases / name / "in", work.path(), fs::copy_options::recursive);
  RunOptions options;
  options.arguments = arguments;
  Ran ran{run_program(work.path(), read_file(kCases / name / "stdin"), options), {}};
  ran.after = folder_of(work.path());
  return ran;
}

// The sizes an "auto" run reports, as command-line arguments.
std::vector<std::string> reported_sizes(const std::string& errors) {
  std::istringstream line(errors);
  std::string word;
  line >> word;
  if (word != "sizes") return {};
  line >> word;  // "used:"
  std::vector<std::string> arguments;
  while (line >> word) arguments.push_back(word);
  return arguments;
}

TEST(CommandLine, RefusedBeforeAnythingIsOpened) {
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } rows[] = {
      {{"--frob"}, "unknown option: --frob"},
      {{"par.txt"}, "unknown option: par.txt"},
      {{"--max-animals"}, "option --max-animals needs a value"},
      {{"--max-animals", "0"}, "bad value for --max-animals: '0' (a whole number from 1 to 100000000, or auto)"},
      {{"--max-animals=12x"}, "bad value for --max-animals: '12x' (a whole number from 1 to 100000000, or auto)"},
      {{"--max-family", "-5"}, "bad value for --max-family: '-5' (a whole number from 1 to 10000000, or auto)"},
      {{"--max-classes", "34"}, "bad value for --max-classes: '34' (a multiple of 17: the probe step of 17 rows would not reach every row)"},
      {{"--max-classes", "256000001"}, "bad value for --max-classes: '256000001' (a whole number from 1 to 256000000, or auto)"},
      {{"--inbreeding", "fast"}, "bad value for --inbreeding: 'fast' (family or exact)"},
      {{"--help=yes"}, "option --help takes no value"},
  };
  for (const auto& row : rows) {
    const Ran ran = run_case("worked_example", row.arguments);
    EXPECT_EQ(ran.outcome.status, 2) << row.message;
    EXPECT_EQ(ran.outcome.console, "") << row.message;
    EXPECT_EQ(ran.outcome.errors, "parclas: " + row.message + "\n" + kUsage);
    EXPECT_EQ(ran.after, folder_of(kCases / "worked_example" / "in")) << row.message;
  }
  for (const std::string help : {"--help", "--version"}) {
    const Ran ran = run_case("worked_example", {help});
    EXPECT_EQ(ran.outcome.status, 0);
    EXPECT_EQ(ran.outcome.console, help == "--help" ? kUsage : kVersion);
    EXPECT_EQ(ran.after, folder_of(kCases / "worked_example" / "in"));
  }
}

TEST(CommandLine, ExplicitCapacitiesReplaceTheConstants) {
  const std::string golden = read_file(kCases / "worked_example" / "console");
  const Ran nine = run_case("worked_example", {"--max-animals", "9", "--inbreeding", "family"});
  EXPECT_EQ(nine.outcome.status, 0);
  EXPECT_EQ(nine.outcome.console, golden);
  EXPECT_EQ(nine.after, run_case("worked_example", {}).after);

  const struct {
    std::vector<std::string> arguments;
    std::string tail;
  } stops[] = {
      {{"--max-animals", "8"}, " increase relmax to at least:            9\n"},
      {{"--max-classes", "3"}, " hash matrix too small\n           3           8           2\n"},
  };
  for (const auto& row : stops) {
    const Ran ran = run_case("worked_example", row.arguments);
    EXPECT_EQ(ran.outcome.status, 1);
    const std::string& console = ran.outcome.console;
    ASSERT_GE(console.size(), row.tail.size());
    EXPECT_EQ(console.substr(console.size() - row.tail.size()), row.tail);
  }
}

// Every golden case that ends normally: with every size "auto" the console
// and the files are those of the case, and a run given the reported sizes
// writes the same bytes.
TEST(CommandLine, AutoSizesGiveTheBytesOfTheReportedSizes) {
  const std::vector<std::string> all_auto = {"--max-animals", "auto", "--max-family", "auto",
                                             "--max-classes", "auto"};
  for (const auto& entry : fs::directory_iterator(kCases)) {
    const std::string name = entry.path().filename().string();
    if (!fs::exists(entry.path() / "in") || fs::exists(entry.path() / "status")) continue;
    const Ran automatic = run_case(name, all_auto);
    const Ran given = run_case(name, {});
    EXPECT_EQ(automatic.outcome.console, given.outcome.console) << name;
    EXPECT_EQ(automatic.after, given.after) << name;
    const std::vector<std::string> sizes = reported_sizes(automatic.outcome.errors);
    ASSERT_EQ(sizes.size(), 6u) << name << ": " << automatic.outcome.errors;
    const Ran explicit_sizes = run_case(name, sizes);
    EXPECT_EQ(explicit_sizes.outcome.console, automatic.outcome.console) << name;
    EXPECT_EQ(explicit_sizes.after, automatic.after) << name;
    EXPECT_EQ(explicit_sizes.outcome.errors, "") << name;
  }
}

// Every golden case, those that stop included, with either method: a run on
// one thread and a run on two (the exact method then computes while the data
// file is scanned) write the same console, errors, files and status.
TEST(CommandLine, TwoThreadsWriteTheBytesOfOne) {
  for (const auto& entry : fs::directory_iterator(kCases)) {
    const std::string name = entry.path().filename().string();
    if (!fs::exists(entry.path() / "in")) continue;
    for (const char* method : {"family", "exact"}) {
      const Ran one = run_case(name, {"--inbreeding", method, "--threads", "1"});
      const Ran two = run_case(name, {"--inbreeding", method, "--threads", "2"});
      EXPECT_EQ(two.outcome.console, one.outcome.console) << name << " " << method;
      EXPECT_EQ(two.outcome.errors, one.outcome.errors) << name << " " << method;
      EXPECT_EQ(two.outcome.status, one.outcome.status) << name << " " << method;
      EXPECT_EQ(two.after, one.after) << name << " " << method;
    }
  }
}

// The coefficient lines are made ahead on the second thread up to a record
// that list-directed input reads by its full rules: such a record, read
// right or stopping the run, gives the bytes of one thread.
TEST(CommandLine, TwoThreadsReadTheCoefficientRecordsOfOne) {
  const fs::path source = kCases / "coefficients";
  const std::string ped = read_file(source / "in/ped.txt");
  const std::string plain = "4 1 2 1 2 HALF-A\n";
  ASSERT_NE(ped.find(plain), std::string::npos);
  const struct {
    const char* line;
    int status;
  } rows[] = {
      {"4 1 2 1*1 2 HALF-A\n", 0},  // a repeat count: read as code 1
      {"4 1 2 one 2 HALF-A\n", 59},
      {"4 1 2 99999999999 2 HALF-A\n", 64},
  };
  for (const auto& [line, status] : rows) {
    std::string changed = ped;
    changed.replace(changed.find(plain), plain.size(), line);
    std::vector<Ran> runs;
    for (const char* threads : {"1", "2"}) {
      const ScratchDir work(std::string("threads-") + threads);
      fs::copy(source / "in", work.path(), fs::copy_options::recursive);
      write_file(work.path() / "ped.txt", changed);
      RunOptions options;
      options.arguments = {"--threads", threads};
      runs.push_back({run_program(work.path(), read_file(source / "stdin"), options), {}});
      runs.back().after = folder_of(work.path());
      runs.back().outcome.errors = runs.back().outcome.errors.substr(0, runs.back().outcome.errors.find("file "));
    }
    EXPECT_EQ(runs[1].outcome.console, runs[0].outcome.console) << line;
    EXPECT_EQ(runs[1].outcome.errors, runs[0].outcome.errors) << line;
    EXPECT_EQ(runs[0].outcome.status, status) << line;
    EXPECT_EQ(runs[1].outcome.status, status) << line;
    EXPECT_EQ(runs[1].after, runs[0].after) << line;
  }
}

// A run that stops reports sizes under which the explicit run stops at the
// same place: at a loop (not at the family limit first), and on a short
// pedigree line after larger animal numbers (not at the animal limit).
TEST(CommandLine, AutoSizesOfARunThatStops) {
  const struct {
    const char* name;
    const char* ped;
    std::vector<std::string> arguments;
    std::string last_line;
  } rows[] = {
      {"loop",
       "1 0 0 3 1 A\n2 0 0 3 1 B\n3 1 2 1 2 C\n4 3 6 1 3 D\n5 4 0 2 4 E\n6 5 0 2 5 F\n",
       {"--max-family", "auto"},
       " pedigree loop: animal is its own ancestor:            4\n"},
      {"short_line",
       "7 0 0 3 1 A\n3 0 0 3 1 B\n4 3 7\n",
       {"--max-animals", "auto"},
       " ped.txt             \n"},
  };
  for (const auto& row : rows) {
    const ScratchDir work(std::string("options-") + row.name);
    write_file(work.path() / "par.txt", "data.txt\nped.txt\nstops\n2 2\n1 3 0\n2 7 -1\n");
    write_file(work.path() / "ped.txt", row.ped);
    write_file(work.path() / "data.txt", "1 4\n");
    RunOptions automatic;
    automatic.arguments = row.arguments;
    const Outcome first = run_program(work.path(), "par.txt\n1\n", automatic);
    EXPECT_EQ(first.status, 1) << row.name;
    EXPECT_TRUE(first.console.ends_with(row.last_line)) << row.name << "\n" << first.console;
    RunOptions given;
    given.arguments = reported_sizes(first.errors);
    ASSERT_EQ(given.arguments.size(), 6u) << row.name << ": " << first.errors;
    EXPECT_EQ(run_program(work.path(), "par.txt\n1\n", given).console, first.console) << row.name;
  }
}

// ---- a class table that must grow ------------------------------------------

// A pedigree of overlapping generations with related matings, and records
// of most animals: some thousand classes after three passes.
Folder many_classes_folder() {
  uint64_t state = 12345;
  auto next = [&state](uint32_t below) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int32_t>((state >> 33) % below);
  };
  constexpr int32_t kAnimals = 600;
  std::string ped;
  std::string data;
  for (int32_t a = 1; a <= kAnimals; ++a) {
    const int32_t year = 1 + (a - 1) / 60;
    int32_t sire = 0;
    int32_t dam = 0;
    if (year > 1) {
      const int32_t older = (year - 1) * 60;
      if (next(10) != 0) sire = 1 + next(static_cast<uint32_t>(older));
      if (next(10) != 0) dam = 1 + next(static_cast<uint32_t>(older));
      if (sire == dam) dam = 0;
    }
    const int code = sire != 0 && dam != 0 ? 1 : (sire != 0 || dam != 0 ? 2 : 3);
    ped += std::to_string(a) + " " + std::to_string(sire) + " " + std::to_string(dam) + " " +
           std::to_string(code) + " " + std::to_string(year) + " A" + std::to_string(a) + "\n";
    if (year > 3) data += std::to_string(1 + a % 4) + " " + std::to_string(a) + "\n";
  }
  // No pedigree: the recoded data file looks up the pair (0, 0) and stops
  // there, after the class files.
  data += "1 700\n";
  return {{"par.txt", "data.txt\nped.txt\nmany classes\n2 2\n1 4 0\n2 600 -1\n"},
          {"ped.txt", ped},
          {"data.txt", data}};
}

struct InProcess {
  int status = -1;
  std::string console;
  std::string errors;
  Folder after;
};

// The program in-process (so that "auto" can start from a small table), in
// a scratch folder holding `inputs`.
InProcess run_in_process(const Folder& inputs, const std::string& answers, const Options& options) {
  const ScratchDir work("grow");
  for (const auto& [name, content] : inputs) write_file(work.path() / name, content);
  const fs::path home = fs::current_path();
  fs::current_path(work.path());
  std::istringstream in(answers);
  std::ostringstream out;
  std::ostringstream err;
  RunTables tables;
  auto inbreeding = std::make_unique<InbreedingWork>();
  InProcess ran;
  ran.status = run_parclas(in, out, err, tables, *inbreeding, options);
  fs::current_path(home);
  ran.console = out.str();
  ran.errors = err.str();
  ran.after = folder_of(work.path());
  return ran;
}

TEST(CommandLine, AGrownClassTableIsTheSmallestThatHoldsEveryClass) {
  const Folder inputs = many_classes_folder();
  Options grow;
  grow.capacity.auto_classes = true;
  grow.capacity.classes = 11;  // doubled until no search meets the probe limit
  const InProcess automatic = run_in_process(inputs, "par.txt\n3\n", grow);
  const std::vector<std::string> sizes = reported_sizes(automatic.errors);
  ASSERT_EQ(sizes.size(), 6u) << automatic.errors;
  const int32_t rows = std::stoi(sizes[5]);
  EXPECT_GT(rows, 11 * 64) << "the table did not have to grow";

  Options given;
  given.capacity.classes = rows;
  const InProcess explicit_rows = run_in_process(inputs, "par.txt\n3\n", given);
  EXPECT_EQ(automatic.status, 1);
  EXPECT_TRUE(automatic.console.ends_with(" this should not happen:245\n"));
  EXPECT_EQ(explicit_rows.console, automatic.console);
  EXPECT_EQ(explicit_rows.after, automatic.after);

  given.capacity.classes = rows / 2;
  const InProcess half = run_in_process(inputs, "par.txt\n3\n", given);
  EXPECT_EQ(half.status, 1);
  EXPECT_NE(half.console.find(" hash matrix too small\n"), std::string::npos);
}

// A log that is a pipe or a file shows the console lines while the run goes
// on: the program still waits for its second answer when the question for
// it has reached the log.
TEST(Console, LinesReachARedirectedLogAsTheyArePrinted) {
  const ScratchDir work("console-flush");
  fs::copy(fs::path(PARCLAS_SOURCE_DIR) / "tests/e2e/cases/worked_example/in", work.path());
  int answers[2];
  int log[2];
  ASSERT_EQ(::pipe(answers), 0);
  ASSERT_EQ(::pipe(log), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(answers[0], 0);
    ::dup2(log[1], 1);
    for (const int fd : {answers[0], answers[1], log[0], log[1]}) ::close(fd);
    if (::chdir(work.path().c_str()) != 0) ::_exit(127);
    ::execl(PARCLAS_PROGRAM, PARCLAS_PROGRAM, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(answers[0]);
  ::close(log[1]);
  ASSERT_EQ(::write(answers[1], "par.txt\n", 8), 8);
  std::string seen;
  const std::string question = " max recursions?\n";
  char buf[4096];
  while (seen.find(question) == std::string::npos) {
    pollfd p{log[0], POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) break;  // nothing within 20 s: the line was held back
    const ssize_t n = ::read(log[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(seen, "  PARCLAS Feb 08, 1999\n Oru parameter file?\n max recursions?\n");
  ASSERT_EQ(::write(answers[1], "5\n", 2), 2);
  ::close(answers[1]);
  for (ssize_t n; (n = ::read(log[0], buf, sizeof buf)) > 0;) seen.append(buf, static_cast<size_t>(n));
  ::close(log[0]);
  int status = -1;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(seen.ends_with(" classes have no parent classes\n")) << seen;
}

}  // namespace
}  // namespace parclas
