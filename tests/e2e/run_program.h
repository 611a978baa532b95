// Running the built program as a user would: in a folder, with the console
// answers on its standard input.
#pragma once

#include <filesystem>
#include <string>

namespace parclas {

struct Outcome {
  std::string console;  // standard output
  std::string errors;   // standard error, the scratch folder's path shown as $WORK
  int status = -1;
};

// Runs the program in `dir` with `answers` on its standard input.
Outcome run_program(const std::filesystem::path& dir, const std::string& answers);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);

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
