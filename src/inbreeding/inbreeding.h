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
// The pedigree depth of an animal is 0 when both its parents are unknown,
// else 1 + the larger depth of its known parents. An exact relationship
// a(u, v) is a dyadic fraction m / 2^e with e <= depth(u) + depth(v), and the
// tabular recursion for an animal's inbreeding only forms relationships of
// pairs of its ancestors whose depths add up to at most those of its parents.
// When the parents' depths add up to at most kExactDepthSum, every entry (at
// most 2, so m < 2^23), every sum on the way and the diagonal entry 1 + F
// (e <= 22) are held exactly in single precision: no operation rounds, and
// the value does not depend on the order in which the members are taken.
inline constexpr int kExactDepthSum = 21;

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
  // Relationship matrix of the set-up: its group rows and columns hold the
  // group relationships; position 0 is related 0.0 to every position and
  // stands for unknown parents outside the group block.
  float matrix[maxped + 1][maxped + 1];
  // Relationships among the members of the current family, computed on
  // demand: members p <= q at (p - 1) * n + (q - 1) for n members, valid
  // where `entry_call` holds the number of the current kernel call.
  float entry[maxped * maxped];
  uint32_t entry_call[maxped * maxped];
  uint32_t kernel_calls;
  int32_t groups;
  FamilyMember rentab[fammax + 1];
  float member_inbreeding[fammax + 1];
  int32_t wanted[fammax];
  // Parents of each member by their arrival numbers (0 unknown), and the
  // members' pedigree depths.
  int32_t arrival_sire[fammax + 1];
  int32_t arrival_dam[fammax + 1];
  int32_t member_depth[fammax + 1];
  // Per animal: the work mark of the family building (see HAINB) and the
  // pedigree depth.
  struct AnimalState {
    int16_t mark;
    int16_t depth;
  };
  AnimalState state[relmax + 1];
  // Reordering a family so that parents come first, and finding a loop.
  bool placed[fammax + 1];
  FamilyMember reordered[fammax + 1];
  bool visited[fammax + 1];
  int32_t stack[fammax + 2];
  // Finding each animal's last family: children not yet taken, smallest
  // descendant, the queue of animals whose children are all taken.
  int32_t children_left[relmax + 1];
  int32_t smallest_descendant[relmax + 1];
  int32_t queue[relmax];
  int32_t finals[relmax + 1];  // animals whose last family starts at this one
  // Family size and, where exact, the coefficient of the starting animal by
  // its parent pair: full sibs have the same ancestors.
  struct PairEntry {
    int32_t sire;
    int32_t dam;
    int16_t size;  // 0: slot free
    int16_t has_coefficient;
    float coefficient;
  };
  static constexpr int kPairSlots = 1 << 19;
  PairEntry pairs[kPairSlots];
  // The single-precision coefficient each animal's stored value comes from.
  float coefficient[relmax + 1];

  // Back to the state at the start of a run.
  void reset();
};

// The tabular kernel. With `group_count` above 0 it sets up the groups from
// `prior`; every call then computes the members of `members` (references in
// fields sire and dam, parents first) into `inbreeding` (1-based, n entries).
void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding);
// The same, computing only the members listed in `wanted` (their positions);
// the other entries of `inbreeding` are left as they are.
void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, std::span<const int32_t> wanted,
             float* inbreeding);

// The inbreeding of the `wanted` members of a family of n members, each with
// parents whose depths add up to at most kExactDepthSum, with unknown
// parents unrelated to everybody. Members are in any order: `sire` and `dam`
// give each member's parents by member number (0 unknown), `depth` its
// pedigree depth. Gives the values of the tabular kernel.
void tabular_exact(InbreedingWork& w, const int32_t* sire, const int32_t* dam,
                   const int32_t* depth, int32_t n, std::span<const int32_t> wanted,
                   float* inbreeding);

// Family-grouped inbreeding of animals 1..n into the pedigree table.
void hainb(Run& run, int32_t n, std::span<const float> prior);

// The iterative quicksort of the family table by year, members 1..count.
void sort_family(FamilyMember* members, int32_t count);

// The inbreeding stage with its yearly report.
void report_inbreeding(Run& run);

// The pedigree coefficient file, from a second reading of the relationship file.
void write_pedigree_coefficients(Run& run);

}  // namespace parclas
