// The combination table: an open-addressing hash matrix of sire x dam pairs.
// The row a pair lands on is its identity for the whole run, and classes are
// numbered in row order, so the hash and probe rule below is exact.
#pragma once

#include <cstdint>
#include <utility>

#include "run/tables.h"

namespace parclas {

class TextIO;

// The probe step, then the multipliers of key columns 1..10.
inline constexpr int32_t kHashMultipliers[11] = {17, 433, 53, 761, 197, 1039, 31, 887, 389, 277, 97};
inline constexpr int32_t kProbeStep = kHashMultipliers[0];
inline constexpr int32_t kProbeLimit = 2000;
inline constexpr int32_t kPairKeyLength = 2;

enum class HashMode { Look = 0, Insert = 1 };

// Values of a record's `status`: no pair (an empty row, or a pair that the
// numbering eliminated), then, while pairs are collected and expanded, new
// (grandparent fields not yet filled), filled (its ancestor pairs still to be
// added) and expanded.
inline constexpr int32_t kNoPair = 0;
inline constexpr int32_t kPairNew = 1;
inline constexpr int32_t kPairFilled = 2;
inline constexpr int32_t kPairExpanded = 3;
// While classes are numbered: each pair is first marked recorded or
// ancestor-only, then every reference to it as an ancestor of another stored
// pair adds 1 at a parental position and 2 at a grand-parental one.
inline constexpr int32_t kPairRecorded = 100;
inline constexpr int32_t kPairAncestorOnly = 1;
inline constexpr int32_t kParentalReference = 1;
inline constexpr int32_t kGrandParentalReference = 2;
// An ancestor-only pair referred to exactly once, at a parental position:
// the one a class numbering may eliminate.
inline constexpr int32_t kAncestorReferredOnceAsParent = kPairAncestorOnly + kParentalReference;

// What a search does after kProbeLimit rows taken by other pairs: stop the
// run with the table-full message, or (class rows "auto") throw
// ClassTableFull so that the caller rebuilds the table larger.
enum class OnFull { Stop, Grow };
struct ClassTableFull {};

// The first row a search for the pair examines: the key columns times their
// multipliers, summed in 32-bit arithmetic that wraps, negated if negative,
// modulo the rows, plus 1.
inline int32_t first_row(int32_t first, int32_t second, int32_t row_count) {
  const uint32_t sum = static_cast<uint32_t>(first) * static_cast<uint32_t>(kHashMultipliers[1]) +
                       static_cast<uint32_t>(second) * static_cast<uint32_t>(kHashMultipliers[2]);
  int32_t h = static_cast<int32_t>(sum);
  if (h < 0) h = static_cast<int32_t>(0u - sum);
  int32_t r = h % row_count;
  if (r < 0) r += row_count;  // only for the one sum that stays negative
  return r + 1;
}

// Asks for the first row of a pair's search ahead of it: the look-ups of a
// large table each wait on memory, and several asked at once overlap.
inline void prefetch_pair(const Combination* table, int32_t row_count, int32_t a, int32_t b) {
#if defined(__GNUC__)
  if (a > b) std::swap(a, b);
  __builtin_prefetch(&table[first_row(a, b, row_count)]);
#endif
}

// The row whose key columns (member1, member2) equal `key`, inserting the key
// in `Insert` mode when it is absent (and adding 1 to `count`); 0 when absent
// in `Look` mode.
int32_t find_row(TextIO& io, const int32_t (&key)[2], Combination* table, int32_t row_count,
                 HashMode mode, int32_t& count, OnFull on_full = OnFull::Stop);

// The table-full message with the table's row count, and the stop.
[[noreturn]] void stop_table_full(TextIO& io, int32_t row_count);

// Puts a pair in ascending order in place.
inline void order_pair(int32_t& a, int32_t& b) {
  if (a > b) std::swap(a, b);
}

struct AddResult {
  int32_t row;
  bool is_new;
};

// Orders the caller's pair in place, then finds or inserts it.
AddResult add_pair(TextIO& io, int32_t& first, int32_t& second, Combination* table,
                  int32_t row_count, int32_t& count, OnFull on_full = OnFull::Stop);
// Orders the caller's pair in place, then looks it up; 0 when absent.
int32_t find_pair(TextIO& io, int32_t& first, int32_t& second, Combination* table,
                  int32_t row_count, int32_t& count);

// The ancestor pairs of a record, as pairs of its fields, in the order that
// numbers the ancestor positions 1..8 (1..4 parental, 5..8 grand-parental).
struct FieldPair {
  int32_t Combination::*first;
  int32_t Combination::*second;
};
inline constexpr FieldPair kAncestorPairs[8] = {
    {&Combination::member1, &Combination::m2sire}, {&Combination::member1, &Combination::m2dam},
    {&Combination::member2, &Combination::m1sire}, {&Combination::member2, &Combination::m1dam},
    {&Combination::m1sire, &Combination::m2sire},  {&Combination::m1sire, &Combination::m2dam},
    {&Combination::m1dam, &Combination::m2sire},   {&Combination::m1dam, &Combination::m2dam},
};
inline constexpr int kParentalPositions = 4;

inline bool has_grandparents(const Combination& c) {
  return c.m1sire != 0 || c.m1dam != 0 || c.m2sire != 0 || c.m2dam != 0;
}

}  // namespace parclas
