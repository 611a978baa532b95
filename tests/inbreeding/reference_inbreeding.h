// The straightforward family-grouped inbreeding, kept as the program first
// had it: every family is computed in full by the tabular kernel (about n*n/2
// entry updates for n members). The differential tests and the inbreeding
// benchmark hold the program's faster computation against it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "inbreeding/inbreeding.h"

namespace parclas::reference {

struct Work {
  // Positions of the matrix; 0: as many as the families need.
  int32_t maxped = parclas::maxped;
  int32_t side = 0;  // the matrix holds positions 0..side-1 in rows of `side`
  std::vector<float> matrix;
  std::vector<float> group_prior;  // prior inbreeding of groups 1..groups
  int32_t groups = 0;
  std::vector<FamilyMember> rentab;
  std::vector<float> member_inbreeding;
  // The single-precision coefficient each animal's stored value was taken
  // from (the one of the last family that held it).
  std::vector<float> coefficient;

  float* row(int32_t p) { return matrix.data() + static_cast<size_t>(p) * static_cast<size_t>(side); }
  void reset();
};

// The whole-family tabular kernel.
void tabular(TextIO& io, Work& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding);

// The family sort, as the program uses it (a copy: the family order it
// gives is part of what the values are).
void sort_family(FamilyMember* members, int32_t count);

// HAINB over animals 1..n of run.t.pedigree, with its summary line and
// stops, for families of at most `family_limit` members (0: no limit).
void hainb(Run& run, Work& w, int32_t n, std::span<const float> prior,
           int32_t family_limit = fammax);

}  // namespace parclas::reference
