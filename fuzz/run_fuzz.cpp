// A whole run on a fuzzed folder. The input is cut at lines "--" into the
// console answers, the parameter file, the relationship file and the data
// file; the files are stored under the names that the answers and the
// parameter file give them (kept inside the scratch folder).
#include "support.h"

using namespace parclas;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> part =
      fuzz::carve(std::string_view(reinterpret_cast<const char*>(data), size), 4);
  std::string& answers = part[0];
  std::string& parameters = part[1];
  fuzz::confine_name(answers, 0);
  for (int line = 0; line < 2; ++line) {
    const size_t at = fuzz::line_start(parameters, line);
    if (at != std::string::npos) fuzz::confine_name(parameters, at);
  }
  const std::string parameter_name = fuzz::name_from_line(answers);
  const size_t second = fuzz::line_start(parameters, 1);
  const std::string data_name = fuzz::name_from_line(parameters);
  const std::string relationship_name =
      second == std::string::npos ? std::string() : fuzz::name_from_line(parameters.substr(second));

  fuzz::InScratch scratch;
  // Later names win when two coincide, as the parameter file is read first.
  if (!data_name.empty()) fuzz::write_file(data_name, part[3]);
  if (!relationship_name.empty()) fuzz::write_file(relationship_name, part[2]);
  if (!parameter_name.empty()) fuzz::write_file(parameter_name, parameters);
  const auto before = fuzz::snapshot();
  std::string console;
  std::string errors;
  const int status = fuzz::run_program(answers, console, errors);
  fuzz::check_run(status, errors, before);
  return 0;
}
