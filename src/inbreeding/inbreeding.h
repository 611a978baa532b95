// Inbreeding of every animal: the tabular kernel, the family-grouped method
// around it, the yearly report and the pedigree coefficient file.
#pragma once

#include <cstdint>
#include <span>

#include "run/tables.h"

namespace parclas {

struct Run;
class TextIO;

inline constexpr int fammax = 500;  // members of one family
inline constexpr int maxped = 600;  // positions of the relationship matrix
inline constexpr int kGroups = kYears;  // one unknown-parent group per year

// One member of a family table: parents (animal numbers, then member
// positions, then group codes), the member's animal number and year.
struct FamilyMember {
  int32_t sire;
  int32_t dam;
  int32_t animal;
  int32_t year;
};

// Scratch of the inbreeding stage, allocated once with the run tables.
struct InbreedingWork {
  // Relationship matrix; position 0 is related 0.0 to every position and
  // stands for unknown parents outside the group block.
  float matrix[maxped + 1][maxped + 1];
  int32_t groups;
  FamilyMember rentab[fammax + 1];
  float member_inbreeding[fammax + 1];
  // Member position of an animal in the current family (valid where
  // family_of[a] equals the family count).
  int32_t position_of[relmax + 1];
  int32_t family_of[relmax + 1];
  // Reordering a family so that parents come first, and finding a loop.
  bool placed[fammax + 1];
  FamilyMember reordered[fammax + 1];
  bool visited[fammax + 1];
  int32_t stack[fammax + 2];

  void reset();
};

// The tabular kernel. With `group_count` above 0 it sets up the groups from
// `prior`; every call then computes the members of `members` (references in
// fields sire and dam) into `inbreeding` (1-based, n entries).
void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding);

// Family-grouped inbreeding of animals 1..n into the pedigree table.
void hainb(Run& run, int32_t n, std::span<const float> prior);

// The iterative quicksort of the family table by year, members 1..count.
void sort_family(FamilyMember* members, int32_t count);

// The inbreeding stage with its yearly report.
void report_inbreeding(Run& run);

// The pedigree coefficient file, from a second reading of the relationship file.
void write_pedigree_coefficients(Run& run);

}  // namespace parclas
