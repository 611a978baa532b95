#include <csignal>
#include <iostream>
#include <memory>

#include "driver/driver.h"
#include "inbreeding/inbreeding.h"

int main() {
  // A write beyond the file size limit then fails and is reported like any
  // failed write, instead of ending the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  std::ios::sync_with_stdio(false);
  auto tables = std::make_unique_for_overwrite<parclas::RunTables>();
  auto work = std::make_unique_for_overwrite<parclas::InbreedingWork>();
  return parclas::run_parclas(std::cin, std::cout, std::cerr, *tables, *work);
}
