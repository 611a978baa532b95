#include <iostream>
#include <string>
#include <vector>

#include "prep/prep.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return parclas::prep::run_prep(args, std::cout, std::cerr);
}
