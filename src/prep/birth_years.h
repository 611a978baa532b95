// Every animal's birth year: the one read, or one estimated from its
// relatives; without any birth year in the file, its generation + 1.
#pragma once

#include <cstdint>
#include <vector>

#include "prep/pedigree.h"
#include "prep/report.h"

namespace parclas::prep {

struct BirthYears {
  bool calendar = false;      // the file gave birth years
  std::vector<int32_t> year;  // per animal
  int32_t first = 0;          // first and last given birth year (calendar only)
  int32_t last = 0;
};

// Missing years come from the parents (the later parent's year plus the
// mean parent-offspring interval), then from the offspring (the earliest
// offspring's year minus it), kept within the years given.
BirthYears settle_birth_years(const Pedigree& p, const std::vector<uint32_t>& order,
                              const std::vector<int32_t>& depth, Report& report);

}  // namespace parclas::prep
