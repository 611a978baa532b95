// Shared pieces of the fuzz targets: a private scratch folder that every
// input runs in, and the one set of run tables that all inputs reuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parclas {

struct RunTables;
struct InbreedingWork;

namespace fuzz {

// Makes the scratch folder (once per process), empties it and makes it the
// current folder until the object goes out of scope.
class InScratch {
 public:
  InScratch();
  ~InScratch();
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

 private:
  int previous_ = -1;
};

void write_file(const std::string& name, std::string_view content);
// The file's bytes, or no value when it cannot be read.
bool read_file(const std::string& name, std::string& content);

// A file name as the program takes it from a line: the first 20 characters,
// without the blanks around them.
std::string name_from_line(std::string_view line);

// Keeps a name that the program reads from fuzzed text inside the scratch
// folder: slashes among the first 20 characters of the line that starts at
// `at` become underscores.
void confine_name(std::string& text, size_t at);

// Offset of the start of line `n` (0-based) in `text`, or npos.
size_t line_start(std::string_view text, int n);

// Splits `data` at every occurrence of the separator line "\n--\n"; the
// result has exactly `parts` entries (missing ones are empty, the last takes
// everything that is left).
std::vector<std::string> carve(std::string_view data, size_t parts);

RunTables& tables();
InbreedingWork& work();

// Runs the whole program in the current folder with `answers` as its
// console input; returns the exit status, and the console and error text.
int run_program(const std::string& answers, std::string& console, std::string& errors);

// Stops the process loudly when a property of a run does not hold.
void check(bool ok, const char* what);

}  // namespace fuzz
}  // namespace parclas

namespace parclas::fuzz {

// The regular files of the current folder with their bytes.
std::vector<std::pair<std::string, std::string>> snapshot();

// What every run must satisfy whatever its input: a known exit status, the
// read-error report exactly when the status is not 0, and every file that
// was there before the run left as it was.
void check_run(int status, const std::string& errors,
               const std::vector<std::pair<std::string, std::string>>& before);

}  // namespace parclas::fuzz
