// Numbering and coding for the relationship file: animal numbers with
// parents first, codes from the known parents, year values, groups and the
// identifiers PARCLAS keeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "prep/birth_years.h"
#include "prep/conventions.h"
#include "prep/id_table.h"
#include "prep/options.h"
#include "prep/pedigree.h"
#include "prep/report.h"

namespace parclas::prep {

struct Numbering {
  std::vector<int32_t> number;      // per animal, 1..n
  std::vector<uint32_t> animal_at;  // per number - 1
};

// By generation, then birth year, then identifier (digits only by their
// number, before the others): parents always come before their offspring,
// and the numbers do not depend on the order of the lines.
Numbering number_animals(const Pedigree& p, const std::vector<int32_t>& depth, const std::vector<int32_t>& year);

// 1 both parents known, 2 one, 3 none.
int32_t parent_code(const Pedigree& p, uint32_t a);

struct YearCoding {
  int32_t first = 1;  // year of year value 1 (calendar years)
  int32_t per_value = 1;
  bool calendar = false;
  int32_t value(int32_t year) const;
};

// The year coding; an error in the report when the years need more than
// kYearValues values or come before --first-year.
YearCoding code_years(const Pedigree& p, const BirthYears& years, const Options& o, Report& report);

// The identifiers of ped.txt: blanks and control characters replaced by '_',
// cut to kIdentifierWidth characters; cut identifiers that collide get numbered suffixes.
class ShortIds {
 public:
  ShortIds(const Pedigree& p, const Numbering& numbering, Report& report);
  std::string_view operator()(uint32_t animal) const {
    return changed_of_[animal] == kNoEntry ? ids_[animal] : changed_[changed_of_[animal]];
  }

 private:
  const IdTable& ids_;
  IdTable changed_;
  std::vector<uint32_t> changed_of_;
};

}  // namespace parclas::prep
