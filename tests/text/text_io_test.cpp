#include "text/text_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <vector>

#include "e2e/run_program.h"
#include "splitmix.h"
#include "text/numbers.h"

namespace parclas {
namespace {

namespace fs = std::filesystem;

class TextIOTest : public ::testing::Test {
 protected:
  ScratchDir dir{"textio"};
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  TextIO io{in, out, err};

  std::string file(const std::string& name) const { return (dir.path() / name).string(); }
  void make(const std::string& name, const std::string& content) const {
    write_file(dir.path() / name, content);
  }
  // Connects unit 20 to a file holding `content`.
  void open_with(const std::string& content) {
    make("f.txt", content);
    io.connect(20, file("f.txt"), FileUse::Input);
  }
  // The exit status of a failing call, after its report.
  template <class F>
  int status_of(F&& f) {
    try {
      f();
    } catch (const RunEnd& end) {
      return end.status;
    }
    return -1;
  }
};

TEST_F(TextIOTest, ValuesContinueAcrossLinesAndTheRestOfTheLastLineIsPassedOver) {
  open_with("7\n9 10\n11\n");
  int32_t v[2] = {0, 0};
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  EXPECT_EQ(v[0], 7);
  EXPECT_EQ(v[1], 9);
  int32_t w[1] = {0};
  ASSERT_EQ(io.read_integers(20, w), ReadResult::Ok);
  EXPECT_EQ(w[0], 11);
  EXPECT_EQ(io.read_integers(20, w), ReadResult::EndOfFile);
}

TEST_F(TextIOTest, SeparatorsNullValuesRepeatsAndSlash) {
  struct Case {
    const char* input;
    std::array<int32_t, 4> expected;  // items start as -1
  };
  const Case cases[] = {
      {"1 2 3 4\n", {1, 2, 3, 4}},
      {"1,2 , 3\t4\n", {1, 2, 3, 4}},
      {"1,,3,4\n", {1, -1, 3, 4}},
      {",2 3 4\n", {-1, 2, 3, 4}},
      {"1,\n2 3 4\n", {1, 2, 3, 4}},
      {"1,\n,3 4\n", {1, -1, 3, 4}},
      {"2*5 6 7\n", {5, 5, 6, 7}},
      {"2* 6 7\n", {-1, -1, 6, 7}},
      {"9*8\n", {8, 8, 8, 8}},
      {"4/ 5 6\n7\n", {4, -1, -1, -1}},
      {"4 5/\n", {4, 5, -1, -1}},
      {"/\n", {-1, -1, -1, -1}},
      {"+1 -2 007 -0\n", {1, -2, 7, 0}},
      {"\n   \n1 2\n3 4\n", {1, 2, 3, 4}},
      {"1 2 3 4\r\n", {1, 2, 3, 4}},
      {"2147483647 -2147483648 0 0\n", {2147483647, -2147483647 - 1, 0, 0}},
  };
  for (const Case& c : cases) {
    open_with(c.input);
    std::array<int32_t, 4> v = {-1, -1, -1, -1};
    ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok) << c.input;
    EXPECT_EQ(v, c.expected) << c.input;
  }
}

// Lines read by the quick reader give what list-directed input gives by its
// full rules: reading them as reals (which the quick reader never reads)
// gives the same numbers. Lines it declines are read by the full rules.
TEST_F(TextIOTest, PlainIntegersReadAsTheFullRulesReadThem) {
  SplitMix64 random = SplitMix64::seeded(19, 0);
  const char* const pieces[] = {"7", "-12", "+3", "0", "00042", "999999", " ", "  ", "\t",
                                ",", ", ", "/", "*", "2*5", "1e3", "x", "-", "3.5"};
  int quick = 0;
  for (int line = 0; line < 3000; ++line) {
    std::string text;
    const uint32_t count = 1 + random.scaled_below(8);
    for (uint32_t k = 0; k < count; ++k) {
      text += pieces[random.scaled_below(sizeof pieces / sizeof *pieces)];
      if (random.scaled_below(3) != 0) text += ' ';
    }
    int32_t plain[3] = {-9, -9, -9};
    if (!read_plain_integers(text, plain)) continue;
    ++quick;
    open_with(text + "\n");
    float full[3] = {-9.0f, -9.0f, -9.0f};
    ASSERT_EQ(io.read_reals(20, full), ReadResult::Ok) << text;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(static_cast<float>(plain[k]), full[k]) << text;
    open_with(text + "\n");
    int32_t read[3] = {-9, -9, -9};
    ASSERT_EQ(io.read_plain_record(20, read), PlainRead::Record) << text;
    EXPECT_EQ(std::vector<int32_t>(read, read + 3), std::vector<int32_t>(plain, plain + 3));
  }
  EXPECT_GT(quick, 50);
  // A declined line is left for the next read, which reads it by the full rules.
  open_with("1,,3\n4 5 6\n");
  int32_t items[3] = {0, 8, 0};
  EXPECT_EQ(io.read_plain_record(20, items), PlainRead::Other);
  EXPECT_EQ(items[1], 8);
  ASSERT_EQ(io.read_integers(20, items), ReadResult::Ok);
  EXPECT_EQ(std::vector<int32_t>(items, items + 3), (std::vector<int32_t>{1, 8, 3}));
  EXPECT_EQ(io.read_plain_record(20, items), PlainRead::Record);
  EXPECT_EQ(io.read_plain_record(20, items), PlainRead::EndOfFile);
}

TEST_F(TextIOTest, RealsInEveryForm) {
  open_with("3 3.0 -1.5 1e3 .5 5. 2.5D-1 -0\n");
  float v[8] = {};
  ASSERT_EQ(io.read_reals(20, v), ReadResult::Ok);
  const float expected[8] = {3.0f, 3.0f, -1.5f, 1000.0f, 0.5f, 5.0f, 0.25f, 0.0f};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(v[k], expected[k]) << k;
}

TEST_F(TextIOTest, EndOfFileBeforeTheListIsFull) {
  open_with("1 2\n3");
  int32_t v[4] = {};
  EXPECT_EQ(io.read_integers(20, v), ReadResult::EndOfFile);
  EXPECT_EQ(v[2], 3);  // items read before the end keep their values
  open_with("");
  EXPECT_EQ(io.read_integers(20, v), ReadResult::EndOfFile);
  EXPECT_EQ(io.skip_line(20), ReadResult::EndOfFile);
}

TEST_F(TextIOTest, BadValuesEndTheRunWithTheirReport) {
  struct Case {
    const char* input;
    int status;
    const char* description;
  };
  const Case cases[] = {
      {"12a\n", 59, "list-directed I/O syntax error"},
      {"3.5\n", 59, "list-directed I/O syntax error"},
      {"1e3\n", 59, "list-directed I/O syntax error"},
      {"-\n", 59, "list-directed I/O syntax error"},
      {"0*5\n", 59, "list-directed I/O syntax error"},
      {"'7'\n", 59, "list-directed I/O syntax error"},
      {"2147483648\n", 64, "input conversion error"},
      {"-2147483649\n", 64, "input conversion error"},
  };
  for (const Case& c : cases) {
    open_with(c.input);
    err.str("");
    int32_t v[1] = {};
    EXPECT_EQ(status_of([&] { (void)io.read_integers(20, v); }), c.status) << c.input;
    EXPECT_EQ(err.str(), "severe (" + std::to_string(c.status) + "): " + c.description +
                             ", unit 20, file " + file("f.txt") + "\n")
        << c.input;
  }
  open_with("1e39\n");
  float r[1] = {};
  EXPECT_EQ(status_of([&] { (void)io.read_reals(20, r); }), 64);
  open_with("1.5x\n");
  EXPECT_EQ(status_of([&] { (void)io.read_reals(20, r); }), 59);
  open_with("1e-60\n");
  ASSERT_EQ(io.read_reals(20, r), ReadResult::Ok);
  EXPECT_EQ(r[0], 0.0f);
}

TEST_F(TextIOTest, TextLinesArePaddedOrCut) {
  open_with("\n" + std::string(30, 'x') + "\nab\r\nlast");
  std::array<char, 20> f;
  ASSERT_EQ(io.read_text(20, f), ReadResult::Ok);
  EXPECT_EQ(std::string(f.data(), 20), std::string(20, ' '));
  ASSERT_EQ(io.read_text(20, f), ReadResult::Ok);
  EXPECT_EQ(std::string(f.data(), 20), std::string(20, 'x'));
  ASSERT_EQ(io.read_text(20, f), ReadResult::Ok);
  EXPECT_EQ(std::string(f.data(), 20), "ab" + std::string(18, ' '));
  ASSERT_EQ(io.read_text(20, f), ReadResult::Ok);
  EXPECT_EQ(std::string(f.data(), 20), "last" + std::string(16, ' '));
  EXPECT_EQ(io.read_text(20, f), ReadResult::EndOfFile);
}

TEST_F(TextIOTest, LinesLongerThanTheReadBufferAreRead) {
  std::string big(3 << 20, '1');
  big[1000] = ' ';
  open_with(big + "\n5\n");
  int32_t v[1] = {};
  EXPECT_EQ(status_of([&] { (void)io.read_integers(20, v); }), 64);  // a huge number
  open_with(std::string(3 << 20, ' ') + "42\n5\n");
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  EXPECT_EQ(v[0], 42);
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  EXPECT_EQ(v[0], 5);
}

TEST_F(TextIOTest, RewindReadsFromTheFirstLineAgain) {
  open_with("1\n2\n");
  int32_t v[1] = {};
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  io.rewind(20);
  ASSERT_EQ(io.read_integers(20, v), ReadResult::Ok);
  EXPECT_EQ(v[0], 1);
}

TEST_F(TextIOTest, ConnectCreatesMissingOutputsAndEmptiesOnlyOnWrite) {
  io.connect(21, "  " + file("new.txt") + "  ", FileUse::Output);
  EXPECT_TRUE(fs::exists(dir.path() / "new.txt"));
  EXPECT_EQ(io.skip_line(21), ReadResult::EndOfFile);

  make("old.txt", "old line 1\nold line 2\n");
  io.connect(22, file("old.txt"), FileUse::Output);
  EXPECT_EQ(read_file(dir.path() / "old.txt"), "old line 1\nold line 2\n");
  io.write_line(22, "new");
  EXPECT_EQ(io.close_all(), 0);
  EXPECT_EQ(read_file(dir.path() / "old.txt"), "new\r\n");
}

TEST_F(TextIOTest, UnwrittenOutputsAreEmptiedOnlyWhenAsked) {
  make("kept.txt", "before\n");
  make("emptied.txt", "before\n");
  io.connect(23, file("kept.txt"), FileUse::Output);
  io.connect(24, file("emptied.txt"), FileUse::Output);
  io.empty_if_unwritten(24);
  EXPECT_EQ(io.close_all(), 0);
  EXPECT_EQ(read_file(dir.path() / "kept.txt"), "before\n");
  EXPECT_EQ(read_file(dir.path() / "emptied.txt"), "");
}

TEST_F(TextIOTest, ConnectFailuresAreReportedAndCreateNothing) {
  make("plain.txt", "");
  fs::create_directory(dir.path() / "sub");
  const std::string cwd = fs::current_path().string();
  struct Case {
    std::string name;
    FileUse use;
    std::string report;  // the read-error report; empty: the connect succeeds
  };
  auto not_found = [this](const std::string& name) {
    return "severe (29): file not found, unit 30, file " + file(name);
  };
  auto open_failure = [](const std::string& path) {
    return "severe (30): open failure, unit 30, file " + path;
  };
  const Case cases[] = {
      {file("absent.txt"), FileUse::Input, not_found("absent.txt")},
      {file("no/such/dir.txt"), FileUse::Input, not_found("no/such/dir.txt")},
      {file("plain.txt/below.txt"), FileUse::Input, not_found("plain.txt/below.txt")},
      {file("plain.txt"), FileUse::Input, ""},
      {file("no/such/dir.txt"), FileUse::Output, open_failure(file("no/such/dir.txt"))},
      {"   ", FileUse::Input, open_failure(cwd + "/")},
      {"   ", FileUse::Output, open_failure(cwd + "/")},
      {file("sub"), FileUse::Input, open_failure(file("sub"))},
      {file("sub"), FileUse::Output, open_failure(file("sub"))},
  };
  for (const Case& c : cases) {
    err.str("");
    const int status = status_of([&] { io.connect(30, c.name, c.use); });
    if (c.report.empty()) {
      EXPECT_EQ(status, -1) << c.name;
      EXPECT_EQ(err.str(), "") << c.name;
    } else {
      EXPECT_EQ(status, std::stoi(c.report.substr(8))) << c.name;
      EXPECT_EQ(err.str(), c.report + "\n") << c.name;
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "absent.txt"));
  EXPECT_FALSE(fs::exists(dir.path() / "no"));
}

TEST_F(TextIOTest, AFailedWriteIsAnError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  io.connect(28, "/dev/full", FileUse::Output);
  io.write_line(28, "a line");
  EXPECT_EQ(io.close_all(), 38);
  EXPECT_EQ(err.str(), "severe (38): error during write, unit 28, file /dev/full\n");
}

TEST_F(TextIOTest, ConsoleLinesAndListDirectedLines) {
  io.write_list(kConsoleOut, {"files: ", "par.txt             ", "ped.txt             ",
                              "dat.txt             "});
  io.write_list(kConsoleOut, {7, " holes"});
  io.write_list(kConsoleOut, {"zeroed", 1, 0, " groups for parent 1 and 2"});
  io.write_list(kConsoleOut, {"average inbreeding=", 0.05f});
  const std::string expected =
      " files: par.txt             ped.txt             dat.txt             \n"
      "           7 holes\n"
      " zeroed           1           0 groups for parent 1 and 2\n"
      " average inbreeding=  5.0000001E-02\n";
  EXPECT_EQ(out.str(), expected);
  EXPECT_EQ(out.str().find('\n'), 68u);
}

TEST_F(TextIOTest, ListDirectedLinesContinuePastEightyColumns) {
  io.write_list(kConsoleOut, {"a", 1, 2, 3, 4, 5, 6, "bc", 7});
  // " a" + 6 integers is 74 characters; "bc" still fits, 7 does not.
  const std::string first = " a" + std::string(11, ' ') + "1" + std::string(11, ' ') + "2" +
                            std::string(11, ' ') + "3" + std::string(11, ' ') + "4" +
                            std::string(11, ' ') + "5" + std::string(11, ' ') + "6" + "bc";
  EXPECT_EQ(out.str(), first + "\n" + std::string(11, ' ') + "7\n");
  out.str("");
  io.write_list(kConsoleOut, {1, 2, 3, 4, 5, 6, "long text"});
  EXPECT_EQ(out.str().substr(72), "\n long text\n");
}

TEST_F(TextIOTest, ConsoleAnswers) {
  in.str("par.txt\r\n\n  12 junk\n");
  std::array<char, 20> name;
  ASSERT_EQ(io.read_text(kConsoleIn, name), ReadResult::Ok);
  EXPECT_EQ(std::string(name.data(), 20), "par.txt" + std::string(13, ' '));
  int32_t passes[1] = {0};
  ASSERT_EQ(io.read_integers(kConsoleIn, passes), ReadResult::Ok);
  EXPECT_EQ(passes[0], 12);
  EXPECT_EQ(status_of([&] { io.require(io.read_integers(kConsoleIn, passes), kConsoleIn); }), 24);
  EXPECT_EQ(err.str(), "severe (24): end-of-file during read, unit 5, file stdin\n");
}

}  // namespace
}  // namespace parclas
