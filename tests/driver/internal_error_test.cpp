// An exception that is not the run's own end (a fault of the program, or of
// its surroundings such as a console that throws) must still end the run in
// order: one line on the error stream, every file closed with the lines it
// received, exit status 70. The runs here happen in-process, with console
// streams that throw at a chosen moment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "e2e/run_program.h"
#include "inbreeding/inbreeding.h"
#include "run/tables.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

// Console input whose first read throws.
class LostInput : public std::streambuf {
 protected:
  int_type underflow() override { throw std::runtime_error("console input lost"); }
};

// Console output that throws when it is given a line holding `trigger`.
class LostOutput : public std::stringbuf {
 public:
  explicit LostOutput(std::string trigger) : trigger_(std::move(trigger)) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (std::string_view(s, static_cast<size_t>(n)).find(trigger_) != std::string_view::npos) {
      throw std::runtime_error("console output lost");
    }
    return std::stringbuf::xsputn(s, n);
  }

 private:
  std::string trigger_;
};

// The program works in the current folder: the run goes there and back.
class InFolder {
 public:
  explicit InFolder(const fs::path& dir) : previous_(::open(".", O_RDONLY | O_DIRECTORY)) {
    if (previous_ < 0 || ::chdir(dir.c_str()) != 0) throw std::runtime_error("cannot enter");
  }
  ~InFolder() {
    if (::fchdir(previous_) != 0) ADD_FAILURE() << "cannot return to the test's folder";
    ::close(previous_);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  int previous_;
};

struct InProcessRun {
  int status = -1;
  std::string console;
  std::string errors;
  std::map<std::string, std::string> files;  // every file of the folder afterwards
};

// The worked example of nine animals; its second record names animal 12,
// which has no pedigree, so the second data pass stops after the pedigree
// coefficient file, both class files and one recoded line are written.
void write_inputs(const fs::path& dir) {
  write_file(dir / "par.txt", "data.txt\nped.txt\nworked example\n1 2\n2 9 -1\n");
  write_file(dir / "ped.txt",
             "1 0 0 3 1 A1\n2 0 0 3 1 A2\n3 0 0 3 1 A3\n4 0 0 3 1 A4\n5 1 2 1 2 A5\n"
             "6 3 4 1 2 A6\n7 5 6 1 3 A7\n8 5 6 1 3 A8\n9 1 6 1 3 A9\n");
  write_file(dir / "data.txt", "1 7\n1 12\n1 9\n");
}

InProcessRun run_in(const fs::path& dir, std::istream& in, std::streambuf* console) {
  static const auto tables = std::make_unique_for_overwrite<RunTables>();
  static const auto work = std::make_unique_for_overwrite<InbreedingWork>();
  std::stringbuf plain;
  std::ostream out(console != nullptr ? console : &plain);
  out.exceptions(std::ios::badbit);
  std::ostringstream err;
  InProcessRun r;
  {
    const InFolder here(dir);
    r.status = run_parclas(in, out, err, *tables, *work);
  }
  r.console = console != nullptr ? static_cast<std::stringbuf*>(console)->str() : plain.str();
  r.errors = err.str();
  for (const auto& entry : fs::directory_iterator(dir)) {
    r.files[entry.path().filename().string()] = read_file(entry.path());
  }
  return r;
}

TEST(InternalError, ClosesEveryFileAndExitsWith70) {
  const ScratchDir stop_dir("stop");
  const ScratchDir lost_dir("lost-console");
  write_inputs(stop_dir.path());
  write_inputs(lost_dir.path());
  std::istringstream answers_stop("par.txt\n5\n");
  std::istringstream answers_lost("par.txt\n5\n");

  const InProcessRun stop = run_in(stop_dir.path(), answers_stop, nullptr);
  ASSERT_EQ(stop.status, 1) << stop.console;
  const std::string last = " this should not happen:245\n";
  ASSERT_TRUE(stop.console.ends_with(last)) << stop.console;
  ASSERT_EQ(stop.files.at("domrecdata.txt"), "1 7 0 5\r\n");

  // The same run, with a console that fails on the stop's message.
  LostOutput console("this should not happen");
  const InProcessRun lost = run_in(lost_dir.path(), answers_lost, &console);
  EXPECT_EQ(lost.status, 70);
  EXPECT_EQ(lost.errors, "parclas: internal error: console output lost\n");
  EXPECT_EQ(lost.console, stop.console.substr(0, stop.console.size() - last.size()));
  EXPECT_EQ(lost.files, stop.files);
}

TEST(InternalError, BeforeAnyFileIsOpen) {
  const ScratchDir dir("lost-input");
  write_inputs(dir.path());
  LostInput broken;
  std::istream in(&broken);
  in.exceptions(std::ios::badbit);
  const InProcessRun r = run_in(dir.path(), in, nullptr);
  EXPECT_EQ(r.status, 70);
  EXPECT_EQ(r.errors, "parclas: internal error: console input lost\n");
  EXPECT_EQ(r.console, "  PARCLAS Feb 08, 1999\n Oru parameter file?\n");
  EXPECT_EQ(r.files.size(), 3u) << "no file is created";
}

}  // namespace
}  // namespace parclas
