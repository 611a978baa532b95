// The command line of parclas-prep.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prep/conventions.h"
#include "prep/table_reader.h"

namespace parclas::prep {

struct ColumnChoice {
  std::string id, sire, dam, birth;  // header names or 1-based positions; empty: by name
};

struct Scale {
  std::string column;
  double factor = 1.0;
};

struct Options {
  enum class Action { Prepare, Help, Version } action = Action::Prepare;
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
  std::vector<std::string> missing;        // more unknown-value codes
  int32_t missing_value = 0;               // written for an unknown data value
  bool allow_unmatched = false;
  bool allow_selfing = false;
  bool force = false;
  bool break_loops = false;
  bool strict = false;
  std::optional<int32_t> first_year;
  int32_t years_per_value = 1;
  bool groups = false;
  int32_t years_per_group = 1;
  int32_t max_family = kDefaultFamilyLimit;  // 0: auto, no limit to fit
  int32_t max_animals = kDefaultAnimalLimit;
  bool trim = false;
  int32_t passes = kDefaultPasses;
};

// Parses the arguments (without the program name). On a bad command line
// returns nothing and sets `error` to a message naming the option.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string& error);

extern const std::string kUsage;
extern const std::string kVersion;

}  // namespace parclas::prep
