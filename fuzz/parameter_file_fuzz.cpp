// A whole run whose parameter file is the fuzz input, beside a small valid
// relationship file and data file.
#include "support.h"

using namespace parclas;

namespace {
constexpr std::string_view kPedigree =
    "1 0 0 3 1 A1\n2 0 0 3 1 A2\n3 0 0 3 1 A3\n4 0 0 3 1 A4\n5 1 2 1 2 A5\n"
    "6 3 4 1 2 A6\n7 5 6 1 3 A7\n8 5 6 1 3 A8\n9 1 6 1 3 A9\n";
constexpr std::string_view kData = "1 7\n1 8\n1 9\n";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string parameters(reinterpret_cast<const char*>(data), size);
  for (int line = 0; line < 2; ++line) {
    const size_t at = fuzz::line_start(parameters, line);
    if (at != std::string::npos) fuzz::confine_name(parameters, at);
  }
  fuzz::InScratch scratch;
  fuzz::write_file("ped.txt", kPedigree);
  fuzz::write_file("data.txt", kData);
  fuzz::write_file("par.txt", parameters);
  const auto before = fuzz::snapshot();
  std::string console;
  std::string errors;
  const int status = fuzz::run_program("par.txt\n3\n", console, errors);
  fuzz::check_run(status, errors, before);
  return 0;
}
