// Fitting PARCLAS's family limit: an animal's family is the animal with all
// its ancestors, and a family may not pass the limit.
#pragma once

#include <cstdint>
#include <vector>

#include "prep/pedigree.h"

namespace parclas::prep {

// Marks the animals with at least `limit` ancestors, ignoring the parents of
// the animals whose year is before `cut_before`. `order` lists parents
// before offspring. Stops at the first such animal when `first_only`.
//
// Most animals are settled without counting: one with a parent over the
// limit is over it too, and one whose parents' bounds add up to less than
// the limit fits. Only the others have their ancestors counted, generation
// by generation, up to the limit at most.
std::vector<uint8_t> animals_over_limit(const Pedigree& p, const std::vector<uint32_t>& order,
                                        const std::vector<int32_t>& year, int32_t cut_before,
                                        uint32_t limit, bool first_only);

// The earliest year Y such that, with the parents of every animal born
// before Y removed, every animal has fewer than `limit` ancestors.
int32_t earliest_fitting_year(const Pedigree& p, const std::vector<uint32_t>& order,
                              const std::vector<int32_t>& year, uint32_t limit);

}  // namespace parclas::prep
