// Exact inbreeding of every animal of a pedigree of any size, animal by
// animal, without families.
#pragma once

#include <cstdint>
#include <latch>
#include <span>

#include "run/tables.h"

namespace parclas {

struct ExactOutcome {
  bool loop = false;
  int32_t loop_animal = 0;
};

// Exact inbreeding of animals 1..n of `pedigree` (rows 0..n; sire and dam are
// 0 for unknown or an animal number 1..n, anything else counts as unknown;
// unknown parents are unrelated and not inbred). Animals may be numbered in
// any order. coefficient[a], a = 1..n, gets the coefficient computed in double
// precision and rounded once to single precision. On a pedigree loop returns
// loop = true and the smallest animal number that is its own ancestor, and
// leaves `coefficient` as it was. With `threads` 2 on a machine of two
// processors a second thread walks the pedigree ahead of the computation;
// otherwise (0, the default, or 1) the calling thread does all the work. The
// values are the same in every case. `parents_read`, when given, is counted
// down once the method has taken the parents from `pedigree` (or ended):
// from then on it does not read `pedigree`, which may change.
ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<float> coefficient, unsigned threads = 0,
                              std::latch* parents_read = nullptr);
// The same, with each coefficient as computed, in double precision.
ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<double> coefficient, unsigned threads = 0,
                              std::latch* parents_read = nullptr);

}  // namespace parclas
