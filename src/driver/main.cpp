#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "inbreeding/inbreeding.h"

int main(int argc, char** argv) {
  // A write beyond the file size limit then fails and is reported like any
  // failed write, instead of ending the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  parclas::RunTables tables;
  auto work = std::make_unique_for_overwrite<parclas::InbreedingWork>();
  return parclas::parclas_main(arguments, std::cin, std::cout, std::cerr, tables, *work);
}
