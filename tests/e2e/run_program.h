// Running the built program as a user would: in a folder, with the console
// answers on its standard input.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace parclas {

struct Outcome {
  std::string console;  // standard output
  std::string errors;   // standard error, the scratch folder's path shown as $WORK
  int status = -1;
};

// How the program's surroundings differ from an ordinary run.
struct RunOptions {
  long file_size_limit = -1;  // bytes any one file may grow to (RLIMIT_FSIZE); -1: none
  long memory_limit = -1;     // bytes of address space (RLIMIT_AS); -1: none
  std::string console_path;   // where standard output goes instead of a pipe
  int user = -1;              // runs as this user and group id (from root); -1: as the caller
  std::vector<std::string> arguments;  // the command line after the program's name
};

// The unprivileged user that root runs permission tests as.
inline constexpr int kNobody = 65534;

// Whether `user` could run the program and write in `dir` (checked by root
// before it runs a test as that user).
bool user_can_run_in(int user, const std::filesystem::path& dir);

// Runs the program in `dir` with `answers` on its standard input.
Outcome run_program(const std::filesystem::path& dir, const std::string& answers,
                    const RunOptions& options = {});

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);
// The lines of a text, each without its line end (LF or CR LF).
std::vector<std::string> lines_of(const std::string& text);

// A fresh empty folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& label);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace parclas
