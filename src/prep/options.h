// The command line of parclas-prep.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prep/table_reader.h"

namespace parclas::prep {

struct ColumnChoice {
  std::string id, sire, dam, birth;  // header names or 1-based positions; empty: default
};

struct Scale {
  std::string column;
  double factor = 1.0;
};

struct Options {
  std::string pedigree;
  std::string data;
  std::string out;
  Separator separator = Separator::Auto;
  Separator data_separator = Separator::Auto;
  HeaderMode header = HeaderMode::Auto;
  HeaderMode data_header = HeaderMode::Auto;
  ColumnChoice columns;
  std::string animal_column;               // data file: name or position
  std::vector<std::string> data_columns;   // data file: the columns kept besides the animal
  std::vector<std::string> class_columns;  // data file: integer columns taken as class effects
  std::vector<Scale> scales;
  std::vector<std::string> missing;
  bool break_loops = false;
  bool strict = false;
  std::optional<int32_t> first_year;
  int32_t years_per_value = 1;
  bool groups = false;
  int32_t years_per_group = 1;
  int32_t max_family = 500;  // 0: auto, no limit to fit
  int32_t max_animals = 500000;
  bool trim = false;
  int32_t passes = 2;
};

// Parses the arguments (without the program name). On a bad command line
// returns nothing and sets `error` to a message naming the option.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;

}  // namespace parclas::prep
