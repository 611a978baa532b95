// Additive relationships of animal pairs, exactly in double precision, for
// pedigrees of any size: a parents-first order of the animals, and the
// relationships of any list of pairs by the indirect method, one pass per
// animal that the pairs share.
#pragma once

#include <cstdint>
#include <span>

#include "run/table_memory.h"
#include "run/tables.h"

namespace parclas {

struct AnimalPair {
  int32_t first;
  int32_t second;
};

// The place of every animal 1..n in an order that puts parents before their
// offspring (position[a] in 1..n; position[0] = 0). Sire and dam outside 1..n
// count as unknown. Returns false on a pedigree loop.
bool parents_first_positions(std::span<const PedigreeRow> pedigree, int32_t n,
                             TableVector<int32_t>& position);

// a(first, second) of every pair into `relationship` (same length), from the
// pedigree rows 0..n, the inbreeding of animals 0..n (inbreeding[0] unused)
// and the parents-first positions.
// Members are animal numbers 1..n; a pair of an animal with itself gives
// 1 + F. Pairs are grouped by the member that more of them share: one walk
// through that animal's ancestors, then through the ancestors of its partners
// that no earlier pair of the group reached. Only additions, halvings and one
// product per ancestor are rounded, so values are exact wherever double
// precision holds the dyadic fractions involved.
void pair_relationships(std::span<const PedigreeRow> pedigree, int32_t n,
                        std::span<const double> inbreeding, std::span<const int32_t> position,
                        std::span<const AnimalPair> pairs,
                        std::span<double> relationship);

}  // namespace parclas
