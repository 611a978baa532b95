// Inbreeding of every animal: the tabular kernel, the family-grouped method
// around it, the yearly report and the pedigree coefficient file.
#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <thread>
#include <vector>

#include "inbreeding/exact_inbreeding.h"
#include "run/tables.h"
#include "text/line_blocks.h"

namespace parclas {

struct Run;
class TextIO;

inline constexpr int fammax = 500;  // members of one family, unless set otherwise
inline constexpr int maxped = 600;  // positions of the relationship matrix (fammax + groups)
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

// Scratch of the inbreeding stage. The per-animal tables are sized at the
// start of the stage for the largest animal number, the per-family ones and
// the member block as the families grow.
struct InbreedingWork {
  // Positions of the kernel's matrix: groups and members; 0: no limit.
  int32_t maxped = parclas::maxped;
  // The set-up's group relationships: group_block[i * (groups + 1) + j] for
  // groups i, j, and group_member[i] between group i and every member
  // position. Position 0 is related 0.0 to every position and stands for
  // unknown parents outside the group block.
  int32_t groups = 0;
  std::vector<float> group_block;
  std::vector<float> group_member;
  // The member block of a family call, by rows of its lower triangle.
  std::vector<float> lower;
  // Parents of each member in the current kernel call: a member, or
  // -(matrix position) for a group or position 0.
  std::vector<int32_t> kernel_sire;
  std::vector<int32_t> kernel_dam;

  // Per member of the family being built, 1..family capacity.
  std::vector<FamilyMember> rentab;
  std::vector<float> member_inbreeding;
  std::vector<int32_t> wanted;
  // Parents of each member by their arrival numbers (0 unknown), and the
  // members' pedigree depths.
  std::vector<int32_t> arrival_sire;
  std::vector<int32_t> arrival_dam;
  std::vector<int32_t> member_depth;
  // A family in the kernel's member order (by depth, or sorted by year):
  // the members with parents as positions, the position of each arrival,
  // those of the wanted members, and the members' values by position.
  std::vector<FamilyMember> ordered;
  std::vector<int32_t> order_position;
  std::vector<int32_t> wanted_position;
  std::vector<float> ordered_inbreeding;
  std::vector<int32_t> depth_start;  // per depth
  // Reordering a family so that parents come first, and finding a loop.
  std::vector<char> placed;
  std::vector<FamilyMember> reordered;
  std::vector<char> visited;
  std::vector<int32_t> stack;

  // Per animal 1..n: the work mark of the family building (see HAINB), the
  // pedigree depth, the last family holding the animal, and a copy of its
  // pedigree row: one cache line holds all that building a family reads.
  struct alignas(32) AnimalState {
    int32_t mark;
    int32_t depth;
    int32_t sire;
    int32_t dam;
    int32_t year;
    int32_t last;
  };
  std::vector<AnimalState> state;
  // Finding each animal's last family: children not yet taken, smallest
  // descendant, the queue of animals whose children are all taken.
  std::vector<int32_t> children_left;
  std::vector<int32_t> smallest_descendant;
  std::vector<int32_t> queue;
  std::vector<int32_t> finals;  // animals whose last family starts at this one
  // Family size and the coefficient of the starting animal by its parent
  // pair (full sibs have the same ancestors), with the full sibs that the
  // coefficient holds for and the latest year among the ancestors.
  struct PairEntry {
    int32_t sire;
    int32_t dam;
    int32_t size;  // 0: slot free
    int32_t coefficient_for;
    int32_t latest_ancestor_year;
    float coefficient;
  };
  std::vector<PairEntry> pairs;  // a power of two of slots
  // The single-precision coefficient each animal's stored value comes from.
  std::vector<float> coefficient;
  // The exact method, when the run has a second thread, computes
  // `coefficient` on that thread while the data file is scanned (from its
  // own copy of the parents). Its outcome, or what it threw, is taken at the
  // inbreeding stage.
  std::jthread exact_thread;
  ExactOutcome exact_outcome;
  std::exception_ptr exact_failure;
  // The lines of the pedigree coefficient file, made on a second thread
  // while the classes are expanded and numbered, to be written at their
  // stage (see start_pedigree_coefficients).
  struct CoefficientsAhead {
    std::jthread thread;
    bool started = false;  // the relationship file was read again from its start
    std::vector<LineBlock> blocks;
    int32_t records = 0;  // records read and made into lines
    int32_t last[4] = {0, 0, 0, 0};  // the last of them, as list-directed input leaves its items
    // The record after them, when its coefficient cannot be computed.
    bool unusable = false;
    int32_t unusable_animal = 0;
    int32_t unusable_code = 0;
    std::exception_ptr failure;
  };
  CoefficientsAhead coefficients_ahead;

  // Back to the state at the start of a run.
  void reset();
  // Waits for the threads that work ahead (the exact method, the pedigree
  // coefficient lines), if any run. A run that ends early calls it before
  // the tables and files they use can go.
  void wait_for_threads();
  // Per-animal tables for animals 1..n.
  void size_for_animals(int32_t n);
  // Per-family tables for at least `members` members (grown geometrically).
  void size_for_family(int32_t members);
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

// With the exact method and a second thread: starts computing every
// animal's inbreeding, to be reported at the inbreeding stage.
void start_inbreeding(Run& run);
// The inbreeding stage with its yearly report.
void report_inbreeding(Run& run);

// With a second thread: starts making the lines of the pedigree coefficient
// file (everything they need is known once the inbreeding is), to be
// written at their stage.
void start_pedigree_coefficients(Run& run);
// The pedigree coefficient file, from a second reading of the relationship file.
void write_pedigree_coefficients(Run& run);

}  // namespace parclas
