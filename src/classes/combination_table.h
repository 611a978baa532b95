// The combination table: an open-addressing hash matrix of sire x dam pairs.
// The row a pair lands on is its identity for the whole run, and classes are
// numbered in row order, so the hash and probe rule below is exact.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "run/tables.h"
#include "text/progress.h"

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

// The combination table as the pair operations see it: the rows and the
// index of their keys in search order.
struct PairTable {
  Combination* rows;
  PairIndex* index;
  int32_t row_count;
};
inline PairTable pair_table(RunTables& t) {
  return {t.combination.data(), &t.pair_index, t.capacity.classes};
}

// The slot of the index where a search for the pair begins.
inline uint32_t first_slot(const PairTable& table, int32_t a, int32_t b) {
  if (a > b) std::swap(a, b);
  return table.index->slot_of(first_row(a, b, table.row_count));
}

// Asks for the first slot of a pair's search ahead of it: the look-ups of a
// large table each wait on memory, and several asked at once overlap.
inline void prefetch_slot(const PairTable& table, uint32_t slot) {
#if defined(__GNUC__)
  __builtin_prefetch(&table.index->keys[slot]);
#endif
}
inline void prefetch_pair(const PairTable& table, int32_t a, int32_t b) {
  prefetch_slot(table, first_slot(table, a, b));
}

// The row whose key columns (member1, member2) equal `key`, inserting the key
// in `Insert` mode when it is absent (and adding 1 to `count`); 0 when absent
// in `Look` mode. The search may begin at its first slot, found beforehand.
int32_t find_row(TextIO& io, const int32_t (&key)[2], const PairTable& table, HashMode mode,
                 int32_t& count, OnFull on_full = OnFull::Stop);
int32_t find_row_from(TextIO& io, const int32_t (&key)[2], uint32_t slot, const PairTable& table,
                      HashMode mode, int32_t& count, OnFull on_full = OnFull::Stop);

// An eliminated pair keeps its key in the index with the top bit of member1
// set: no search matches it (members are below 2^31), and its own search can
// still be followed.
inline constexpr uint64_t kEliminatedBit = uint64_t{1} << 31;
inline bool is_eliminated(uint64_t key) { return (key & kEliminatedBit) != 0; }

// Marks the pair of `row` eliminated: member1 -1, so that no search finds it.
inline void eliminate_row(const PairTable& table, int32_t row) {
  Combination& c = table.rows[row];
  table.index->keys[table.index->slot_of(row)] =
      PairIndex::key_of(c.member1, c.member2) | kEliminatedBit;
  c.member1 = -1;
}

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
AddResult add_pair(TextIO& io, int32_t& first, int32_t& second, const PairTable& table,
                   int32_t& count, OnFull on_full = OnFull::Stop);
// Orders the caller's pair in place, then looks it up; 0 when absent.
int32_t find_pair(TextIO& io, int32_t& first, int32_t& second, const PairTable& table,
                  int32_t& count);

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

// The ancestor pairs of a record that have no 0 member, in position order:
// the position (0..7), the ordered pair and the first slot of its search.
struct References {
  int32_t position[8];
  int32_t key[8][2];
  uint32_t slot[8];
  int count = 0;
};

inline void collect_references(const PairTable& table, const Combination& record,
                               References& refs) {
  refs.count = 0;
  for (int n = 0; n < 8; ++n) {
    int32_t a = record.*kAncestorPairs[n].first;
    int32_t b = record.*kAncestorPairs[n].second;
    order_pair(a, b);
    if (a == 0 || b == 0) continue;
    refs.position[refs.count] = n;
    refs.key[refs.count][0] = a;
    refs.key[refs.count][1] = b;
    refs.slot[refs.count] = first_slot(table, a, b);
    prefetch_slot(table, refs.slot[refs.count]);
    ++refs.count;
  }
}

// What a search made ahead of its turn found: a row, none (0), or the probe
// limit (kSearchFull), which stops the run when its turn comes.
inline constexpr int32_t kSearchFull = -1;

// Rows of the table that one block of work takes (see make_and_write_blocks).
inline constexpr int32_t kRowsPerBlock = 1 << 16;
inline int64_t row_blocks(int32_t rows) { return (int64_t{rows} + kRowsPerBlock - 1) / kRowsPerBlock; }
inline int32_t block_first_row(int64_t b) { return static_cast<int32_t>(b * kRowsPerBlock + 1); }
inline int32_t block_last_row(int64_t b, int32_t rows) {
  return static_cast<int32_t>(std::min<int64_t>((b + 1) * kRowsPerBlock, rows));
}

// Calls visit(k, refs, found) for every row k of first_row..last_row that
// `wanted` takes, in row order, with the references of row k and found[i], the row that reference
// i names. The searches only look pairs up, so they are made ahead of their
// turn, their slots asked for before them and the rows found before the
// visit: `visit` must not store or remove pairs, nor change what `wanted`
// says of a row. `ahead(row)` is called when
// a row is taken into the look-ahead (to ask for its other data).
template <class Wanted, class Ahead, class Visit>
void for_each_row_found(TextIO& io, const PairTable& table, int32_t& count, int32_t first_row,
                        int32_t last_row, Wanted&& wanted, Ahead&& ahead, Visit&& visit) {
  constexpr int kDepth = 16;  // rows in the look-ahead
  constexpr int kLag = 8;     // rows between asking for the slots and searching them
  References refs[kDepth];
  int32_t found[kDepth][8];
  int32_t row[kDepth];
  bool searched[kDepth];
  int queued = 0;
  int head = 0;
  int32_t next = first_row;
  const Combination* const c = table.rows;
  auto search = [&](int at) {
    for (int i = 0; i < refs[at].count; ++i) {
      try {
        found[at][i] = find_row_from(io, refs[at].key[i], refs[at].slot[i], table, HashMode::Look,
                                     count, OnFull::Grow);
        if (found[at][i] != 0) __builtin_prefetch(&table.rows[found[at][i]]);
      } catch (const ClassTableFull&) {
        found[at][i] = kSearchFull;
      }
    }
    searched[at] = true;
  };
  while (true) {
    while (queued < kDepth && next <= last_row) {
      note_rows(next, table.row_count);
      if (wanted(c[next])) {
        const int at = (head + queued) % kDepth;
        collect_references(table, c[next], refs[at]);
        row[at] = next;
        searched[at] = false;
        ahead(c[next]);
        ++queued;
        if (queued > kLag) search((head + queued - 1 - kLag) % kDepth);
      }
      ++next;
    }
    if (queued == 0) return;
    if (!searched[head]) search(head);
    visit(row[head], refs[head], found[head]);
    head = (head + 1) % kDepth;
    --queued;
  }
}

}  // namespace parclas
