// The straightforward family-grouped inbreeding, kept as the program first
// had it: every family is computed in full by the tabular kernel (about n*n/2
// entry updates for n members). The differential tests and the inbreeding
// benchmark hold the program's faster computation against it.
#pragma once

#include <cstdint>
#include <span>

#include "inbreeding/inbreeding.h"

namespace parclas::reference {

struct Work {
  float matrix[maxped + 1][maxped + 1];
  int32_t groups;
  FamilyMember rentab[fammax + 1];
  float member_inbreeding[fammax + 1];
  int32_t position_of[relmax + 1];
  int32_t family_of[relmax + 1];
  bool placed[fammax + 1];
  FamilyMember reordered[fammax + 1];
  bool visited[fammax + 1];
  int32_t stack[fammax + 2];
  // The single-precision coefficient each animal's stored value was taken
  // from (the one of the last family that held it).
  float coefficient[relmax + 1];

  void reset();
};

// The whole-family tabular kernel.
void tabular(TextIO& io, Work& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding);

// The family sort, as the program uses it.
void sort_family(FamilyMember* members, int32_t count);

// HAINB over animals 1..n of run.t.pedigree, with its summary line and stops.
void hainb(Run& run, Work& w, int32_t n, std::span<const float> prior);

}  // namespace parclas::reference
